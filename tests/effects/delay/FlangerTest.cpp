#include "effects/delay/Flanger.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <tuple>

#include <gtest/gtest.h>

#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using test::Signal;

constexpr std::size_t kLatency = 5082;
/// The interpolation kernel's centre tap: a copy at a whole-frame delay.
constexpr float kCentreTap = static_cast<float>(1.0 / 1.08);

struct FlangerFixture : ::testing::Test {
    core::Ref<Flanger> flanger{new Flanger};
    test::TestHost host{flanger};

    void Set(int index, float real)
    {
        flanger->SetParameter(index, flanger->GetParameterInfo(index)->ToNormalized(real));
    }
    float Real(int index) { return flanger->GetParameterInfo(index)->FromNormalized(flanger->GetParameter(index)); }
    /// Wet copies only, no feedback; sweep between the two delays in ms.
    void SetWet(float initial, float final, bool effects, bool triangle, bool inverted = false)
    {
        Set(Flanger::kInitialDelayTime, initial);
        Set(Flanger::kFinalDelayTime, final);
        Set(Flanger::kMix, 100.0f);
        Set(Flanger::kFeedback, 0.0f);
        Set(Flanger::kSpecialFX, effects ? 1.0f : 0.0f);
        Set(Flanger::kSinusoidal, triangle ? 1.0f : 0.0f);
        Set(Flanger::kInverted, inverted ? 1.0f : 0.0f);
    }
};

TEST_F(FlangerFixture, DrySignalComesOutExactlyTheReportedLatencyLate)
{
    for (float rate : {44100.0f, 48000.0f}) {
        for (std::size_t channels : {1u, 2u}) {
            host.Configure(channels, rate);
            Set(Flanger::kMix, 0.0f); // the feedback (60 %) reaches the output only through the wet copies
            const Signal input(channels, test::Noise(kLatency + 3000, 5));
            const Signal output = host.Run(input, 441);
            EXPECT_EQ(flanger->GetInitialDelay(), static_cast<int>(kLatency));
            for (std::size_t c = 0; c < channels; ++c)
                for (std::size_t i = 0; i < output[c].size(); ++i)
                    ASSERT_EQ(output[c][i], i < kLatency ? 0.0f : input[c][i - kLatency]) << c << " " << i;
        }
    }
}

// A fixed delay of 48 frames (1 ms at 48 kHz): the copy behind lands 47
// frames after the dry signal would, the one ahead 48 frames before it.
TEST_F(FlangerFixture, TapsGainsAndPolarityPerMode)
{
    struct Case {
        bool effects, inverted;
        float ahead, behind; // in units of the centre tap
    };
    for (const Case& c : {Case{false, false, -0.5f, -0.5f}, Case{false, true, 0.5f, -0.5f},
                          Case{true, false, 0.0f, 1.0f}, Case{true, true, 0.0f, -1.0f}}) {
        host.Configure(1, 48000.0f);
        SetWet(1.0f, 1.0f, c.effects, false, c.inverted);
        const Signal output = host.Run(test::ImpulseSignal(1, 6000));
        EXPECT_FLOAT_EQ(output[0][kLatency - 48], c.ahead * kCentreTap) << c.effects << c.inverted;
        EXPECT_FLOAT_EQ(output[0][kLatency + 47], c.behind * kCentreTap) << c.effects << c.inverted;
        EXPECT_EQ(output[0][kLatency], 0.0f);
    }
    // Feedback takes the polarity too, so the second echo of one tap comes
    // out the same either way: (-1)(-f) inverted, (+1)(+f) not.
    float second[2];
    for (const bool inverted : {false, true}) {
        SetWet(1.0f, 1.0f, true, false, inverted);
        Set(Flanger::kFeedback, 50.0f);
        second[inverted] = host.Run(test::ImpulseSignal(1, 6000))[0][kLatency + 94];
    }
    EXPECT_GT(second[0], 0.4f);
    EXPECT_EQ(second[1], second[0]);
    // At 384 kHz 20 ms would be 7680 frames; the delay stops at 4990. (The
    // window of so long a delay reaches back into the output frames just
    // written, which hold the echo's leading ripple: hence not exact.)
    host.Configure(1, 384000.0f);
    SetWet(20.0f, 20.0f, true, false);
    EXPECT_NEAR(host.Run(test::ImpulseSignal(1, 11000))[0][kLatency + 4989], kCentreTap, 1e-3f);
}

