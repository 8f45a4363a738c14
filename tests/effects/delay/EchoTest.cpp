#include "effects/delay/Echo.h"

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using test::Signal;

float DelayFraction(double milliseconds) { return static_cast<float>(milliseconds / 2000.0); }
float PercentFraction(double percent) { return static_cast<float>((percent - 0.1) / 99.9); }
float DecibelFraction(double decibels) { return static_cast<float>((decibels + 15.0) / 30.0); }
constexpr float kOn = 1.0f;

/// Indexes and values of the non-zero samples of a channel.
std::vector<std::pair<std::size_t, float>> Sounds(const std::vector<float>& channel)
{
    std::vector<std::pair<std::size_t, float>> sounds;
    for (std::size_t i = 0; i < channel.size(); ++i)
        if (channel[i] != 0.0f)
            sounds.emplace_back(i, channel[i]);
    return sounds;
}

struct EchoFixture : ::testing::Test {
    core::Ref<Echo> echo{new Echo};
    test::TestHost host{echo};

    /// The real value a parameter holds, as the processing sees it.
    float Real(int index) { return echo->GetParameterInfo(index)->FromNormalized(echo->GetParameter(index)); }

    void SetSide(int side, double milliseconds, double feedbackPercent, double levelPercent)
    {
        echo->SetParameter(Echo::kDelayLeft + side, DelayFraction(milliseconds));
        echo->SetParameter(Echo::kDecayLeft + side, PercentFraction(feedbackPercent));
        echo->SetParameter(Echo::kInitEchoLeft + side, PercentFraction(levelPercent));
    }
    void SetBands(const std::array<double, 8>& decibels)
    {
        for (int band = 0; band < 8; ++band)
            echo->SetParameter(Echo::kEQGain1 + band, DecibelFraction(decibels[static_cast<std::size_t>(band)]));
    }
    void SetFlat() { SetBands({0, 0, 0, 0, 0, 0, 0, 0}); }
    /// Flat bands; left 100 ms at 80 %, right 30 ms at 40 %, both with 50 % feedback.
    void SetTwoSides()
    {
        SetSide(0, 100.0, 50.0, 80.0); // 4800 frames
        SetSide(1, 30.0, 50.0, 40.0);  // 1440 frames
        SetFlat();
    }
};

TEST_F(EchoFixture, FlatBandsRepeatTheImpulseScaledByFeedback)
{
    host.Configure(1, 48000.0f);
    SetSide(0, 100.0, 50.0, 80.0);
    SetFlat();
    auto sounds = Sounds(host.Run(test::ImpulseSignal(1, 4800 * 5 + 1))[0]);
    // Flat bands bypass the equalizer: each repeat is one sample, exactly.
    ASSERT_EQ(sounds.size(), 6u);
    float repeat = Real(Echo::kInitEchoLeft) / 100.0f;
    for (std::size_t k = 1; k < sounds.size(); ++k) {
        repeat *= Real(Echo::kDecayLeft) / 100.0f;
        EXPECT_EQ(sounds[k], std::make_pair(4800 * k, repeat)) << "repeat " << k;
    }

    // A delay of 0 ms reads the oldest frame of the line: 2 s + 200 frames.
    host.Configure(1, 44100.0f);
    SetSide(0, 0.0, 50.0, 100.0);
    sounds = Sounds(host.Run(test::ImpulseSignal(1, 88401), 1000)[0]);
    ASSERT_EQ(sounds.size(), 2u);
    EXPECT_EQ(sounds[1].first, 88400u);
}

TEST_F(EchoFixture, BandsShapeEveryRepeat)
{
    // The averages all pass DC and the first one nulls the Nyquist frequency,
    // so a repeat's DC gain is that of band 1 and its Nyquist gain that of
    // band 8, whatever the bands between.
    host.Configure(1, 48000.0f);
    SetSide(0, 100.0, 50.0, 80.0);
    SetBands({6, -3, 9, -15, 2, 12, -7, -12});
    const Signal output = host.Run(test::ImpulseSignal(1, 4800 * 3));
    const double loop = Real(Echo::kDecayLeft) / 100.0 * Real(Echo::kInitEchoLeft) / 100.0;
    const double lowest = std::pow(10.0, 6.0 / 20.0);
    const double highest = std::pow(10.0, -12.0 / 20.0);

    double dc = 0.0;
    double nyquist = 0.0;
    for (std::size_t i = 4800; i < 9600; ++i) {
        dc += output[0][i];
        nyquist += (i % 2 == 0 ? 1.0 : -1.0) * output[0][i];
    }
    EXPECT_NEAR(dc, loop * lowest, 1e-5);
    EXPECT_NEAR(nyquist, loop * highest, 1e-5);
    // The repeat's response ends with the longest average (2 + 4 + ... + 128 frames).
    for (std::size_t i = 4800 + 248; i < 9600; ++i)
        ASSERT_NEAR(output[0][i], 0.0f, 1e-7f) << i;

    // The second repeat went through the bands twice.
    double secondDc = 0.0;
    for (std::size_t i = 9600; i < 14400; ++i)
        secondDc += output[0][i];
    EXPECT_NEAR(secondDc, loop * Real(Echo::kDecayLeft) / 100.0 * lowest * lowest, 1e-5);
}

