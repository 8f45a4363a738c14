#include "dsp/FastMath.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

using zoc::dsp::FastExp2;
using zoc::dsp::FastLog2;

TEST(FastMath, LogarithmAndExponentialTrackTheLibraryAndStayFiniteAtTheEdges)
{
    double worstLog = 0.0, worstExp = 0.0;
    for (double x = 1e-30; x < 1e30; x *= 1.0137) {
        const auto value = static_cast<float>(x);
        const double exact = std::log2(static_cast<double>(value));
        // Absolute near 0, relative further out, where float spacing grows.
        worstLog = std::max(worstLog, std::fabs(FastLog2(value) - exact) / std::max(1.0, std::fabs(exact)));
    }
    for (double x = -125.9; x < 125.9; x += 0.0173) {
        const auto value = static_cast<float>(x);
        const double exact = std::exp2(static_cast<double>(value));
        worstExp = std::max(worstExp, std::fabs(FastExp2(value) - exact) / exact);
    }
    EXPECT_LT(worstLog, 4e-6);
    EXPECT_LT(worstExp, 4e-6);
    // Exact at the powers of two, where spectral ratios of equal channels land.
    for (int e = -20; e <= 20; ++e) {
        EXPECT_EQ(FastLog2(std::ldexp(1.0f, e)), static_cast<float>(e));
        EXPECT_EQ(FastExp2(static_cast<float>(e)), std::ldexp(1.0f, e));
    }
    // The edges stay finite.
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    EXPECT_NEAR(FastLog2(0.0f), -127.0f, 1e-3f);
    EXPECT_NEAR(FastLog2(std::numeric_limits<float>::denorm_min()), -127.0f, 1.0f);
    EXPECT_EQ(FastLog2(kInfinity), 128.0f);
    EXPECT_EQ(FastExp2(-kInfinity), std::ldexp(1.0f, -126));
    EXPECT_TRUE(std::isfinite(FastExp2(kInfinity)));
    EXPECT_EQ(FastExp2(0.0f), 1.0f);
    EXPECT_NEAR(FastExp2(-0.5f), std::sqrt(0.5f), 2e-6f);
}

} // namespace
