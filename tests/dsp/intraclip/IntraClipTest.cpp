#include "dsp/intraclip/IntraClip.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Measure.h"
#include "tests/support/SpeechLike.h"

namespace zoc::dsp::intraclip {
namespace {

using Planar = std::vector<std::vector<float>>;
constexpr int kRate = 48000;
constexpr double kTargetDb = -16.0; // the default Target Volume Level

/// Restores the default global record when a test ends.
struct IntraClipFixture : ::testing::Test {
    void TearDown() override { SetGlobalParam(DefaultGlobalParam()); }
};

/// Runs `input` through a freshly initialized kernel with `settings` (index,
/// value) in blocks of `block` frames.
Planar Level(const Planar& input, std::initializer_list<std::pair<int, float>> settings = {}, int block = 480,
             IntraClip* used = nullptr)
{
    IntraClip local;
    IntraClip& kernel = used ? *used : local;
    const int channels = static_cast<int>(input.size());
    kernel.Initialize(channels, kRate, block);
    for (const auto& [index, value] : settings)
        kernel.SetParameter(index, value);
    kernel.Reset();
    Planar output(input.size(), std::vector<float>(input[0].size()));
    std::vector<float*> in(input.size()), out(input.size());
    for (std::size_t done = 0; done < input[0].size(); done += static_cast<std::size_t>(block)) {
        const int frames = static_cast<int>(std::min<std::size_t>(block, input[0].size() - done));
        for (std::size_t c = 0; c < input.size(); ++c) {
            in[c] = const_cast<float*>(input[c].data()) + done;
            out[c] = output[c].data() + done;
        }
        kernel.Process(in.data(), out.data(), channels, frames);
    }
    return output;
}

/// The output shifted back by `latency` frames, so it lines up with the input.
Planar Aligned(const Planar& output, int latency)
{
    Planar aligned(output.size());
    for (std::size_t c = 0; c < output.size(); ++c)
        aligned[c].assign(output[c].begin() + latency, output[c].end());
    return aligned;
}

float Peak(const Planar& x)
{
    float peak = 0.0f;
    for (const auto& channel : x)
        for (float v : channel)
            peak = std::max(peak, std::fabs(v));
    return peak;
}

// Loud and quiet phrases 20 dB apart (target + 10 and target - 10), pauses
// of noise at -62 dBFS: the default settings bring every phrase to the target
// by its second half, leave the pauses no louder than they came in, ride the
// gain smoothly and stay under full scale.
TEST_F(IntraClipFixture, LevelsAlternatingPhrasesToTheTarget)
{
    const test::SpeechLike speech =
        test::MakeSpeechLike({-6, -26, -6, -26, -26, -6}, 2.5, 0.8, -62.0, kRate);
    IntraClip kernel;
    const Planar output = Level(speech.samples, {}, 480, &kernel);
    const int latency = kernel.GetLatency();
    EXPECT_EQ(latency, 240 + 9600); // limiter look-ahead plus the rider's
    const Planar aligned = Aligned(output, latency);
    EXPECT_LE(Peak(output), static_cast<float>(test::FromDb(-1.0)) + 1e-6f);

    for (const test::SpeechSegment& segment : speech.segments) {
        if (segment.phrase) {
            const double level = test::RmsDb(aligned, segment.start + segment.length / 2, segment.length / 2);
            EXPECT_NEAR(level, kTargetDb, 3.0) << "phrase at " << segment.levelDb << " dB, frame " << segment.start;
        } else if (segment.start + segment.length < aligned[0].size()) {
            // The middle of the pause, away from the phrases' edges.
            const std::size_t from = segment.start + segment.length / 4, frames = segment.length / 2;
            const double in = test::RmsDb(speech.samples, from, frames);
            EXPECT_LE(test::RmsDb(aligned, from, frames), in + 1.0) << "pause at frame " << segment.start;
        }
    }

    // Gain per 10 ms frame: no step larger than 1 dB.
    constexpr std::size_t kFrame = 480;
    double previous = std::numeric_limits<double>::quiet_NaN(), largest = 0.0;
    for (std::size_t from = 0; from + kFrame <= aligned[0].size(); from += kFrame) {
        const double gain = test::RmsDb(aligned, from, kFrame) - test::RmsDb(speech.samples, from, kFrame);
        if (!std::isnan(previous))
            largest = std::max(largest, std::fabs(gain - previous));
        previous = gain;
    }
    EXPECT_LT(largest, 1.0);
}

/// The RMS (dB) of each phrase's second half in the aligned output.
std::vector<double> PhraseLevels(const test::SpeechLike& speech, const Planar& aligned)
{
    std::vector<double> levels;
    for (const test::SpeechSegment& segment : speech.segments)
        if (segment.phrase)
            levels.push_back(test::RmsDb(aligned, segment.start + segment.length / 2, segment.length / 2));
    return levels;
}

// How far a steady voice is moved: Leveling Amount scales the correction;
// boosts stop at MaxGain (10 dB) unless Boost Low Signals allows BodyDynamic
// (15 dB) more; voices under PeakMin (-40 dBFS) are left alone without it.
TEST_F(IntraClipFixture, AmountAndBoostLimitsShapeTheCorrection)
{
    struct Case {
        double inputDb;
        float amount;
        bool boostLow;
        double expectedDb;
    };
    for (const Case& c : {Case{-6, 100, false, -16}, Case{-6, 50, false, -11}, Case{-20, 0, false, -20},
                          Case{-36, 100, false, -26}, Case{-36, 100, true, -16}, Case{-30, 50, false, -23},
                          Case{-46, 100, false, -46}, Case{-46, 100, true, -21}}) {
        const test::SpeechLike speech = test::MakeSpeechLike({c.inputDb, c.inputDb}, 2.5, 0.5, -75.0, kRate);
        IntraClip kernel;
        const Planar output = Level(speech.samples,
                                    {{IntraClip::kLevelingAmount, c.amount},
                                     {IntraClip::kBoostLowSignals, c.boostLow ? 1.0f : 0.0f}},
                                    480, &kernel);
        const double level = PhraseLevels(speech, Aligned(output, kernel.GetLatency())).back();
        EXPECT_NEAR(level, c.expectedDb, 1.5) << c.inputDb << " dB at " << c.amount << " %, boost " << c.boostLow;
    }
}

// The gate pulls pauses down by (ratio - 1) dB per dB under floor + Noise
// Offset, at most Target Dynamic Range deep, and leaves the phrases alone.
TEST_F(IntraClipFixture, GateLowersPausesWithinTheDynamicRange)
{
    // Noise at -62 dBFS reads as the floor's lowest value, -60 dB: the
    // threshold is -48 dB, 14 dB over the noise, for 7 dB of cut at 1.5:1.
    struct Case {
        float dynamicRange, offset;
        double lo, hi; // expected cut of the pauses against the ungated leveler, dB
    };
    const test::SpeechLike speech = test::MakeSpeechLike({-20, -14, -20}, 2.5, 2.0, -62.0, kRate);
    IntraClip ungated;
    const Planar reference = Aligned(Level(speech.samples, {}, 480, &ungated), ungated.GetLatency());
    for (const Case& c : {Case{12, 12, 6.0, 8.0}, Case{3, 12, 2.5, 3.5}, Case{40, 20, 10.0, 12.0}}) {
        IntraClip kernel;
        const Planar output = Level(speech.samples,
                                    {{IntraClip::kNoiseGateActive, 1.0f},
                                     {IntraClip::kTargetDynamicRange, c.dynamicRange},
                                     {IntraClip::kNoiseOffset, c.offset}},
                                    480, &kernel);
        const Planar aligned = Aligned(output, kernel.GetLatency());
        for (const test::SpeechSegment& segment : speech.segments) {
            if (segment.phrase) {
                EXPECT_NEAR(test::RmsDb(aligned, segment.start + segment.length / 2, segment.length / 2), kTargetDb,
                            1.5);
                continue;
            }
            // Past the hold and the gate's release (1.25 s), before the
            // look-ahead opens it for the next phrase.
            const std::size_t from = segment.start + segment.length * 13 / 20, frames = segment.length / 5;
            if (from + frames > aligned[0].size())
                continue;
            const double cut = test::RmsDb(reference, from, frames) - test::RmsDb(aligned, from, frames);
            EXPECT_GE(cut, c.lo) << "range " << c.dynamicRange << ", pause at " << segment.start;
            EXPECT_LE(cut, c.hi) << "range " << c.dynamicRange << ", pause at " << segment.start;
        }
    }
}

// Whatever stages run and however hot the input, no sample leaves above full
// scale; with the limiter on, none above its ceiling.
TEST_F(IntraClipFixture, OutputNeverExceedsFullScale)
{
    const test::SpeechLike speech = test::MakeSpeechLike({6, -30, 12}, 1.5, 0.3, -50.0, kRate);
    for (std::int32_t bits : {15, 0, 4, 2, 9}) {
        for (float delayMs : {-200.0f, 0.0f}) {
            IntraClipParam p = DefaultGlobalParam();
            p.ProcessingBlockActiveBitField = bits;
            p.DelayCompensationTime = delayMs;
            SetGlobalParam(p);
            const Planar output = Level(speech.samples, {{IntraClip::kCompressorActive, 1.0f}});
            const float ceiling = (bits & kFinalizeLimiter) ? static_cast<float>(test::FromDb(-1.0)) : 1.0f;
            EXPECT_LE(Peak(output), ceiling + 1e-6f) << "blocks " << bits << ", delay " << delayMs;
        }
    }
}

// The reported latency is where the output lines up with the input.
TEST_F(IntraClipFixture, LatencyIsTheMeasuredDelay)
{
    const std::vector<float> noise = test::Noise(54000, 5);
    Planar input(2, std::vector<float>(noise.size()));
    for (std::size_t i = 0; i < noise.size(); ++i)
        input[0][i] = input[1][i] = 0.2f * noise[i]; // about -19 dB RMS: little gain change
    struct Case {
        float delayMs;
        std::int32_t bits;
    };
    for (const Case& c : {Case{-200, 15}, Case{-50, 15}, Case{0, 15}, Case{-200, 0}, Case{0, 0}, Case{-1e9f, 4}}) {
        IntraClipParam p = DefaultGlobalParam();
        p.DelayCompensationTime = c.delayMs;
        p.ProcessingBlockActiveBitField = c.bits;
        SetGlobalParam(p);
        IntraClip kernel;
        const Planar output = Level(input, {}, 480, &kernel);
        // A 50 ms excerpt of the input looked for in the output.
        constexpr std::size_t kFrom = 2000, kExcerpt = 2400;
        const std::vector<float> excerpt(input[0].begin() + kFrom, input[0].begin() + kFrom + kExcerpt);
        int best = -1;
        double bestCorrelation = 0.0;
        for (std::size_t lag = 0; kFrom + lag + kExcerpt <= output[0].size(); ++lag) {
            const std::vector<float> candidate(output[0].begin() + static_cast<std::ptrdiff_t>(kFrom + lag),
                                               output[0].begin() + static_cast<std::ptrdiff_t>(kFrom + lag + kExcerpt));
            const double correlation = test::Correlation(excerpt, candidate);
            if (correlation > bestCorrelation) {
                bestCorrelation = correlation;
                best = static_cast<int>(lag);
            }
        }
        EXPECT_EQ(best, kernel.GetLatency()) << c.delayMs << " ms, blocks " << c.bits;
        EXPECT_GT(bestCorrelation, 0.9);
    }
}

// NaN, infinite and absurdly large samples count as silence or are held at
// +80 dB: the output stays finite and the phrases after them are leveled as
// before.
TEST_F(IntraClipFixture, BadSamplesDoNotPoisonLaterOutput)
{
    test::SpeechLike speech = test::MakeSpeechLike({-26, -26, -6}, 2.5, 0.5, -62.0, kRate);
    const test::SpeechSegment& first = speech.segments[1];
    for (auto& channel : speech.samples) {
        channel[first.start + 100] = std::numeric_limits<float>::quiet_NaN();
        channel[first.start + 200] = std::numeric_limits<float>::infinity();
        channel[first.start + 300] = -std::numeric_limits<float>::max();
    }
    IntraClip kernel;
    const Planar output = Level(speech.samples, {}, 480, &kernel);
    for (const auto& channel : output)
        for (float v : channel)
            ASSERT_TRUE(std::isfinite(v));
    const std::vector<double> levels = PhraseLevels(speech, Aligned(output, kernel.GetLatency()));
    EXPECT_NEAR(levels[1], kTargetDb, 3.0);
    EXPECT_NEAR(levels[2], kTargetDb, 3.0);
    EXPECT_LE(Peak(output), 1.0f);
}

// A debug mode puts its control curve (dB / 100) into the right channel and
// leaves the left one processed.
TEST_F(IntraClipFixture, DebugModesDrawTheirCurveInTheRightChannel)
{
    const test::SpeechLike speech = test::MakeSpeechLike({-26, -26}, 2.5, 0.8, -62.0, kRate);
    const Planar normal = Level(speech.samples);
    struct Case {
        std::int32_t mode;
        double expected; // in the second half of the last phrase
        double tolerance;
    };
    for (const Case& c : {Case{kShowIntraClipGainCurve, 0.10, 0.01}, Case{kShowMaxGainCurve, 0.10, 1e-6},
                          Case{kShowNoisefloorEstimate, -0.60, 0.03}, Case{kShowNoiseGateGainCurve, 0.0, 1e-6},
                          Case{kShowFinalizeLimiterGainCurve, 0.0, 0.01}}) {
        IntraClipParam p = DefaultGlobalParam();
        p.DebugDisplayMode = c.mode;
        SetGlobalParam(p);
        const Planar output = Level(speech.samples);
        const test::SpeechSegment& last = speech.segments[3];
        for (std::size_t i = last.start + last.length / 2; i < last.start + last.length; i += 997)
            ASSERT_NEAR(output[1][i], c.expected, c.tolerance) << "mode " << c.mode << ", frame " << i;
        EXPECT_EQ(output[0], normal[0]) << "mode " << c.mode;
    }
    // The finalizing compressor is 3:1: a steady square at the target, 24 dB
    // over its threshold, comes out 16 dB down.
    IntraClipParam p = DefaultGlobalParam();
    p.DebugDisplayMode = kShowFinalizeCompressorGainCurve;
    p.FinCompThresh = static_cast<float>(kTargetDb) - 24.0f;
    SetGlobalParam(p);
    Planar square(2, std::vector<float>(3 * kRate));
    for (auto& channel : square)
        for (std::size_t i = 0; i < channel.size(); ++i)
            channel[i] = static_cast<float>((i / 24) % 2 == 0 ? test::FromDb(kTargetDb) : -test::FromDb(kTargetDb));
    EXPECT_NEAR(Level(square)[1].back(), -0.16, 0.003);
}

// A tuning record full of nonsense still gives a working, bounded leveler.
TEST_F(IntraClipFixture, NonsenseTuningIsSurvived)
{
    IntraClipParam p{};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    p.RMSWindowTime = nan;
    p.NumRMSBuckets = -5;
    p.SelBucketIndex = 1000;
    p.MaxGain = 1e30f;
    p.MaxGainDelta = -3.0f;
    p.MinRMSNoise = 10.0f;
    p.MaxRMSNoise = -200.0f;
    p.NoiseGateRatio = nan;
    p.DelayCompensationTime = -1e30f;
    p.FinLimLookAhead = 1e9f;
    p.FinLimCeil = 30.0f;
    p.DebugDisplayMode = 1 << 30;
    p.ProcessingBlockActiveBitField = -1;
    SetGlobalParam(p);
    const test::SpeechLike speech = test::MakeSpeechLike({-26}, 1.0, 0.3, -62.0, kRate);
    IntraClip kernel;
    const Planar output = Level(speech.samples, {{IntraClip::kNoiseGateActive, 1}, {IntraClip::kCompressorActive, 1}});
    EXPECT_LE(kernel.GetLatency(), 48000 + 720);
    for (const auto& channel : output)
        for (float v : channel)
            ASSERT_TRUE(std::isfinite(v) && std::fabs(v) <= 1.0f);
}

} // namespace
} // namespace zoc::dsp::intraclip
