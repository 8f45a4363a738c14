#pragma once
// The curves components draw for their settings (an equalizer's response, a
// dynamics processor's transfer curve), with the axis they are drawn over.
// The zoc command, the public Effect class and the bindings all draw through
// here, so a curve and its abscissa are the same everywhere.

#include <cstddef>
#include <string>

#include <zoc/zoc.h>

#include "contracts/host/AudioFilter.h"

namespace zoc::api {

/// The curve `filter` (registered as `className`) draws at `count` points
/// for its current settings, at the rate it is configured for: its values,
/// and its abscissa where the component's axis is known. False when it draws
/// nothing; `hasCurve` then tells whether it draws curves at all (a curve
/// without points is still a curve).
bool DrawCurve(host::AudioFilter& filter, const std::string& className, std::size_t count, Curve& curve,
               bool& hasCurve);

} // namespace zoc::api