TEST_F(EchoFixture, FullFeedbackWithBoostedBandsSaturates)
{
    host.Configure(1, 48000.0f);
    SetSide(0, 50.0, 100.0, 100.0);
    SetBands({15, 15, 15, 15, 15, 15, 15, 15});
    Signal input = test::SineSignal(1, 48000 * 10, 48000.0f, 300.0f, 0.9f);
    std::fill(input[0].begin() + 4800, input[0].end(), 0.0f);
    const Signal output = host.Run(input);

    // What circulates is clipped to -1..1, so the repeats settle at the bands'
    // gain (15 dB) and stay there, however long the loop runs.
    const float ceiling = static_cast<float>(std::pow(10.0, 15.0 / 20.0)) * 1.0001f;
    for (std::size_t i = 4800; i < output[0].size(); ++i)
        ASSERT_LE(std::fabs(output[0][i]), ceiling) << i;
    EXPECT_GT(std::fabs(output[0].back()), 5.0f);
}

TEST_F(EchoFixture, BounceAlternatesSidesInStereoAndDoesNothingInMono)
{
    host.Configure(1, 48000.0f);
    const Signal tone = test::SineSignal(1, 48000, 48000.0f, 220.0f);
    const Signal plain = host.Run(tone);
    echo->SetParameter(Echo::kEchoBounce, kOn);
    EXPECT_EQ(test::MaxDifference(host.Run(tone), plain), 0.0f);

    // Back from mono to stereo, both sides run again.
    host.Configure(2, 48000.0f);
    SetTwoSides();
    Signal input = test::ImpulseSignal(2, 14000);
    std::fill(input[1].begin(), input[1].end(), 0.0f); // left only
    const Signal output = host.Run(input);
    // The left input enters the right line at the left level, comes out on the
    // right after the right delay, goes back into the left line, and so on.
    const auto left = Sounds(output[0]);
    const auto right = Sounds(output[1]);
    ASSERT_GE(right.size(), 2u);
    ASSERT_GE(left.size(), 3u);
    const float feedback = Real(Echo::kDecayLeft) / 100.0f;
    EXPECT_EQ(right[0], std::make_pair(std::size_t{1440}, Real(Echo::kInitEchoLeft) / 100.0f * feedback));
    EXPECT_EQ(left[1].first, 1440u + 4800u);
    EXPECT_EQ(right[1].first, 1440u * 2 + 4800u);
    EXPECT_EQ(left[2].first, 1440u * 2 + 4800u * 2);
}

TEST_F(EchoFixture, BounceSwapsTheFirstTwoOfMoreChannels)
{
    host.Configure(3, 48000.0f);
    SetTwoSides();
    echo->SetParameter(Echo::kEchoBounce, kOn);
    Signal input = test::ImpulseSignal(3, 6000);
    std::fill(input[0].begin(), input[0].end(), 0.0f);
    const Signal output = host.Run(input);

    // Every channel reads with the left delay and feedback; channel 1's value
    // enters channel 0's line at the right level, channel 2 keeps its own.
    const float feedback = Real(Echo::kDecayLeft) / 100.0f;
    const auto first = Sounds(output[0]);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].first, 4800u);
    EXPECT_FLOAT_EQ(first[0].second, Real(Echo::kInitEchoRight) / 100.0f * feedback);
    EXPECT_EQ(Sounds(output[1]).size(), 1u); // its own input only
    const auto third = Sounds(output[2]);
    ASSERT_EQ(third.size(), 2u);
    EXPECT_EQ(third[1].first, 4800u);
    EXPECT_FLOAT_EQ(third[1].second, Real(Echo::kInitEchoLeft) / 100.0f * feedback);
}

TEST_F(EchoFixture, LockCopiesBetweenSidesAndPresetsLoadInOrder)
{
    host.Configure(2, 48000.0f);
    SetSide(0, 100.0, 20.0, 30.0);
    SetSide(1, 300.0, 60.0, 70.0);
    echo->SetParameter(Echo::kLockLR, kOn);
    for (int left : {Echo::kDelayLeft, Echo::kDecayLeft, Echo::kInitEchoLeft})
        EXPECT_EQ(Real(left + 1), Real(left));
    echo->SetParameter(Echo::kDelayRight, DelayFraction(250.0));
    EXPECT_FLOAT_EQ(Real(Echo::kDelayLeft), 250.0f);

    // Danger: 2000 ms left, 200 ms right. The left value is copied right, then
    // the right value back left, before the preset turns the lock off.
    echo->SetFactoryPreset(2);
    EXPECT_NEAR(Real(Echo::kDelayLeft), 200.0f, 1e-3f);
    EXPECT_NEAR(Real(Echo::kDelayRight), 200.0f, 1e-3f);
    EXPECT_EQ(echo->GetParameter(Echo::kLockLR), 0.0f);
}

