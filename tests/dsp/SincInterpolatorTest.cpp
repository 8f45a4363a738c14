#include "dsp/SincInterpolator.h"

#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Measure.h"

using zoc::dsp::SincInterpolator;

// A read at offset t returns the signal at position + t, 0.285 dB down: on
// sines up to 0.4 of the sample rate, inside a phase, on row boundaries,
// between the last phase and the next frame, and at 1.
TEST(SincInterpolator, ReadsSinesBetweenTheirSamples)
{
    const SincInterpolator interpolator(240);
    for (double frequency : {0.01, 0.1, 0.25, 0.4}) {
        const double omega = 2.0 * std::numbers::pi * frequency;
        std::vector<float> sine(200);
        for (std::size_t n = 0; n < sine.size(); ++n)
            sine[n] = static_cast<float>(std::sin(omega * static_cast<double>(n) + 0.3));
        double worst = 0.0;
        for (int position = 40; position < 160; ++position) {
            for (double offset : {0.0, 0.3, 0.5, 121.0 / 240, 239.6 / 240, 1.0}) {
                const double expected = zoc::test::FromDb(-0.285) * std::sin(omega * (position + offset) + 0.3);
                worst = std::fmax(worst, std::fabs(interpolator.Read(sine.data() + position, offset) - expected));
            }
        }
        EXPECT_LT(worst, 0.005) << "at " << frequency << " of the sample rate";
    }
}

// Sweeping the offset never jumps, even on white noise: not across a row
// boundary, not from the last row into the next frame, not at an offset of 1.
TEST(SincInterpolator, ReadsAreContinuousInTheOffset)
{
    const SincInterpolator interpolator(240);
    const std::vector<float> noise = zoc::test::Noise(64, 7);
    const float* position = noise.data() + 24;
    for (int boundary : {1, 120, 239, 240}) {
        const double offset = boundary / 240.0;
        EXPECT_NEAR(interpolator.Read(position, offset - 1e-9), interpolator.Read(position, offset), 1e-5)
            << "at phase " << boundary;
    }
    EXPECT_EQ(interpolator.Read(position, 1.0), interpolator.Read(position + 1, 0.0));
}
