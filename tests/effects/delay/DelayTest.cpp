#include "effects/delay/Delay.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using test::Signal;

float DelayFraction(double milliseconds) { return static_cast<float>((milliseconds + 500.0) / 1000.0); }
float MixFraction(float percent) { return percent / 100.0f; }
constexpr float kOn = 1.0f;
constexpr float kOff = 0.0f;

struct DelayFixture : ::testing::Test {
    core::Ref<Delay> delay{new Delay};
    test::TestHost host{delay};

    void SetLeft(double milliseconds, float mixPercent, bool invert)
    {
        delay->SetParameter(Delay::kLeftDelayTime, DelayFraction(milliseconds));
        delay->SetParameter(Delay::kLeftMix, MixFraction(mixPercent));
        delay->SetParameter(Delay::kLeftInvert, invert ? kOn : kOff);
    }
};

TEST_F(DelayFixture, SelectorsRound)
{
    host.Configure(1, 44100.0f);
    EXPECT_FLOAT_EQ(delay->GetParameter(Delay::kNumChannels), 1.0f / 32.0f);

    // The time unit is a whole number: 1.5 rounds down, anything above up.
    delay->SetParameter(Delay::kTimeUnit, 0.75f);
    EXPECT_EQ(delay->GetParameter(Delay::kTimeUnit), 0.5f);
    delay->SetParameter(Delay::kTimeUnit, 0.76f);
    EXPECT_EQ(delay->GetParameter(Delay::kTimeUnit), 1.0f);
}

TEST_F(DelayFixture, DrySignalComesOutHalfALineLate)
{
    // Before any lines exist the latency follows the rate; afterwards it is
    // half the lines in use, until a reset rebuilds them for a new rate.
    host.Configure(1, 48000.0f);
    EXPECT_EQ(delay->GetInitialDelay(), 24100);
    host.Run(test::ConstantSignal(1, 16, 0.0f));
    host.Configure(1, 44100.0f);
    EXPECT_EQ(delay->GetInitialDelay(), 24100);
    for (float rate : {44100.0f, 48000.0f}) {
        const std::size_t latency = rate == 44100.0f ? 22150 : 24100;
        host.Configure(1, rate);
        const Signal input = test::SineSignal(1, latency + 3000, rate, 997.0f);
        // Dry only, then a copy at 0 ms with full mix: the same, exactly.
        for (float mix : {0.0f, 100.0f}) {
            SetLeft(mix == 0.0f ? 250.0 : 0.0, mix, false);
            const Signal output = host.Run(input, 480);
            EXPECT_EQ(delay->GetInitialDelay(), static_cast<int>(latency));
            for (std::size_t i = 0; i < output[0].size(); ++i)
                ASSERT_EQ(output[0][i], i < latency ? 0.0f : input[0][i - latency]) << "frame " << i;
        }
    }
    // A copy at 0 ms, inverted at 50 % mix, cancels the dry signal.
    SetLeft(0.0, 50.0f, true);
    const Signal cancelled = host.Run(test::SineSignal(1, 26000, 48000.0f, 440.0f));
    EXPECT_EQ(test::MaxDifference(cancelled, test::ConstantSignal(1, 26000, 0.0f)), 0.0f);
}

TEST_F(DelayFixture, DelaysRoundToTheNearestFrameByAddingHalf)
{
    host.Configure(1, 44100.0f);
    const Signal impulse = test::ImpulseSignal(1, 44400);
    // (requested delay in frames at 44100 Hz, where the copy lands after the input)
    for (const auto& [frames, expected] : {std::pair{-22050.0, 101u}, {22050.0, 44200u}, {-0.7, 22150u},
                                           {-1.7, 22149u}, {1.7, 22152u}, {1.4, 22151u}}) {
        SetLeft(frames / 44.1, 100.0f, false);
        EXPECT_EQ(test::FirstAbove(host.Run(impulse)[0]), expected) << frames << " frames";
    }
}