// Impulses every 256 frames through the copy behind: where each echo peaks
// traces the delay over two periods of a 10 Hz sweep from 1 to 192 frames,
// on both sides, the right a quarter period ahead.
TEST_F(FlangerFixture, SweepsFollowTheirShapesFromTheirStartingPoints)
{
    constexpr double kRate = 48000.0, kHertz = 10.0, kTop = 192.0;
    // Frame m's delay. The sine runs from 1 frame (its floor) up; the triangle
    // starts upward, on the left from the initial delay, on the right from
    // the middle (a quarter period on).
    const auto delay = [&](bool triangle, std::size_t side, double m) {
        if (!triangle)
            return (std::sin((side - 1.0) * std::numbers::pi / 2 + 2 * std::numbers::pi * kHertz * m / kRate) + 1.0) *
                       (kTop - 1.0) / 2 + 1.0;
        const double x = std::fmod(side * kTop / 2 + (m + 1.0) * 2.0 * kTop * kHertz / kRate, 2.0 * kTop);
        return x <= kTop ? x : 2.0 * kTop - x;
    };
    for (const bool triangle : {false, true}) {
        host.Configure(2, static_cast<float>(kRate));
        SetWet(0.0f, 4.0f, true, triangle);
        Set(Flanger::kModRateFreq, static_cast<float>(kHertz));
        Set(Flanger::kStereoPhasing, 90.0f);
        Signal input = test::ConstantSignal(2, kLatency + 10000, 0.0f);
        for (std::size_t at = 200; at < 9600; at += 256)
            input[0][at] = input[1][at] = 1.0f;
        const Signal output = host.Run(input);
        for (std::size_t side = 0; side < 2; ++side) {
            for (std::size_t at = 200; at < 9600; at += 256) {
                // The echo of `at` leaves at the frame m = at + latency + D(m) − 1.
                const auto start = static_cast<double>(at + kLatency);
                double expected = start;
                for (int i = 0; i < 20; ++i)
                    expected = start + delay(triangle, side, expected) - 1.0;
                std::size_t peak = at + kLatency - 2;
                for (std::size_t m = peak; m < at + kLatency + 200; ++m)
                    peak = std::fabs(output[side][m]) > std::fabs(output[side][peak]) ? m : peak;
                EXPECT_NEAR(static_cast<double>(peak), expected, 1.0) << triangle << side << " impulse " << at;
            }
        }
    }
}

TEST_F(FlangerFixture, MonoIsTheAverageOfBothSweepsOnOneInput)
{
    const std::vector<float> noise = test::Noise(30000, 9);
    host.Configure(2, 44100.0f);
    const Signal stereo = host.Run(Signal(2, noise));
    host.Configure(1, 44100.0f);
    const Signal mono = host.Run(Signal(1, noise));
    ASSERT_NE(stereo[0], stereo[1]);
    for (std::size_t i = 0; i < noise.size(); ++i)
        ASSERT_EQ(mono[0][i], (stereo[0][i] + stereo[1][i]) * 0.5f) << i;
}

