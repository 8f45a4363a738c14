#include "effects/delay/Chorus.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <numeric>
#include <thread>

#include <gtest/gtest.h>

#include "framework/Library.h"
#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using test::Rms;
using test::Signal;

struct ChorusFixture : ::testing::Test {
    core::Ref<Chorus> chorus{new Chorus};
    test::TestHost host{chorus};

    void Set(int index, float real)
    {
        if (index == Chorus::kVoices)
            chorus->SetParameter(index, real);
        else
            chorus->SetParameter(index, chorus->GetParameterInfo(index)->ToNormalized(real));
    }
    float Real(int index) { return chorus->GetParameterInfo(index)->FromNormalized(chorus->GetParameter(index)); }
    /// One voice at full wet level, no dry, no feedback, no gain wander.
    void SetSingleWetVoice(float delayMs)
    {
        Set(Chorus::kVoices, 1);
        Set(Chorus::kDelayTime, delayMs);
        Set(Chorus::kSpread, 0);
        Set(Chorus::kModulationDepth, 0);
        Set(Chorus::kDryOutputLevel, 0);
        Set(Chorus::kWetOutputLevel, 100);
        Set(Chorus::kFeedback, 0);
    }
};

TEST(ChorusNoise, SeedsItsTableFromTheCongruentialSequenceAndStaysInRange)
{
    // Seed 0: states 1, 524310, ... give entries 0, 2500, ...
    ChorusNoise noise;
    noise.Seed(0);
    EXPECT_EQ(noise.State(), [] {
        std::uint32_t s = 0;
        for (int i = 0; i < 55; ++i)
            s = (s * 524309u + 1u) % (1u << 21);
        return s;
    }());
    ChorusNoise same;
    same.Seed(412123); // seeds are taken modulo 412123
    double sum = 0.0;
    double low = 1.0, high = -1.0;
    for (int i = 0; i < 100000; ++i) {
        const double value = noise.Next(1.0);
        ASSERT_EQ(value, same.Next(1.0));
        sum += value;
        low = std::min(low, value);
        high = std::max(high, value);
    }
    EXPECT_GE(low, -1.0);
    EXPECT_LT(high, 1.0);
    EXPECT_LT(low, -0.99);
    EXPECT_GT(high, 0.99);
    EXPECT_NEAR(sum / 100000.0, 0.0, 0.02);
}

TEST(ChorusNoise, SkipLandsWhereSteppingDoes)
{
    // Short skips step; long ones jump. Either way the table must come out
    // as stepping leaves it, from any table index.
    for (const int before : {0, 7, 54})
        for (const std::int64_t count : {0, 1, 31, 219, 220, 221, 1000, 4097, 320000}) {
            ChorusNoise stepped;
            stepped.Seed(987654);
            for (int i = 0; i < before; ++i)
                stepped.Next(1.0);
            ChorusNoise skipped = stepped;
            for (std::int64_t i = 0; i < count; ++i)
                stepped.Next(1.0);
            skipped.Skip(count);
            // 55 values renew the whole table.
            for (int i = 0; i < 60; ++i)
                ASSERT_EQ(skipped.Next(1.0), stepped.Next(1.0)) << before << " " << count << " " << i;
        }
}

TEST_F(ChorusFixture, DryPathIsExactAfterTheRampsAndReportsNoLatency)
{
    EXPECT_EQ(chorus->GetInitialDelay(), 0);
    for (std::size_t channels : {1u, 2u}) {
        host.Configure(channels, 48000.0f);
        Set(Chorus::kWetOutputLevel, 0);
        Set(Chorus::kFeedback, 0);
        const Signal input(channels, test::Noise(12000, 3));
        const Signal output = host.Run(input, 500);
        // Every Resume starts with a 12 ms fade-in of the input and a 70 ms
        // glide of the dry level from unity.
        EXPECT_EQ(output[0][0], 0.0f);
        EXPECT_GT(std::fabs(output[0][1]), 0.0f);
        for (std::size_t c = 0; c < channels; ++c)
            for (std::size_t i = 3360; i < output[c].size(); ++i)
                ASSERT_FLOAT_EQ(output[c][i], static_cast<float>(0.7 * input[c][i])) << c << " " << i;
    }
    // At full dry level the fade-in alone shapes the start: a straight rise
    // over 576 frames (12 ms).
    host.Configure(1, 48000.0f);
    Set(Chorus::kDryOutputLevel, 100);
    const Signal input(1, test::Noise(1000, 4));
    const Signal faded = host.Run(input, 500);
    for (std::size_t i = 0; i < 1000; ++i)
        ASSERT_NEAR(faded[0][i], input[0][i] * static_cast<double>(std::min<std::size_t>(i, 576)) / 576.0, 1e-6) << i;
}

