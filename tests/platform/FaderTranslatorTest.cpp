// The fader law: its anchor points and an exact inverse.

#include "platform/core/FaderTranslator.h"

#include <cmath>

#include <gtest/gtest.h>

namespace zoc::core {
namespace {

TEST(FaderTranslatorTest, AnchorsAndRoundTrips)
{
    struct Case {
        float unity, maxDecibels;        // as given
        float clampedUnity, clampedMax;  // as the fader uses them
    };
    for (const Case& c : {Case{0.65f, 15.0f, 0.65f, 15.0f}, Case{0.75f, 6.0f, 0.75f, 6.0f},
                          Case{0.2f, 200.0f, 0.51f, 96.0f}, Case{0.95f, 1.0f, 0.9f, 3.0f}}) {
        const FaderTranslator<float> fader(c.unity, c.maxDecibels);
        const float mirror = 2.0f * c.clampedUnity - 1.0f;
        EXPECT_FLOAT_EQ(fader.GetDecibelValue(c.clampedUnity), 0.0f);
        EXPECT_FLOAT_EQ(fader.GetDecibelValue(1.0f), c.clampedMax);
        EXPECT_NEAR(fader.GetDecibelValue(mirror), -c.clampedMax, 1e-4f);
        EXPECT_LE(fader.GetDecibelValue(0.0f), -299.0f);
        EXPECT_EQ(fader.GetNormalizedValue(-INFINITY), 0.0f);
        EXPECT_EQ(fader.GetNormalizedValue(c.clampedMax + 10.0f), 1.0f);
        // Gains are a power of position below unity: halving the position
        // always costs the same number of decibels.
        const float halving = fader.GetDecibelValue(0.5f * mirror) - fader.GetDecibelValue(mirror);
        EXPECT_NEAR(fader.GetDecibelValue(0.25f * mirror) - fader.GetDecibelValue(0.5f * mirror), halving, 1e-3f);
        for (float position = 0.01f; position <= 1.0f; position += 0.01f)
            ASSERT_NEAR(fader.GetNormalizedValue(fader.GetDecibelValue(position)), position, 2e-6f) << position;
    }
}

} // namespace
} // namespace zoc::core