// The lines are compacted after each block or every 200000 frames within one;
// sweeps carry over block ends. Neither may show in the output.
TEST_F(FlangerFixture, BlockSizeDoesNotChangeTheOutput)
{
    host.Configure(2, 48000.0f);
    const Signal input{test::Noise(420000, 1), test::Noise(420000, 2)};
    const auto render = [&](std::size_t block, bool changes) {
        flanger->SetFactoryPreset(0);
        return host.RunInBlocks(input, block, [&](std::size_t from) {
            if (!changes)
                return;
            if (from == 7 * 512 * 20)
                Set(Flanger::kSinusoidal, 1.0f); // triangle
            if (from == 7 * 512 * 60)
                Set(Flanger::kModRateFreq, 3.0f); // the rate alone
            if (from == 7 * 512 * 100)
                flanger->SetFactoryPreset(2);
        });
    };
    const Signal reference = render(512, true);
    for (std::size_t block : {7, 7 * 512})
        EXPECT_EQ(test::MaxDifference(render(block, true), reference), 0.0f) << "blocks of " << block;
    EXPECT_EQ(test::MaxDifference(render(input[0].size(), false), render(1000, false)), 0.0f);
}

// Loud input into full feedback saturates at full scale; a NaN enters as
// silence and an infinity as full scale, and leave nothing else behind.
TEST_F(FlangerFixture, BadInputAndFullFeedbackStayBounded)
{
    const auto bounded = [](const Signal& signal) {
        for (const auto& channel : signal)
            for (float sample : channel)
                if (!(sample >= -1.0f && sample <= 1.0f))
                    return false;
        return true;
    };
    host.Configure(2, 44100.0f);
    flanger->SetFactoryPreset(3); // Crazy Clock of Doom: full mix, full feedback
    Signal loud{test::Noise(40000, 3), test::Noise(40000, 4)};
    for (auto& channel : loud)
        for (float& sample : channel)
            sample *= 4.0f;
    Signal clean = loud;
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    std::tie(loud[0][1000], loud[1][2000], loud[1][3000]) = std::tuple{std::nanf(""), kInfinity, -kInfinity};
    std::tie(clean[0][1000], clean[1][2000], clean[1][3000]) = std::tuple{0.0f, 1.0f, -1.0f};
    const Signal output = host.Run(loud);
    EXPECT_EQ(test::MaxDifference(output, host.Run(clean)), 0.0f);
    EXPECT_TRUE(bounded(output));
    // The lines saturate rather than store more than full scale: once a
    // full-scale input stops, its repeats at full feedback decay at once
    // (one tap, or two inverted: the repeats add up in the line either way).
    host.Configure(1, 48000.0f);
    std::vector<float> held(12000, 0.0f);
    std::fill_n(held.begin(), 4800, 1.0f);
    for (const bool oneTap : {true, false}) {
        SetWet(1.0f, 1.0f, oneTap, false, !oneTap);
        Set(Flanger::kFeedback, 100.0f);
        const std::vector<float> tail = host.Run(Signal{held})[0];
        const auto [low, high] = std::minmax_element(tail.begin() + kLatency + 5300, tail.end());
        EXPECT_LT(std::max(-*low, *high), 0.75f) << oneTap;
    }
}

// A beat is half a second; the frequency stays within 0.001..60 Hz.
TEST_F(FlangerFixture, RatesStayCoupledThroughSettersAndPresets)
{
    for (const auto& [index, value, hertz, beats] : {std::tuple{Flanger::kModRateBeats, 8.0f, 0.25f, 8.0f},
                                                     {Flanger::kModRateBeats, 0.03333f, 60.0f, 0.03333f},
                                                     {Flanger::kModRateFreq, 0.5f, 0.5f, 4.0f}}) {
        Set(index, value);
        EXPECT_NEAR(Real(Flanger::kModRateFreq), hertz, hertz * 1e-4f) << index << " " << value;
        EXPECT_NEAR(Real(Flanger::kModRateBeats), beats, beats * 1e-4f) << index << " " << value;
    }
    for (int preset = 0; preset < flanger->GetNumFactoryPresets(); ++preset) {
        flanger->SetFactoryPreset(preset);
        EXPECT_NEAR(Real(Flanger::kModRateBeats) * Real(Flanger::kModRateFreq), 2.0f, 1e-3f) << preset;
    }
}

} // namespace
} // namespace zoc::components