TEST_F(ChorusFixture, OneVoiceIsAUnityGainCopyWithinTwiceTheBaseDelay)
{
    host.Configure(2, 48000.0f);
    SetSingleWetVoice(10.0f);
    const std::size_t frames = 48000;
    // Band-limited, so that the cubic reads lose nothing audible either.
    const Signal input = test::SineSignal(2, frames, 48000.0f, 1000.0f);
    for (bool sinc : {false, true}) {
        Set(Chorus::kHighestQuality, sinc ? 1.0f : 0.0f);
        const Signal output = host.Run(input);
        const auto& voice = chorus->Voices().modulators[0];
        EXPECT_EQ(voice.offset, 0);
        EXPECT_EQ(voice.panLeft, 1.0);
        EXPECT_EQ(voice.panRight, 1.0);
        // The copy is the input delayed by 1..960 frames (B = 480 frames
        // wandering over 0..2B): find the lag that matches best.
        for (std::size_t c = 0; c < 2; ++c) {
            double best = 0.0;
            std::size_t bestLag = 0;
            for (std::size_t lag = 0; lag <= 960; ++lag) {
                double dot = 0.0;
                for (std::size_t i = 40000; i < 42000; ++i)
                    dot += double{output[c][i]} * input[c][i - lag];
                if (dot > best) {
                    best = dot;
                    bestLag = lag;
                }
            }
            EXPECT_GE(bestLag, 1u);
            // The copy through a slowly moving delay keeps its level (the
            // sinc kernel sits 0.3 dB low by design).
            EXPECT_NEAR(test::Db(Rms(output[c], 24000, frames) / Rms(input[c], 24000, frames)), sinc ? -0.3 : 0.0,
                        0.05)
                << sinc;
        }
        // Any feedback takes the recirculating path; one too faint to change
        // the voice layout must leave the output as it was.
        Set(Chorus::kFeedback, 0.004f);
        const Signal faint = host.Run(input);
        Set(Chorus::kFeedback, 0);
        for (std::size_t i = 0; i < frames; ++i)
            ASSERT_NEAR(faint[0][i], output[0][i], 1e-3) << sinc << " " << i;
    }
}

// Feedback goes back into the line inverted: a click (past the dry level's
// glide to silence) comes back as repeats 1, -f, f^2, ..., which sum to
// 1 / (1 + f); the interpolation keeps each repeat's sum.
TEST_F(ChorusFixture, FeedbackIsInverted)
{
    host.Configure(1, 48000.0f);
    SetSingleWetVoice(10.0f);
    Set(Chorus::kFeedback, 50);
    const std::vector<float> out = host.Run(test::ImpulseSignal(1, 12000, 4000))[0];
    EXPECT_NEAR(std::accumulate(out.begin(), out.end(), 0.0), 1.0 / 1.5, 0.01);
}