TEST_F(DelayFixture, StereoSidesAreIndependentAndOtherLayoutsUseTheLeft)
{
    // Wide Max Delay: left half a second early and inverted, right half a second late.
    host.Configure(2, 44100.0f);
    delay->SetFactoryPreset(13);
    Signal output = host.Run(test::ImpulseSignal(2, 44400));
    EXPECT_EQ(test::FirstAbove(output[0]), 101u);
    EXPECT_NEAR(output[0][101], -0.5f, 1e-6f);
    EXPECT_EQ(test::FirstAbove(output[1]), 22150u);
    EXPECT_NEAR(output[1][44200], 0.5f, 1e-6f);

    host.Configure(6, 44100.0f);
    output = host.Run(test::ImpulseSignal(6, 44400));
    for (const auto& channel : output) {
        EXPECT_EQ(test::FirstAbove(channel), 101u);
        EXPECT_NEAR(channel[101], -0.5f, 1e-6f);
    }
}

// Constant input 1 with full mix: the output is 1 with the invert off and -1
// with it on, so each settings set shows as its own level.
struct DelayFadeFixture : DelayFixture {
    static constexpr int kFade = 4800; // 0.1 s at 48 kHz
    static constexpr std::size_t kSettled = 30000;
    Signal input = test::ConstantSignal(1, 60000, 1.0f);
    Signal output = input;

    void SetUp() override
    {
        host.Configure(1, 48000.0f);
        SetLeft(10.0, 100.0f, false);
        host.Resume();
        Process(0, kSettled);
    }
    void Process(std::size_t from, std::size_t to)
    {
        host.ProcessBlock(input, output, from, static_cast<int>(to - from));
    }
};

TEST_F(DelayFadeFixture, ChangesFadeLinearlyAndOnlyTheLatestWaits)
{
    delay->SetParameter(Delay::kLeftInvert, kOn); // towards -1
    Process(kSettled, kSettled + kFade / 2);
    delay->SetParameter(Delay::kLeftMix, MixFraction(50.0f)); // would be 0; replaced
    Process(kSettled + kFade / 2, kSettled + kFade / 2 + 10);
    delay->SetParameter(Delay::kLeftMix, MixFraction(25.0f)); // 1 - 2 * 0.25 = 0.5
    Process(kSettled + kFade / 2 + 10, kSettled + 3 * kFade);

    // Over 0.1 s each: to -1, then straight on to 0.5; 0 never sounds.
    for (int k = 0; k < kFade; ++k) {
        ASSERT_NEAR(output[0][kSettled + static_cast<std::size_t>(k)], 1.0f - 2.0f * k / kFade, 1e-5f) << k;
        ASSERT_NEAR(output[0][kSettled + static_cast<std::size_t>(kFade + k)], -1.0f + 1.5f * k / kFade, 1e-5f)
            << k;
    }
    for (std::size_t i = kSettled + 2 * kFade; i < kSettled + 3 * kFade; ++i)
        ASSERT_EQ(output[0][i], 0.5f);
}

// Process renders runs of frames cut at block ends, fade ends and the line's
// wrap-around, and short enough that a tap ahead of the dry signal never
// reads what the run writes later; where they fall must not show. At 48000
// the left side fades to reading half a second ahead, across a wrap, and a
// second change waits for that fade to end.
TEST_F(DelayFixture, BlockSizeDoesNotChangeTheOutput)
{
    host.Configure(2, 48000.0f);
    Signal input = test::SineSignal(2, 60000, 48000.0f, 523.0f, 0.5f);
    for (std::size_t i = 0; i < input[1].size(); i += 997)
        input[1][i] = 0.9f;
    const auto render = [&](std::size_t block) {
        SetLeft(-120.0, 60.0f, false);
        delay->SetParameter(Delay::kRightDelayTime, DelayFraction(499.0));
        return host.RunInBlocks(input, block, [&](std::size_t from) {
            if (from == 48000)
                SetLeft(-500.0, 80.0f, true);
            if (from == 51000)
                delay->SetParameter(Delay::kRightDelayTime, DelayFraction(-3.0));
        });
    };
    const Signal reference = render(1);
    for (std::size_t block : {3, 50, 1000})
        EXPECT_EQ(test::MaxDifference(render(block), reference), 0.0f) << "blocks of " << block;
}

} // namespace
} // namespace zoc::components
