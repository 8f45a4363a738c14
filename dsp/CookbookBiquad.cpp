// Cookbook equalizer sections.

#include "dsp/CookbookBiquad.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zoc::dsp {

BiquadCoefficients NormalizedBiquad(double b0, double b1, double b2, double a0, double a1, double a2)
{
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

BiquadCoefficients PeakingBiquad(double w0, double decibels, double alpha)
{
    const double amplitude = std::pow(10.0, decibels / 40.0);
    const double cosine = std::cos(w0);
    return NormalizedBiquad(1.0 + alpha * amplitude, -2.0 * cosine, 1.0 - alpha * amplitude, 1.0 + alpha / amplitude,
                            -2.0 * cosine, 1.0 - alpha / amplitude);
}

BiquadCoefficients ShelvingBiquad(bool high, double w0, double decibels, double slope)
{
    const double a = std::pow(10.0, decibels / 40.0);
    const double cosine = std::cos(w0);
    // 2 sqrt(A) alpha, with alpha = sin(w0)/2 sqrt((A + 1/A)(1/S - 1) + 2);
    // the last factor is exactly 1 for S = 1. Slopes that would make the
    // root imaginary are held at the steepest real one.
    const double shape = std::max(0.0, ((a + 1.0 / a) * (1.0 / slope - 1.0) + 2.0) / 2.0);
    const double twoRootAlpha = 2.0 * std::sqrt(a) * std::sin(w0) / std::numbers::sqrt2 * std::sqrt(shape);
    if (high)
        return NormalizedBiquad(a * ((a + 1) + (a - 1) * cosine + twoRootAlpha),
                                -2.0 * a * ((a - 1) + (a + 1) * cosine),
                                a * ((a + 1) + (a - 1) * cosine - twoRootAlpha),
                                (a + 1) - (a - 1) * cosine + twoRootAlpha, 2.0 * ((a - 1) - (a + 1) * cosine),
                                (a + 1) - (a - 1) * cosine - twoRootAlpha);
    return NormalizedBiquad(a * ((a + 1) - (a - 1) * cosine + twoRootAlpha), 2.0 * a * ((a - 1) - (a + 1) * cosine),
                            a * ((a + 1) - (a - 1) * cosine - twoRootAlpha),
                            (a + 1) + (a - 1) * cosine + twoRootAlpha, -2.0 * ((a - 1) + (a + 1) * cosine),
                            (a + 1) + (a - 1) * cosine - twoRootAlpha);
}

BiquadCoefficients FirstOrderShelf(bool high, double w0, double decibels)
{
    const double root = std::pow(10.0, decibels / 40.0); // sqrt of the linear gain
    const double k = std::tan(w0 / 2.0);
    if (high)
        return NormalizedBiquad(root * root + k * root, k * root - root * root, 0.0, 1.0 + k * root, k * root - 1.0,
                                0.0);
    return NormalizedBiquad(1.0 + k * root, k * root - 1.0, 0.0, 1.0 + k / root, k / root - 1.0, 0.0);
}

BiquadCoefficients NotchBiquad(double w0, double alpha)
{
    const double cosine = std::cos(w0);
    return NormalizedBiquad(1.0, -2.0 * cosine, 1.0, 1.0 + alpha, -2.0 * cosine, 1.0 - alpha);
}

} // namespace zoc::dsp