TEST_F(ChorusFixture, VoiceLayoutFollowsTheSettingsAndOnlyThem)
{
    host.Configure(2, 44100.0f);
    // Fast wander: short settling, quick Resumes.
    Set(Chorus::kDelayRate, 5.0f);
    Set(Chorus::kModulationRate, 5.0f);
    struct Case {
        int voices;
        float spreadMs;
        float field;
        bool binaural;
    };
    for (const Case& c : {Case{2, 30, 100, false}, Case{5, 25, 80, false}, Case{10, 80, 100, true},
                          Case{16, 200, 100, true}, Case{4, 10, 0, false}}) {
        Set(Chorus::kVoices, static_cast<float>(c.voices));
        Set(Chorus::kSpread, c.spreadMs);
        Set(Chorus::kStereoField, c.field);
        Set(Chorus::kAddoBinauralCues, c.binaural ? 1.0f : 0.0f);
        host.Resume();
        const Chorus::VoiceTables first = chorus->Voices();
        host.Suspend();
        host.Resume(); // the same settings give the same voices
        const Chorus::VoiceTables& again = chorus->Voices();
        host.Suspend();
        const int spread = static_cast<int>(c.spreadMs / 1000.0f * 44100.0f);
        for (int v = 0; v < c.voices; ++v) {
            const auto& voice = first.modulators[static_cast<std::size_t>(v)];
            EXPECT_EQ(voice.offset, again.modulators[static_cast<std::size_t>(v)].offset);
            EXPECT_GE(voice.offset, 0);
            EXPECT_LT(voice.offset, spread);
            const double bleed = c.binaural ? 0.17 : 0.0;
            // Equal power: cos² + sin² of the pan angle.
            const double near = std::max(voice.panLeft, voice.panRight) - bleed;
            const double far = std::min(voice.panLeft, voice.panRight) - bleed;
            EXPECT_NEAR(near * near + far * far, std::pow(1.4142135624 - bleed, 2), 1e-9);
            if (v < c.voices / 2) {
                EXPECT_GE(voice.panLeft, voice.panRight);
            } else if (2 * v >= c.voices) {
                EXPECT_GE(voice.panRight, voice.panLeft);
            }
            // Binaural cues delay one ear by up to the head's width (≈ 1 ms)
            // for a voice at the side, nothing for one straight ahead.
            EXPECT_EQ(std::min(voice.extraLeft, voice.extraRight), 0);
            const int extra = voice.extraLeft + voice.extraRight;
            if (!c.binaural || voice.panLeft == voice.panRight) {
                EXPECT_EQ(extra, 0);
            } else if (c.field == 100 && (v == 0 || v == c.voices - 1)) {
                EXPECT_NEAR(extra, 44, 1);
            }
        }
        if (c.field == 100 && !c.binaural) {
            EXPECT_NEAR(first.modulators[0].panLeft, 1.4142135624, 1e-9); // the outer voices sit at the sides
            EXPECT_NEAR(first.modulators[0].panRight, 0.0, 1e-9);
        }
        if (c.field == 0) { // no field: every voice in the middle
            for (int v = 0; v < c.voices; ++v)
                EXPECT_NEAR(first.modulators[static_cast<std::size_t>(v)].panLeft, 1.0, 1e-9);
        }
    }
    // A change of a setting that is part of the seed moves the voices.
    Set(Chorus::kVoices, 5);
    Set(Chorus::kSpread, 100);
    host.Resume();
    const int before = chorus->Voices().modulators[1].offset;
    host.Suspend();
    Set(Chorus::kFeedback, 10);
    host.Resume();
    EXPECT_NE(chorus->Voices().modulators[1].offset, before);
    host.Suspend();
}

