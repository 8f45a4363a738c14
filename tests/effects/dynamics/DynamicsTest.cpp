#include "effects/dynamics/Dynamics.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "platform/core/String.h"
#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

namespace zoc::components {
namespace {

using test::Signal;
using test::Db;
using test::TailPeak;

constexpr float kRate = 44100.0f;

/// The level the RMS detector reports for a sine of this amplitude.
double SineRmsLevel(double amplitude) { return 10.0 * std::log10(amplitude * amplitude * 32768.0 * 32768.0 / 2.0) - 89.08; }

struct DynamicsFixture : ::testing::Test {
    core::Ref<Dynamics> dynamics{new Dynamics};
    test::TestHost host{dynamics};

    // Level smoothing with equal attack and release averages the detector's
    // ripple in dB instead of riding its peaks, so steady tones settle on
    // the level their RMS gives.
    DynamicsFixture()
    {
        SetReal(Dynamics::kGainAttackTime, 50.0f);
        SetReal(Dynamics::kGainReleaseTime, 50.0f);
    }

    void SetReal(int index, float value)
    {
        dynamics->SetParameter(index, dynamics->GetParameterInfo(index)->ToNormalized(value));
    }
    /// Points as (input dB, output dB) pairs.
    void SetCurve(std::initializer_list<std::pair<float, float>> points)
    {
        SetReal(Dynamics::kXYCount, static_cast<float>(points.size()));
        int index = Dynamics::kLocation1;
        for (const auto& [x, y] : points) {
            SetReal(index++, x);
            SetReal(index++, y);
        }
    }
    /// Gain in dB over the last 0.1 s of a sine of `amplitude` run through.
    double SineGainDb(float amplitude, std::size_t frames = 22050, float hertz = 5000.0f)
    {
        return Db(TailPeak(host.Run(test::SineSignal(1, frames, kRate, hertz, amplitude))[0], 4410) / amplitude);
    }
    /// A compressor: unity up to -40 dB, 4:1 above.
    void SetFourToOne() { SetCurve({{-100.0f, -100.0f}, {-40.0f, -40.0f}, {0.0f, -30.0f}}); }
};

TEST_F(DynamicsFixture, HostValuesAreSanitizedSnappedAndRounded)
{
    host.Configure(2, 48000.0f);
    // The cutoffs reach the new Nyquist frequency and the high one moves there.
    EXPECT_EQ(dynamics->GetParameterInfo(Dynamics::kHighCutoff)->FromNormalized(1.0f), 24000.0f);
    EXPECT_EQ(dynamics->GetParameter(Dynamics::kHighCutoff), 1.0f);

    for (float garbage : {NAN, 1.5f, -2.0f}) {
        dynamics->SetParameter(Dynamics::kInputGain, 0.9f);
        dynamics->SetParameter(Dynamics::kInputGain, garbage);
        EXPECT_EQ(dynamics->GetParameter(Dynamics::kInputGain), 0.5f) << garbage;
    }
    dynamics->SetParameter(Dynamics::kGainAttackTime, -0.5f);
    EXPECT_EQ(dynamics->GetParameter(Dynamics::kGainAttackTime), 0.0f);
    dynamics->SetParameter(Dynamics::kLinkChannels, 0.6f);
    EXPECT_EQ(dynamics->GetParameter(Dynamics::kLinkChannels), 1.0f);
    dynamics->SetParameter(Dynamics::kEnvelopeOnly, 0.4f);
    EXPECT_EQ(dynamics->GetParameter(Dynamics::kEnvelopeOnly), 0.0f);
    // Half a pair rounds down, anything more up.
    SetReal(Dynamics::kXYCount, 3.5f);
    EXPECT_FLOAT_EQ(dynamics->GetParameter(Dynamics::kXYCount), 3.0f / 7.0f);
    SetReal(Dynamics::kXYCount, 3.51f);
    EXPECT_FLOAT_EQ(dynamics->GetParameter(Dynamics::kXYCount), 4.0f / 7.0f);
}

TEST_F(DynamicsFixture, LatencyFollowsLookaheadAndBandEdges)
{
    host.Configure(1, kRate);
    // 132 frames of lookahead, a 7-tap band filter and 32 frames.
    EXPECT_EQ(dynamics->GetInitialDelay(), 171);
    // The identity curve passes the input through, exactly that late.
    const Signal out = host.Run(test::ImpulseSignal(1, 400, 5), 64);
    EXPECT_EQ(test::FirstAbove(out[0], 1e-6f), 176u);
    EXPECT_NEAR(out[0][176], 1.0f, 1e-6f);

    SetReal(Dynamics::kLowCutoff, 400.0f); // half-length 1.5 periods of 400 Hz: 165
    EXPECT_EQ(dynamics->GetInitialDelay(), 132 + 331 + 32);
    SetReal(Dynamics::kLowCutoff, 20.0f);
    SetReal(Dynamics::kHighCutoff, 30.0f); // both edges below 40 Hz: 160
    EXPECT_EQ(dynamics->GetInitialDelay(), 132 + 321 + 32);
    SetReal(Dynamics::kHighCutoff, 200.0f); // upper edge: trunc(44100 / 200 * 1.5) = 330, capped at 256
    EXPECT_EQ(dynamics->GetInitialDelay(), 132 + 513 + 32);
}

TEST_F(DynamicsFixture, SteadySineSettlesToTheGainOfTheCurve)
{
    host.Configure(1, kRate);
    SetFourToOne();
    SetReal(Dynamics::kMakeupGain, 6.0f);
    const double level = SineRmsLevel(0.5);
    EXPECT_NEAR(SineGainDb(0.5f, 44100), (-40.0 + (level + 40.0) / 4.0) - level + 6.0, 0.1);

    // Input gain counts twice on the output path: once into the detector and
    // the lines, once more at the output.
    SetReal(Dynamics::kMakeupGain, 0.0f);
    SetReal(Dynamics::kInputGain, -6.0f);
    const double quieter = level - 6.0;
    EXPECT_NEAR(SineGainDb(0.5f, 44100), (-40.0 + (quieter + 40.0) / 4.0) - quieter - 12.0, 0.1);
}

// One bad sample must neither poison the output after it (an infinite level
// turned the gain into NaN for good) nor leave the detector stuck (a NaN
// level read as silence, so the compressor stopped compressing).
TEST_F(DynamicsFixture, OneBadSampleLeavesNoTraceASecondLater)
{
    host.Configure(1, kRate);
    SetFourToOne();
    const Signal clean = test::SineSignal(1, 3 * 44100, kRate, 441.0f, 0.5f);
    const float cleanPeak = TailPeak(host.Run(clean)[0], 4410);
    for (float bad : {std::numeric_limits<float>::infinity(), 1e20f, std::numeric_limits<float>::quiet_NaN()}) {
        Signal input = clean;
        input[0][44100] = bad;
        const std::vector<float> out = host.Run(input)[0];
        EXPECT_EQ(std::count_if(out.begin() + 2 * 44100, out.end(), [](float x) { return !std::isfinite(x); }), 0)
            << bad;
        EXPECT_NEAR(TailPeak(out, 4410), cleanPeak, 1e-4f) << bad;
    }
}

/// A square wave of `amplitude` (period 100 frames): its RMS level is steady,
/// so the gain it settles on is the curve's gain at exactly that level.
Signal Square(float amplitude, std::size_t frames)
{
    Signal square(1, std::vector<float>(frames));
    for (std::size_t i = 0; i < frames; ++i)
        square[0][i] = (i / 50) % 2 == 0 ? amplitude : -amplitude;
    return square;
}

/// The RMS detector's level for a square of this amplitude.
double SquareRmsLevel(double amplitude) { return 20.0 * std::log10(amplitude * 32768.0) - 89.08; }

/// The curves' outputs at 0 dB (a) and -1 dB (b): above 0 dB the curve goes
/// on as the line through them, so the gain is (a - b) L + a - L.
struct AboveZeroCase { const char* name; std::initializer_list<std::pair<float, float>> points; double a; double b; };

TEST_F(DynamicsFixture, LevelsAboveFullScaleContinueTheCurve)
{
    host.Configure(1, kRate);
    const AboveZeroCase cases[] = {
        {"identity", {{-100.0f, -100.0f}, {-20.0f, -20.0f}, {0.0f, 0.0f}}, 0.0, -1.0},
        {"4:1 above -40 dB", {{-100.0f, -100.0f}, {-40.0f, -40.0f}, {0.0f, -30.0f}}, -30.0, -30.25},
        {"limiter at -6 dB", {{-100.0f, -100.0f}, {-6.0f, -6.0f}, {0.0f, -6.0f}}, -6.0, -6.0},
    };
    for (const AboveZeroCase& c : cases) {
        SetCurve(c.points);
        auto expectedGain = [&](double level) { return (c.a - c.b) * level + c.a - level; };
        // A full-scale square (RMS level +1.23 dB) ...
        SetReal(Dynamics::kInputGain, 0.0f);
        const Signal square = Square(1.0f, 44100);
        const double squareGain = Db(TailPeak(host.Run(square)[0], 4410));
        EXPECT_NEAR(squareGain, expectedGain(SquareRmsLevel(1.0)), 0.05) << c.name;
        // ... and a sine with +12 dB input gain (which counts twice on the output).
        SetReal(Dynamics::kInputGain, 12.0f);
        const double level = SineRmsLevel(0.5 * test::FromDb(12.0));
        ASSERT_GT(level, 4.0);
        EXPECT_NEAR(SineGainDb(0.5f), 24.0 + expectedGain(level), 0.2) << c.name;
    }
}

/// Envelope-only output with no curve and every smoother instant is the
/// detector's own level: 10^(level / 20) per frame.
struct DetectorFixture : DynamicsFixture {
    explicit DetectorFixture()
    {
        SetReal(Dynamics::kXYCount, 0.0f);
        SetReal(Dynamics::kEnvelopeOnly, 1.0f);
        for (int time : {Dynamics::kLevelAttackTime, Dynamics::kLevelReleaseTime, Dynamics::kGainAttackTime,
                         Dynamics::kGainReleaseTime})
            SetReal(time, 0.0f);
        host.Configure(1, kRate);
    }
    void SetRms(bool rms) { dynamics->SetParameter(Dynamics::kPeakRMS, rms ? 1.0f : 0.0f); }
};

TEST_F(DetectorFixture, DetectedLevelsMatchTheirAnalyticValues)
{
    struct Case {
        const char* name;
        bool rms;
        Signal input;
        double level; // dB
    };
    const Case cases[] = {
        {"RMS, sine 0.5", true, test::SineSignal(1, 22050, kRate, 1000.0f, 0.5f), SineRmsLevel(0.5)},
        {"RMS, sine 0.01", true, test::SineSignal(1, 22050, kRate, 1000.0f, 0.01f), SineRmsLevel(0.01)},
        {"RMS, constant 0.25", true, test::ConstantSignal(1, 22050, 0.25f), SquareRmsLevel(0.25)},
        {"peak, constant 0.25", false, test::ConstantSignal(1, 22050, 0.25f), Db(0.25)},
    };
    for (const Case& c : cases) {
        SetRms(c.rms);
        const std::vector<float> out = host.Run(c.input)[0];
        // The RMS detector ripples at twice the tone's frequency; its mean
        // power over whole periods of the tone is the tone's.
        double power = 0.0;
        const std::size_t frames = 4410;
        for (std::size_t k = out.size() - frames; k < out.size(); ++k)
            power += c.rms ? static_cast<double>(out[k]) * out[k] : std::fabs(out[k]);
        const double level = c.rms ? 10.0 * std::log10(power / frames) : Db(power / frames);
        EXPECT_NEAR(level, c.level, 0.01) << c.name;
    }
}

TEST_F(DetectorFixture, StepResponseTimes)
{
    // A step to 0.5 after 0.1 s of silence, and back to silence 0.1 s later.
    Signal input = test::ConstantSignal(1, 13230, 0.5f);
    std::fill(input[0].begin(), input[0].begin() + 4410, 0.0f);
    std::fill(input[0].begin() + 8820, input[0].end(), 0.0f);
    struct Case {
        bool rms;
        double full;      // the settled output
        std::size_t rise; // frames after the first risen frame until 90 % of full
        std::size_t fall; // frames after the first fallen frame until 10 % of full
    };
    // RMS: power smoothed by 0.92 per frame, so the amplitude reaches 90 % on
    // frame ln(1 - 0.9^2) / ln 0.92 = 19.9 and falls to 10 % on frame
    // ln(0.1^2) / ln 0.92 = 55.2. Peak: 0.05 per frame, there at once.
    const Case cases[] = {{true, test::FromDb(SquareRmsLevel(0.5)), 19, 55}, {false, 0.5, 0, 0}};
    for (const Case& c : cases) {
        SetRms(c.rms);
        const std::vector<float> out = host.Run(input)[0];
        const std::size_t start = test::FirstAbove(out, static_cast<float>(1e-3 * c.full));
        ASSERT_LT(start, out.size());
        const std::size_t risen = test::FirstAbove(out, static_cast<float>(0.9 * c.full));
        EXPECT_EQ(risen - start, c.rise) << "rms " << c.rms;
        EXPECT_NEAR(out[start + 2000], c.full, 1e-3 * c.full) << "rms " << c.rms;
        // The step ends 4410 frames after it began.
        std::size_t fallen = start + 4410;
        while (fallen < out.size() && out[fallen] > 0.1 * c.full)
            ++fallen;
        EXPECT_EQ(fallen - (start + 4410), c.fall) << "rms " << c.rms;
    }
}

// The gain glides on the level-detector times: falling on the attack time,
// rising on the release time, each step within 1 % of its end after that
// time. Constant levels through the peak detector settle in a frame or two.
TEST_F(DetectorFixture, GainGlidesOnTheLevelDetectorTimes)
{
    SetRms(false);
    SetFourToOne();
    SetReal(Dynamics::kLevelAttackTime, 20.0f);   // 882 frames
    SetReal(Dynamics::kLevelReleaseTime, 100.0f); // 4410 frames
    struct Case { float from, to; std::size_t frames; };
    for (const Case& c : {Case{0.05f, 0.5f, 882}, Case{0.5f, 0.05f, 4410}}) {
        Signal input = test::ConstantSignal(1, 22050, c.from);
        std::fill(input[0].begin() + 11025, input[0].end(), c.to);
        const std::vector<float> out = host.Run(input)[0];
        // Envelope only: the output is the level times the gain.
        const double before = out[11000] / c.from;
        const double after = out.back() / c.to;
        std::size_t step = 10000;
        while (std::fabs(out[step] / c.from - before) < 1e-4 * before)
            ++step;
        std::size_t settled = step + 4;
        while (std::fabs(out[settled] / c.to - after) > 0.01 * std::fabs(before - after))
            ++settled;
        EXPECT_NEAR(static_cast<double>(settled - step), static_cast<double>(c.frames), 0.01 * c.frames + 3.0) << c.from;
    }
}

TEST_F(DynamicsFixture, NoPresetStepsInGainAtFullScale)
{
    host.Configure(1, kRate);
    const double belowAmplitude = test::FromDb(-0.1 - SquareRmsLevel(1.0));
    const double aboveAmplitude = test::FromDb(0.1 - SquareRmsLevel(1.0));
    for (int preset = 0; preset < dynamics->GetNumFactoryPresets(); ++preset) {
        dynamics->SetFactoryPreset(preset);
        // The band filter only shapes what the detector hears; open it so the
        // detector sees the square's level.
        SetReal(Dynamics::kLowCutoff, 20.0f);
        SetReal(Dynamics::kHighCutoff, kRate / 2);
        double gains[2];
        for (int side = 0; side < 2; ++side) {
            const auto amplitude = static_cast<float>(side == 0 ? belowAmplitude : aboveAmplitude);
            gains[side] = Db(TailPeak(host.Run(Square(amplitude, 66150))[0], 4410) / amplitude);
        }
        EXPECT_LT(std::fabs(gains[1] - gains[0]), 1.0) << core::ToUtf8(dynamics->GetFactoryPresetName(preset));
    }
}

TEST_F(DynamicsFixture, BandLimitedProcessingLeavesTheRestUntouched)
{
    host.Configure(1, kRate);
    dynamics->SetFactoryPreset(8); // DeEsser Hard: about 4 to 12 kHz, limits the band above -35 dB
    EXPECT_NEAR(SineGainDb(0.5f, 22050, 200.0f), 0.0, 0.1);
    EXPECT_LT(SineGainDb(0.5f, 22050, 8000.0f), -20.0);
}

TEST_F(DynamicsFixture, StartupMuteAfterLookaheadOrCutoffChangeButNotAfterCurveChange)
{
    host.Configure(1, kRate);
    const Signal steady = test::ConstantSignal(1, 8192, 0.25f);
    host.Run(steady);
    // Curve changes keep the lines and states: the output runs on.
    SetCurve({{-100.0f, -100.0f}, {-30.0f, -30.0f}, {0.0f, -10.0f}});
    EXPECT_EQ(test::FirstAbove(host.Run(steady, 512, false)[0], 1e-6f), 0u);

    // A rebuild mutes 10 ms with lookahead, then the rebuilt (empty) line
    // plays out: mute + line length.
    SetReal(Dynamics::kLookaheadTime, 10.0f);
    EXPECT_EQ(test::FirstAbove(host.Run(steady, 512, false)[0], 1e-6f), 441u + 480u);
    // With a band limit at unity gain, the band and the rest add up to the input.
    SetReal(Dynamics::kHighCutoff, 10000.0f);
    const auto delay = static_cast<std::size_t>(dynamics->GetInitialDelay());
    EXPECT_EQ(test::FirstAbove(host.Run(steady, 512, false)[0], 1e-6f), 441u + delay);
    // Without lookahead the mute lasts the level release time (100 ms).
    SetReal(Dynamics::kHighCutoff, kRate / 2);
    SetReal(Dynamics::kLookaheadTime, 0.0f);
    EXPECT_EQ(test::FirstAbove(host.Run(steady, 512, false)[0], 1e-6f), 4410u + 39u);
    // Resume starts without the mute.
    SetReal(Dynamics::kLookaheadTime, 3.0f);
    EXPECT_EQ(test::FirstAbove(host.Run(steady)[0], 1e-6f), 171u);
}

TEST_F(DynamicsFixture, LinkedChannelsTakeTheGainOfTheLoudest)
{
    host.Configure(2, kRate);
    SetCurve({{-100.0f, -100.0f}, {-20.0f, -20.0f}, {0.0f, -15.0f}});
    Signal input = test::SineSignal(2, 44100, kRate, 5000.0f, 0.5f);
    for (float& sample : input[1])
        sample *= 0.1f; // -20 dB: below the knee on its own
    for (bool link : {false, true}) {
        dynamics->SetParameter(Dynamics::kLinkChannels, link ? 1.0f : 0.0f);
        const Signal out = host.Run(input);
        const double ratio = TailPeak(out[1], 4410) / TailPeak(out[0], 4410);
        const double loud = SineRmsLevel(0.5);
        const double leftGain = (-20.0 + (loud + 20.0) / 4.0) - loud;
        EXPECT_NEAR(Db(ratio), link ? -20.0 : -20.0 - leftGain, 0.1) << "link " << link;
        EXPECT_NEAR(Db(TailPeak(out[0], 4410) / 0.5), leftGain, 0.1) << "link " << link;
    }
}

// The side-chain bus follows the main layout: stereo beside stereo, else mono.
TEST_F(DynamicsFixture, SideChainBusFollowsTheLayoutAndItsFirstChannelDrivesTheGain)
{
    ASSERT_TRUE(dynamics->CanUseSideChaining());
    for (std::size_t channels : {1u, 6u, 2u}) {
        host.Configure(channels, kRate);
        const auto& buses = dynamics->GetInputBuses();
        ASSERT_EQ(buses.size(), 2u);
        EXPECT_EQ(buses[1].GetType(), host::AudioFilterBusDescription::kSideChain);
        EXPECT_EQ(buses[1].GetChannelCount(), channels == 2 ? 2u : 1u);
    }
    SetFourToOne();
    const double loud = SineRmsLevel(0.5);
    const double duck = (-40.0 + (loud + 40.0) / 4.0) - loud;
    // Main: a quiet tone, unity on its own. Side-chain: one loud, one silent channel.
    Signal input = test::SineSignal(4, 44100, kRate, 5000.0f, 0.5f);
    for (int channel : {0, 1})
        for (float& sample : input[static_cast<std::size_t>(channel)])
            sample *= 0.01f;
    host.GetSession().SetSideChain(2);
    for (std::size_t loudSide : {2u, 3u}) {
        std::fill(input[5 - loudSide].begin(), input[5 - loudSide].end(), 0.0f);
        input[loudSide] = test::SineSignal(1, 44100, kRate, 5000.0f, 0.5f)[0];
        const Signal out = host.Run(input);
        for (int channel : {0, 1})
            EXPECT_NEAR(Db(TailPeak(out[static_cast<std::size_t>(channel)], 4410) / 0.005),
                        loudSide == 2 ? duck : 0.0, 0.1)
                << "loud side-chain channel " << loudSide;
    }
    // Disconnected, the main input drives itself again.
    host.GetSession().SetSideChain(0);
    input.resize(2);
    const Signal alone = host.Run(input);
    EXPECT_NEAR(Db(TailPeak(alone[0], 4410) / 0.005), 0.0, 0.1);
}

TEST_F(DynamicsFixture, CurveDataAndItsEdgeCases)
{
    std::vector<float> curve;
    ASSERT_TRUE(dynamics->GetCurveData(0, 6, curve));
    for (std::size_t k = 0; k < 6; ++k)
        EXPECT_FLOAT_EQ(curve[k], -100.0f + 20.0f * static_cast<float>(k));
    EXPECT_FALSE(dynamics->GetCurveData(1, 6, curve));
    EXPECT_FALSE(dynamics->GetCurveData(0, 0, curve));

    SetFourToOne();
    ASSERT_TRUE(dynamics->GetCurveData(0, 3, curve));
    EXPECT_EQ(curve, (std::vector<float>{-100.0f, -50.0f, -30.0f}));
    // A spline through the same points stays between them (monotone).
    dynamics->SetParameter(Dynamics::kSplineCurves, 1.0f);
    ASSERT_TRUE(dynamics->GetCurveData(0, 101, curve));
    EXPECT_TRUE(std::is_sorted(curve.begin(), curve.end()));
    EXPECT_FLOAT_EQ(curve[60], -40.0f);
    dynamics->SetParameter(Dynamics::kSplineCurves, 0.0f);

    // One point: a flat output level; one value is drawn at -100 dB.
    SetCurve({{-30.0f, -10.0f}});
    ASSERT_TRUE(dynamics->GetCurveData(0, 1, curve));
    EXPECT_EQ(curve, std::vector<float>{-10.0f});
    host.Configure(1, kRate);
    for (float amplitude : {0.05f, 0.5f}) // the output level is -10 dB at any input level
        EXPECT_NEAR(SineRmsLevel(amplitude) + SineGainDb(amplitude), -10.0, 0.1) << amplitude;

    // No points: no curve to draw, and unity gain at every level.
    SetReal(Dynamics::kXYCount, 0.0f);
    EXPECT_FALSE(dynamics->GetCurveData(0, 6, curve));
    SetReal(Dynamics::kInputGain, 12.0f);
    EXPECT_NEAR(SineGainDb(0.5f), 24.0, 0.01);
}

} // namespace
} // namespace zoc::components
