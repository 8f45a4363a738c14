#pragma once
// The curve a component draws for its settings: a dynamics transfer curve,
// an equalizer's response, an envelope's gain over time. `zoc curve` prints
// or plots it; `zoc demo` plots it beside each component's sound.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Keyframes.h"
#include "tools/zoc/SvgPlot.h"

namespace zoc::tool {

/// The settings to draw a curve for, applied in this order.
struct CurveRequest {
    std::optional<std::string> preset;
    std::string loadSettings;
    std::vector<SettingText> settings;
    std::optional<std::vector<KeyframeEntry>> keyframes;
    /// Envelopes only: drawn over this many seconds (without it over the
    /// position 0..1).
    std::optional<double> seconds;
    std::size_t points = 101;
};

struct CurveData {
    std::string title; ///< the component's
    enum class Kind { kTransfer, kResponse, kEnvelope, kOther };
    Kind kind = Kind::kOther;
    std::string xLabel; ///< "input dB", "Hz", "seconds", "position" or "index"
    std::string yLabel;
    std::vector<double> x; ///< the abscissa of each value
    std::vector<float> values;
};

/// The curve for these settings; nullopt when the component draws none with
/// them. Usage errors for settings that do not fit the component.
std::optional<CurveData> DrawCurve(const Component& component, const CurveRequest& request);

/// True when the component draws a curve for some settings (some settings
/// may still leave it without points).
bool HasCurve(const Component& component);

/// The curve as a plot with axes that suit its kind (both dB axes from -100
/// to 0 for a transfer curve, log frequency for a response).
Plot CurvePlot(const CurveData& curve);

} // namespace zoc::tool