TEST_F(ChorusFixture, ModulatorsWanderSlowlyAndDepthZeroKeepsUnityGain)
{
    host.Configure(2, 48000.0f);
    struct Case {
        float delayRate;
        float modulationRate;
    };
    for (const Case& c : {Case{0.5f, 2.0f}, Case{6.0f, 20.0f}}) {
        Set(Chorus::kDelayRate, c.delayRate);
        Set(Chorus::kModulationRate, c.modulationRate);
        host.Resume();
        Chorus::VoiceTables tables = chorus->Voices();
        host.Suspend();
        // A low-pass at the rate: the wander crosses its mean about as often
        // as a sine a little above the cutoff would, and swings by about one.
        const auto measure = [&](std::size_t index, double cutoff) {
            const int frames = static_cast<int>(48000 * 40 / cutoff);
            std::vector<double> values(static_cast<std::size_t>(frames));
            for (double& value : values) {
                if (tables.modulators[index].Due())
                    Chorus::RefillDue(tables);
                value = tables.modulators[index].Next();
            }
            const double mean = std::accumulate(values.begin(), values.end(), 0.0) / frames;
            double square = 0.0;
            int crossings = 0;
            for (std::size_t i = 1; i < values.size(); ++i) {
                square += (values[i] - mean) * (values[i] - mean);
                crossings += (values[i] > mean) != (values[i - 1] > mean);
            }
            const double seconds = frames / 48000.0;
            const double crossingRate = crossings / seconds / 2.0;
            EXPECT_GT(crossingRate, cutoff * 0.3) << index;
            EXPECT_LT(crossingRate, cutoff * 2.0) << index;
            const double deviation = std::sqrt(square / frames);
            EXPECT_GT(deviation, 0.1) << index;
            EXPECT_LT(deviation, 3.0) << index;
        };
        measure(0, c.delayRate);
        measure(Chorus::kMaxVoices, c.modulationRate);
    }

    // Depth 0: two voices at the same offset and pan give exactly twice one.
    SetSingleWetVoice(5.0f);
    Set(Chorus::kModulationRate, 20.0f);
    const Signal input = test::SineSignal(1, 24000, 48000.0f, 300.0f);
    host.Configure(1, 48000.0f);
    const Signal output = host.Run(input);
    EXPECT_NEAR(Rms(output[0], 12000, 24000), Rms(input[0], 12000, 24000), 0.01);
    Set(Chorus::kModulationDepth, 12.0f); // now the level swings
    const Signal swung = host.Run(input);
    double lowest = 1e9, highest = 0.0;
    for (std::size_t from = 4800; from + 960 <= swung[0].size(); from += 960) {
        const double level = Rms(swung[0], from, from + 960);
        lowest = std::min(lowest, level);
        highest = std::max(highest, level);
    }
    EXPECT_GT(test::Db(highest / lowest), 6.0);
}

TEST_F(ChorusFixture, SameOutputForEveryBlockSizeAndMonoIsTheMeanOfStereo)
{
    host.Configure(2, 22050.0f);
    // Many voices; binaural cues with the sinc reads. Then without feedback,
    // where the voices run one after another over stretches of frames unless
    // a read reaches into the stretch, from its near end (short delays) or
    // from its far end (delays of almost the whole line); overloud averaged
    // input, which the line holds clipped only once its frame is done.
    struct Case {
        int preset;
        std::function<void()> adjust;
        bool loud = false;
    };
    const std::vector<Case> cases{
        {1, [] {}}, {11, [] {}}, {0, [] {}}, {3, [] {}},
        {0, [&] { SetSingleWetVoice(0.1f), Set(Chorus::kDelayRate, 12.0f); }},
        {3, [&] { SetSingleWetVoice(1.0f); }},
        {0, [&] { SetSingleWetVoice(0.1f), Set(Chorus::kDelayRate, 12.0f), Set(Chorus::kAverageInputs, 1.0f); },
         true},
        {0, [&] {
             Set(Chorus::kVoices, 16), Set(Chorus::kDelayTime, 50.0f), Set(Chorus::kSpread, 200.0f);
             Set(Chorus::kDelayRate, 12.0f), Set(Chorus::kHighestQuality, 1.0f);
         }},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        chorus->SetFactoryPreset(cases[i].preset);
        cases[i].adjust();
        Signal input{test::Noise(30000, 1), test::Noise(30000, 2)};
        for (auto& channel : input)
            for (float& x : channel)
                x *= cases[i].loud ? 3.0f : 1.0f;
        const Signal reference = host.Run(input, 30000);
        for (int block : {1, 97, 128, 10000})
            EXPECT_EQ(test::MaxDifference(host.Run(input, block), reference), 0.0f) << i << " " << block;
    }
    // Without feedback and with it (the two render paths).
    for (const float feedback : {0.0f, 30.0f}) {
        host.Configure(2, 22050.0f);
        chorus->SetFactoryPreset(4);
        Set(Chorus::kFeedback, feedback);
        const Signal mono{test::Noise(20000, 4)};
        const Signal stereo = host.Run({mono[0], mono[0]}, 512);
        host.Configure(1, 22050.0f);
        const Signal output = host.Run(mono, 512);
        for (std::size_t i = 0; i < output[0].size(); ++i)
            ASSERT_NEAR(output[0][i], (stereo[0][i] + stereo[1][i]) * 0.5f, 1e-6f) << feedback << " " << i;
    }
}

