#pragma once
// Base-2 logarithm and exponential in single precision without calls into
// the math library: straight-line code the compiler can vectorize, for
// per-bin spectral work where a relative error of about 1e-6 is plenty.
// The same input gives the same output on every run and every thread.

#include <bit>
#include <cstdint>

namespace zoc::dsp {

/// log2(x) for x > 0, within about 2e-6 (relative where |log2 x| > 1). Never returns a non-finite value:
/// 0 and denormals give about -127, +infinity gives 128.
inline float FastLog2(float x)
{
    const auto bits = std::bit_cast<std::uint32_t>(x);
    const auto exponent = static_cast<float>(static_cast<int>(bits >> 23) - 127);
    // Mantissa m in [1, 2): log2(m) = 2/ln2 * atanh(s), s = (m - 1)/(m + 1) < 1/3.
    const float mantissa = std::bit_cast<float>((bits & 0x007FFFFFu) | 0x3F800000u);
    const float s = (mantissa - 1.0f) / (mantissa + 1.0f);
    const float s2 = s * s;
    const float series = s * (1.0f + s2 * (1.0f / 3.0f + s2 * (1.0f / 5.0f + s2 * (1.0f / 7.0f + s2 * (1.0f / 9.0f)))));
    return exponent + 2.88539008f * series; // 2 / ln 2
}

/// 2^x within about 2e-6 relative; x is clamped to [-126, 126], so the
/// result is always a finite normal number.
inline float FastExp2(float x)
{
    x = x < -126.0f ? -126.0f : (x > 126.0f ? 126.0f : x);
    int whole = static_cast<int>(x); // toward zero; floor below
    whole = x < static_cast<float>(whole) ? whole - 1 : whole;
    const float f = x - static_cast<float>(whole); // [0, 1)
    // 2^f = e^(f ln2), Taylor series to the seventh power.
    const float t = f * 0.693147181f;
    const float power =
        1.0f + t * (1.0f + t * (0.5f + t * (1.0f / 6.0f + t * (1.0f / 24.0f + t * (1.0f / 120.0f +
                                                                              t * (1.0f / 720.0f + t / 5040.0f))))));
    return power * std::bit_cast<float>(static_cast<std::uint32_t>(whole + 127) << 23);
}

} // namespace zoc::dsp
