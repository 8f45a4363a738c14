#include "dsp/Denormals.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

using zoc::dsp::AllFinite;

#if defined(__SSE__) || defined(__x86_64__)
// Inside the guard a denormal input reads as zero and a denormal result
// becomes zero; outside it both behave as IEEE says, and the caller's mode
// is back as it was.
TEST(Denormals, FlushedOnlyWhileTheGuardLives)
{
    volatile float smallest = std::numeric_limits<float>::min(); // smallest normal
    volatile float denormal = std::numeric_limits<float>::denorm_min() * 4.0f;
    const unsigned before = _mm_getcsr();
    {
        zoc::dsp::ScopedFlushDenormals guard;
        EXPECT_EQ(smallest + denormal, smallest); // the denormal input counts as 0
        // The denormal result is flushed: its bits, as a comparison would
        // read a denormal as 0 anyway.
        EXPECT_EQ(std::bit_cast<std::uint32_t>(smallest * 0.5f), 0u);
    }
    EXPECT_EQ(_mm_getcsr(), before);
    EXPECT_GT(smallest + denormal, smallest);
    EXPECT_GT(smallest * 0.5f, 0.0f);
}
#endif

TEST(Denormals, AllFiniteFindsAnyNonFiniteValue)
{
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    constexpr float kInf = std::numeric_limits<float>::infinity();
    const struct {
        std::vector<float> values;
        bool finite;
    } cases[] = {
        {{}, true},
        {{0.0f, -1.0f, 1e30f, std::numeric_limits<float>::denorm_min()}, true},
        {{kNaN, 1.0f}, false},
        {{1.0f, kInf}, false},
        {{-kInf}, false},
        {{1, 2, 3, kNaN, 5, 6, 7, 8}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AllFinite(std::span<const float>(c.values)), c.finite) << c.values.size();
}

} // namespace
