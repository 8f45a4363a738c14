#include "effects/dynamics/Amplify.h"

#include <cmath>

#include <gtest/gtest.h>

#include "platform/core/String.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using test::Signal;

float Normalized(float decibels) { return (decibels + 96.0f) / 144.0f; }
float Linear(float decibels) { return std::pow(10.0f, decibels / 20.0f); }

struct AmplifyFixture : ::testing::Test {
    core::Ref<Amplify> amplify{new Amplify};
    test::TestHost host{amplify};
};

TEST_F(AmplifyFixture, NamesOneGainPerChannelOfTheLayout)
{
    for (const auto& [channels, last] : {std::pair{1u, "Gain"}, {2u, "Right"}, {6u, "Right Surround"}, {3u, "3"}}) {
        host.Configure(channels, 48000.0f);
        EXPECT_EQ(core::ToUtf8(amplify->GetParameterInfo(static_cast<int>(channels) + 1)->GetName()), last);
        EXPECT_FALSE(amplify->GetParameterInfo(static_cast<int>(channels) + 2));
        EXPECT_NEAR(amplify->GetParameter(0), static_cast<float>(channels) / 32.0f, 1e-7f);
    }
}

TEST_F(AmplifyFixture, PresetsMultiplyEveryChannelAfterResume)
{
    host.Configure(8, 48000.0f);
    amplify->SetFactoryPreset(4); // +6dB Boost, stored as 0.708333
    const Signal out = host.Run(test::ConstantSignal(8, 1000, 0.25f), 256);
    const float gain = std::pow(10.0f, (-96.0f + 0.708333f * 144.0f) / 20.0f);
    for (const auto& channel : out)
        for (float sample : channel)
            ASSERT_FLOAT_EQ(sample, 0.25f * gain);
}

TEST_F(AmplifyFixture, RampTakesTenMillisecondsAndLandsOnTheTarget)
{
    for (float rate : {44100.0f, 48000.0f}) {
        const int rampLength = rate == 44100.0f ? 441 : 480;
        host.Configure(2, rate);
        amplify->SetParameter(2, Normalized(0.0f));
        amplify->SetParameter(3, Normalized(0.0f));
        // Blocks shorter than the ramp: the ramp carries on across them.
        const Signal output = host.RunInBlocks(test::ConstantSignal(2, 1200, 1.0f), 100, [&](std::size_t from) {
            if (from == 0) // after the resume
                amplify->SetParameter(2, Normalized(-6.0f));
        });

        const float target = Linear(-6.0f);
        const float step = (target - 1.0f) / static_cast<float>(rampLength);
        EXPECT_EQ(output[0][0], 1.0f);
        EXPECT_NEAR(output[0][1], 1.0f + step, 1e-6f);
        EXPECT_NEAR(output[0][static_cast<std::size_t>(rampLength / 2)], 1.0f + step * static_cast<float>(rampLength / 2),
                    1e-5f);
        EXPECT_NE(output[0][static_cast<std::size_t>(rampLength - 1)], target);
        for (std::size_t i = static_cast<std::size_t>(rampLength); i < 1200; ++i)
            ASSERT_EQ(output[0][i], target) << "frame " << i << " at " << rate;
        // The other channel never moved.
        for (float sample : output[1])
            ASSERT_EQ(sample, 1.0f);
    }
}

TEST_F(AmplifyFixture, ChangeDuringARampStartsFromTheGainReached)
{
    host.Configure(1, 48000.0f);
    host.Resume();
    amplify->SetParameter(2, Normalized(-20.0f));
    Signal input = test::ConstantSignal(1, 1000, 1.0f);
    Signal output = input;
    host.ProcessBlock(input, output, 0, 240); // half way down
    const float reached = output[0][239] + (Linear(-20.0f) - 1.0f) / 480.0f;

    amplify->SetParameter(2, Normalized(0.0f));
    host.ProcessBlock(input, output, 240, 760);
    EXPECT_NEAR(output[0][240], reached, 1e-5f);
    const float step = (1.0f - reached) / 480.0f;
    EXPECT_NEAR(output[0][241], reached + step, 1e-5f);
    EXPECT_EQ(output[0][240 + 480], 1.0f);
}

// The slider's ends are -96 dB (quiet, not silent) and +48 dB; a NaN
// leaves the gain as it was.
TEST_F(AmplifyFixture, GainRangeEndsAndNaNIsIgnored)
{
    host.Configure(2, 48000.0f);
    amplify->SetParameter(2, 0.0f);
    EXPECT_NEAR(host.Run(test::ConstantSignal(2, 16, 1.0f))[0][5], 1.58489e-5f, 1e-9f);
    amplify->SetParameter(2, Normalized(0.0f));
    amplify->SetParameter(2, std::nanf(""));
    EXPECT_NEAR(amplify->GetParameter(2), Normalized(0.0f), 1e-6f);
    amplify->SetParameter(2, 7.0f);
    EXPECT_NEAR(host.Run(test::ConstantSignal(2, 8, 0.001f))[0][0], 0.001f * Linear(48.0f), 1e-6f);
}

TEST_F(AmplifyFixture, SliderDragLinksOnlyWhenEditing)
{
    host.Configure(2, 48000.0f);
    // Automation and presets address one channel.
    amplify->SetParameterAutomated(2, Normalized(6.0f));
    EXPECT_NEAR(amplify->GetParameter(3), Normalized(0.0f), 1e-6f);

    // A drag moves every channel, even those the layout lacks.
    amplify->BeginEditing(3);
    amplify->SetParameter(3, Normalized(-3.0f));
    amplify->EndEditing(3);
    EXPECT_NEAR(amplify->GetParameter(2), Normalized(-3.0f), 1e-6f);
    EXPECT_NEAR(amplify->GetParameter(33), Normalized(-3.0f), 1e-6f);

    // With the link off, a drag moves one channel, and absent channels read 0 dB.
    amplify->SetParameter(1, 0.0f);
    amplify->BeginEditing(2);
    amplify->SetParameter(2, Normalized(-12.0f));
    amplify->EndEditing(2);
    EXPECT_NEAR(amplify->GetParameter(3), Normalized(-3.0f), 1e-6f);
    EXPECT_NEAR(amplify->GetParameter(5), 0.666667f, 1e-6f);
    // The link switch turns on from half way.
    for (const auto& [value, linked] : {std::pair{0.49f, 0.0f}, std::pair{0.5f, 1.0f}}) {
        amplify->SetParameter(1, value);
        EXPECT_EQ(amplify->GetParameter(1), linked) << value;
    }
}

TEST_F(AmplifyFixture, LoadingSettingsNeverLinks)
{
    host.Configure(2, 48000.0f);
    host::PresetData settings;
    amplify->SaveSettings(settings);
    std::vector<float> params = settings.GetParamList();
    params[2] = Normalized(12.0f);
    settings.SetParamList(params);

    amplify->BeginEditing(2); // even with a drag under way
    ASSERT_TRUE(amplify->LoadSettings(settings));
    amplify->EndEditing(2);
    EXPECT_NEAR(amplify->GetParameter(2), Normalized(12.0f), 1e-6f);
    EXPECT_NEAR(amplify->GetParameter(3), Normalized(0.0f), 1e-6f);
}

} // namespace
} // namespace zoc::components
