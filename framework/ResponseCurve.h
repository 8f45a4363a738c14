#pragma once
// The response curves equalizers draw for the host's graph: magnitudes in dB
// at points spaced logarithmically from 20 Hz towards Nyquist,
//   f(k) = 20 Hz * (Nyquist / 20 Hz)^(k / count),  k = 0 .. count - 1.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace zoc {

/// The lowest frequency of a response curve.
constexpr double kResponseCurveLowestFrequency = 20.0;
/// Magnitudes are drawn down to this (-300 dB) so silence stays finite.
constexpr double kResponseCurveFloor = 1e-15;

/// The frequency of point `k` of `count` at `sampleRate`.
inline double ResponseCurveFrequency(std::size_t k, std::size_t count, double sampleRate)
{
    const double nyquist = sampleRate / 2.0;
    return kResponseCurveLowestFrequency *
           std::pow(nyquist / kResponseCurveLowestFrequency, static_cast<double>(k) / static_cast<double>(count));
}

/// Fills `curve` with 20 log10 of `magnitude(frequency)` (linear) at the
/// `count` points; false, and an empty curve, for no points.
template <class Magnitude>
bool DrawResponseCurve(std::size_t count, double sampleRate, Magnitude&& magnitude, std::vector<float>& curve)
{
    curve.clear();
    if (count == 0)
        return false;
    curve.resize(count);
    for (std::size_t k = 0; k < count; ++k) {
        const double linear = magnitude(ResponseCurveFrequency(k, count, sampleRate));
        curve[k] = static_cast<float>(20.0 * std::log10(std::max(linear, kResponseCurveFloor)));
    }
    return true;
}

} // namespace zoc