TEST_F(EchoFixture, RepeatsDieAwayToExactSilence)
{
    host.Configure(2, 48000.0f); // default bands: the equalizer runs
    SetSide(0, 20.0, 0.1, 100.0);
    SetSide(1, 35.0, 0.1, 100.0);
    Signal input = test::SineSignal(2, 48000 * 3, 48000.0f, 1234.5f);
    for (auto& channel : input)
        std::fill(channel.begin() + 48000, channel.end(), 0.0f);
    const Signal output = host.Run(input);
    for (const auto& channel : output)
        for (std::size_t i = 48000 * 2; i < channel.size(); ++i)
            ASSERT_EQ(channel[i], 0.0f) << i;
}

// Constant input 0.25 through a 200 ms line: the line is level, so the
// output is 0.25 plus the feedback times the line, and a new feedback shows
// in the output as soon as it is faded in. The fade (4800 frames) ends before
// anything written after the change comes back (9600 frames).
struct EchoFadeFixture : EchoFixture {
    static constexpr int kFade = 4800;
    static constexpr std::size_t kSettled = 40000;
    Signal input = test::ConstantSignal(1, 60000, 0.25f);
    Signal output = input;
    float line = 0.0f;

    void SetUp() override
    {
        host.Configure(1, 48000.0f);
        SetSide(0, 200.0, 0.1, 100.0);
        SetFlat();
        host.Resume();
        Process(0, kSettled);
        const float feedback = Real(Echo::kDecayLeft) / 100.0f;
        line = 0.25f * Real(Echo::kInitEchoLeft) / 100.0f / (1.0f - feedback);
        ASSERT_NEAR(output[0][kSettled - 1], 0.25f + feedback * line, 1e-6f);
    }
    void Process(std::size_t from, std::size_t to)
    {
        host.ProcessBlock(input, output, from, static_cast<int>(to - from));
    }
    float At(std::size_t frame) const { return output[0][kSettled + frame]; }
    float Expected(float feedback) const { return 0.25f + feedback * line; }
};

TEST_F(EchoFadeFixture, ChangesFadeLinearlyAndOnlyTheLatestWaits)
{
    const float before = Real(Echo::kDecayLeft) / 100.0f;
    echo->SetParameter(Echo::kDecayLeft, PercentFraction(100.0));
    Process(kSettled, kSettled + kFade / 2);
    echo->SetParameter(Echo::kDecayLeft, PercentFraction(50.0)); // replaced before it starts
    Process(kSettled + kFade / 2, kSettled + kFade / 2 + 10);
    echo->SetParameter(Echo::kDecayLeft, PercentFraction(25.0));
    const float latest = Real(Echo::kDecayLeft) / 100.0f;
    Process(kSettled + kFade / 2 + 10, kSettled + 9600);

    // Over 0.1 s each: to 100 %, then straight on to 25 %; 50 % never sounds.
    for (int k = 0; k < kFade; ++k) {
        const float g = static_cast<float>(k) / kFade;
        ASSERT_NEAR(At(static_cast<std::size_t>(k)), Expected(before + g * (1.0f - before)), 1e-5f) << k;
        ASSERT_NEAR(At(static_cast<std::size_t>(kFade + k)), Expected(1.0f + g * (latest - 1.0f)), 1e-5f) << k;
    }
}

// Process renders runs of frames cut at block ends, fade ends, the line's
// wrap-around and the shortest delay; where they fall must not show. Bounce
// and the equalizer on; at 96000 a fade to a delay of two frames starts, 200
// frames before the line wraps, and a second change waits for it to end.
TEST_F(EchoFixture, BlockSizeDoesNotChangeTheOutput)
{
    host.Configure(2, 48000.0f);
    Signal input = test::SineSignal(2, 110000, 48000.0f, 523.0f, 0.5f);
    for (std::size_t i = 0; i < input[1].size(); i += 997)
        input[1][i] = 0.9f;
    const auto render = [&](std::size_t block) {
        SetSide(0, 300.0, 90.0, 100.0);
        SetSide(1, 37.0, 70.0, 60.0);
        echo->SetParameter(Echo::kEchoBounce, kOn);
        return host.RunInBlocks(input, block, [&](std::size_t from) {
            if (from == 96000)
                echo->SetParameter(Echo::kDelayLeft, DelayFraction(0.05));
            if (from == 99000)
                echo->SetParameter(Echo::kDelayRight, DelayFraction(1.0));
        });
    };
    const Signal reference = render(1);
    for (std::size_t block : {3, 50, 1000})
        EXPECT_EQ(test::MaxDifference(render(block), reference), 0.0f) << "blocks of " << block;
}

} // namespace
} // namespace zoc::components
