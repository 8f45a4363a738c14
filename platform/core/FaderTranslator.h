#pragma once
// FaderTranslator: the decibel law of a fader whose travel runs 0..1.
//
// Above the unity position the fader is linear in decibels, from 0 dB at
// unity to +max dB at the top (1). Below unity it is a power law in
// amplitude, gain = (position / unity)^k, chosen so that the position as far
// below unity as the top is above it (2 * unity - 1) reads -max dB, the
// mirror of the top, while the bottom (0) is silence:
//
//   dB(v) = max * (v - unity) / (1 - unity)        v >= unity
//   dB(v) = 20 * k * log10(v / unity)              v <  unity
//   k     = ln(10^(-max / 20)) / ln((2 * unity - 1) / unity)
//
// Silence reads kSilenceDecibels, a finite floor, so callers can print it
// as minus infinity (anything at or below -299 dB).

#include <algorithm>
#include <cmath>

namespace zoc::core {

template <class T>
class FaderTranslator {
public:
    /// The floor GetDecibelValue reports for the bottom of the fader.
    static constexpr T kSilenceDecibels = T(-300);

    /// `unity` is clamped to 0.51..0.9 and `maxDecibels` to 3..96 dB (NaN
    /// takes the lower bound).
    FaderTranslator(T unity, T maxDecibels)
        : unity_(Clamp(unity, T(0.51), T(0.9))), max_(Clamp(maxDecibels, T(3), T(96))),
          exponent_(std::log(std::pow(10.0, -static_cast<double>(max_) / 20.0)) /
                    std::log((2.0 * static_cast<double>(unity_) - 1.0) / static_cast<double>(unity_)))
    {
    }

    T GetUnityPosition() const { return unity_; }
    T GetMaxDecibels() const { return max_; }
    double GetExponent() const { return exponent_; }

    /// Decibels at fader position `position`; kSilenceDecibels at or below
    /// the bottom (and for NaN), never above +max.
    T GetDecibelValue(T position) const
    {
        const double v = static_cast<double>(position);
        if (!(v > 0.0))
            return kSilenceDecibels;
        const double unity = static_cast<double>(unity_);
        if (v >= unity)
            return static_cast<T>(static_cast<double>(max_) * (std::min(v, 1.0) - unity) / (1.0 - unity));
        const double decibels = 20.0 * exponent_ * std::log10(v / unity);
        return static_cast<T>(std::max(decibels, static_cast<double>(kSilenceDecibels)));
    }

    /// The fader position that reads `decibels`, clamped to 0..1; 0 at or
    /// below kSilenceDecibels and for NaN.
    T GetNormalizedValue(T decibels) const
    {
        const double d = static_cast<double>(decibels);
        if (!(d > static_cast<double>(kSilenceDecibels)))
            return T(0);
        const double unity = static_cast<double>(unity_);
        const double position = d >= 0.0 ? unity + d * (1.0 - unity) / static_cast<double>(max_)
                                         : unity * std::pow(10.0, d / (20.0 * exponent_));
        return static_cast<T>(std::clamp(position, 0.0, 1.0));
    }

private:
    static T Clamp(T value, T lo, T hi) { return std::isnan(value) ? lo : std::clamp(value, lo, hi); }

    T unity_;
    T max_;
    double exponent_;
};

} // namespace zoc::core
