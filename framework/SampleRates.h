#pragma once
// The sample rates components accept. Components size lines, tables and
// FFTs from the rate, so an absurd value from a host must never reach them.

#include <algorithm>
#include <cmath>
#include <optional>

namespace zoc {

inline constexpr float kMinSampleRate = 1.0f;
inline constexpr float kMaxSampleRate = 768000.0f;

/// The rate to work at for one a host passed: clamped to kMinSampleRate ..
/// kMaxSampleRate; nullopt (keep the current rate) for NaN, infinity or a
/// rate that is not positive.
inline std::optional<float> AcceptedSampleRate(float rate)
{
    if (!std::isfinite(rate) || rate <= 0.0f)
        return std::nullopt;
    return std::clamp(rate, kMinSampleRate, kMaxSampleRate);
}

} // namespace zoc