// The voice count is stored as a count, clamped to 1..16 whatever arrives;
// far-over-full-scale input into feedback stays bounded.
TEST_F(ChorusFixture, VoiceCountIsClampedAndLoudInputStaysBounded)
{
    host.Configure(2, 48000.0f);
    for (float count : {0.0f, 100.0f, std::numeric_limits<float>::quiet_NaN(), -3.0f, 1e30f, -1e38f}) {
        chorus->SetParameter(Chorus::kVoices, count);
        EXPECT_GE(chorus->GetParameter(Chorus::kVoices), 1.0f);
        EXPECT_LE(chorus->GetParameter(Chorus::kVoices), 16.0f);
    }
    chorus->SetFactoryPreset(5); // one voice, shortest delay, fastest wander
    Set(Chorus::kFeedback, 50);
    Signal input(2, test::Noise(30000, 9));
    for (auto& x : input[0])
        x *= 8.0f; // far over full scale: the line saturates, nothing grows
    const Signal output = host.Run(input, 333);
    for (const auto& channel : output)
        for (std::size_t i = 0; i < channel.size(); ++i)
            ASSERT_LT(std::fabs(channel[i]), 20.0f) << i;
}

/// With the library initialized, the voice tables are recomputed by the worker.
struct ChorusThreaded : ChorusFixture {
    void SetUp() override { Initialize(); }
    void TearDown() override
    {
        host.Suspend();
        Terminate();
    }
};

TEST_F(ChorusThreaded, ChangesReachTheAudioThreadAndSuspendIsPrompt)
{
    host.Configure(2, 48000.0f);
    host.Resume();
    Signal block(2, std::vector<float>(1000, 0.1f));
    Signal out = block;
    const auto waitFor = [&](auto done) {
        for (int i = 0; i < 2000 && !done(); ++i) {
            host.ProcessBlock(block, out, 0, 1000);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return done();
    };
    Set(Chorus::kVoices, 7);
    EXPECT_TRUE(waitFor([&] { return chorus->Voices().voices == 7; }));
    Set(Chorus::kStereoField, 0); // placement alone
    EXPECT_TRUE(waitFor([&] { return chorus->Voices().modulators[0].panRight > 0.99; }));
    EXPECT_EQ(chorus->Voices().voices, 7);

    // A slow delay wander makes the worker's next recomputation long; stop it midway.
    Set(Chorus::kDelayRate, 0.1f);
    Set(Chorus::kModulationRate, 0.1f);
    Set(Chorus::kVoices, 16);
    for (int i = 0; i < 10; ++i)
        host.ProcessBlock(block, out, 0, 1000);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto start = std::chrono::steady_clock::now();
    host.Suspend();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(200));
    for (float x : out[0])
        ASSERT_TRUE(std::isfinite(x));
}

// A file render takes a change up at the first hand-over boundary, not
// whenever the worker happens to finish, so renders repeat exactly.
TEST_F(ChorusThreaded, FileRendersApplyChangesAtTheNextBoundary)
{
    host.Configure(2, 48000.0f);
    chorus->SetRenderingOffline(true);
    host.Resume();
    Signal block(2, std::vector<float>(10000, 0.1f));
    Signal out = block;
    Set(Chorus::kVoices, 7);
    Set(Chorus::kDelayRate, 0.1f); // a long recomputation
    host.ProcessBlock(block, out, 0, 10000);
    EXPECT_EQ(chorus->Voices().voices, 7);
}

} // namespace
} // namespace zoc::components
