#include "dsp/Stretch.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Measure.h"

namespace zoc::dsp {
namespace {

using Signal = std::vector<std::vector<float>>;

constexpr int kRate = 48000;
constexpr int kBlock = 480;

Signal Sines(std::size_t frames, std::size_t channels, double hz, double amplitude = 0.5,
             double phaseStepDegrees = 0.0)
{
    Signal x(channels, std::vector<float>(frames));
    for (std::size_t c = 0; c < channels; ++c) {
        const double phase = phaseStepDegrees * std::numbers::pi / 180.0 * static_cast<double>(c);
        for (std::size_t i = 0; i < frames; ++i)
            x[c][i] = static_cast<float>(
                amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(i) / kRate + phase));
    }
    return x;
}

Signal Shift(Stretch& shifter, const Signal& x, int block = kBlock)
{
    Signal y(x.size(), std::vector<float>(x[0].size()));
    std::vector<float*> in(x.size()), out(x.size());
    for (std::size_t from = 0; from < x[0].size(); from += static_cast<std::size_t>(block)) {
        const int frames = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(block), x[0].size() - from));
        for (std::size_t c = 0; c < x.size(); ++c) {
            in[c] = const_cast<float*>(x[c].data()) + from;
            out[c] = y[c].data() + from;
        }
        shifter.Process(in.data(), out.data(), frames);
    }
    return y;
}

struct Shifter : Stretch {
    Shifter(double ratio, int channels = 1, float precision = 0.0f)
    {
        SetSampleRate(kRate);
        SetChannels(channels);
        SetParameter(kTransposeRatio, static_cast<float>(ratio));
        SetParameter(kPrecision, precision);
        SetParameter(kUseDefaultSetting, 1.0f);
        Initialize();
    }
};

double Semitones(double semitones) { return std::pow(2.0, semitones / 12.0); }

std::vector<float> Tail(const std::vector<float>& x, std::size_t frames)
{
    return {x.end() - static_cast<std::ptrdiff_t>(frames), x.end()};
}

float MaxStep(const std::vector<float>& x, std::size_t from)
{
    float step = 0.0f;
    for (std::size_t i = from + 1; i < x.size(); ++i)
        step = std::max(step, std::fabs(x[i] - x[i - 1]));
    return step;
}

// A sine comes out at the transposed frequency with nothing else beside it:
// no beat or dip at the splices (they would show as sidebands in the
// residual) and no steps larger than the shifted sine's own slope.
TEST(Stretch, TransposedSineLandsOnTheTargetAndStaysClean)
{
    struct Case {
        double semitones;
        double hz;
        float precision;
        bool fixedSplices; ///< 100 Hz splicing with full fades instead of the default setting
    };
    for (const Case& c : {Case{12, 440, 0, false}, Case{-12, 440, 0, false}, Case{7, 440, 0, false},
                          Case{-7, 440, 0, false}, Case{3, 440, 0, false}, Case{3, 440, 2, false},
                          Case{-1, 1000, 1, false}, Case{5, 220, 0, false}, Case{-12, 440, 0, true}}) {
        Shifter shifter(Semitones(c.semitones), 1, c.precision);
        if (c.fixedSplices) {
            shifter.SetParameter(Stretch::kUseDefaultSetting, 0.0f);
            shifter.SetParameter(Stretch::kFrequency, 100.0f);
            shifter.SetParameter(Stretch::kOverlapping, 1.0f);
        }
        const Signal y = Shift(shifter, Sines(kRate * 2, 1, c.hz));
        const double target = c.hz * Semitones(c.semitones);
        const test::ToneFit fit = test::FitTone(Tail(y[0], 65536), kRate, target);
        const double cents = 1200.0 * std::log2(fit.frequency / target);
        EXPECT_LT(std::fabs(cents), 1.0) << c.semitones << " st, " << c.hz << " Hz";
        EXPECT_NEAR(fit.amplitude, 0.5, 0.01) << c.semitones << " st";
        EXPECT_LT(fit.residualDb, -65.0) << c.semitones << " st, precision " << c.precision;
        const double slope = 0.5 * 2.0 * std::numbers::pi * target / kRate;
        EXPECT_LT(MaxStep(y[0], static_cast<std::size_t>(kRate / 2)), 1.05 * slope) << c.semitones << " st";
    }
    // Two tones no splice can line up both of: the cross-fades still leave
    // no step beyond the slopes.
    Shifter shifter(Semitones(7));
    Signal x = Sines(kRate, 1, 440, 0.25);
    const Signal other = Sines(kRate, 1, 620, 0.25);
    for (std::size_t i = 0; i < x[0].size(); ++i)
        x[0][i] += other[0][i];
    const double slopes = 0.25 * 2.0 * std::numbers::pi * (440 + 620) * Semitones(7) / kRate;
    EXPECT_LT(MaxStep(Shift(shifter, x)[0], kRate / 2), 1.5 * slopes);

    // By default the cross-fades take 0.3 of each splice period at unity,
    // 0.5 more per octave away from it, up to 0.8. On a ramp the output
    // shows where the heads read: off the ramp's slope (times the ratio),
    // two heads are fading (all but a few frames at the fades' ends).
    Shifter octave(2.0);
    Signal ramp(1, std::vector<float>(kRate * 2));
    for (std::size_t i = 0; i < ramp[0].size(); ++i)
        ramp[0][i] = 1e-5f * static_cast<float>(i);
    const std::vector<float> read = Shift(octave, ramp)[0];
    int fading = 0;
    for (std::size_t i = kRate / 2; i < read.size(); ++i)
        fading += std::fabs(read[i] - read[i - 1] - 2e-5f) > 1e-6f;
    EXPECT_NEAR(fading / (1.5 * kRate), 0.8, 0.05);
}

// Reading faster than the input must not fold the top of its band back:
// what would land above the Nyquist frequency is filtered out, what lands
// well below it passes.
TEST(Stretch, UpwardShiftsDoNotFoldTheTopOfTheBand)
{
    auto level = [](double semitones, double hz) {
        Shifter shifter(Semitones(semitones));
        const Signal y = Shift(shifter, Sines(kRate, 1, hz));
        double energy = 0.0;
        for (std::size_t i = kRate / 2; i < kRate; ++i)
            energy += double{y[0][i]} * y[0][i];
        return 10.0 * std::log10(energy / (kRate / 2) / 0.125);
    };
    EXPECT_LT(level(12, 16000), -40.0);
    EXPECT_LT(level(7, 20000), -40.0);
    EXPECT_NEAR(level(12, 6000), 0.0, 0.5);
    EXPECT_NEAR(level(3, 15000), 0.0, 0.5);
}

// At a ratio of 1 the output is the input delayed by the reported latency,
// bit for bit, whatever the splice settings; the latency follows them.
TEST(Stretch, UnityIsTheInputDelayedByTheLatency)
{
    const std::vector<float> noise = test::Noise(kRate, 3);
    int previousLatency = 0;
    for (float precision : {0.0f, 1.0f, 2.0f})
        for (float frequency : {10.0f, 40.0f}) {
            Stretch shifter;
            shifter.SetSampleRate(kRate);
            shifter.SetChannels(2);
            shifter.SetParameter(Stretch::kTransposeRatio, 0.5f + 1.5f * 0.333333f);
            shifter.SetParameter(Stretch::kPrecision, precision);
            shifter.SetParameter(Stretch::kFrequency, frequency);
            shifter.Initialize();
            const int latency = shifter.GetLatency(true);
            EXPECT_NE(latency, previousLatency);
            previousLatency = latency;
            const Signal y = Shift(shifter, Signal{noise, noise}, 333);
            const auto delay = static_cast<std::size_t>(latency);
            for (std::size_t i = 0; i < noise.size(); ++i)
                ASSERT_EQ(y[1][i], i < delay ? 0.0f : noise[i - delay])
                    << "frame " << i << ", precision " << precision << ", " << frequency << " Hz";
        }
}

// A 2 s tone burst, shifted, starts and ends where the latency says (within
// the heads' drift) and keeps its duration.
TEST(Stretch, BurstKeepsItsDurationAndPlace)
{
    for (double semitones : {-12.0, 7.0, 12.0}) {
        Shifter shifter(Semitones(semitones));
        Signal x = Sines(kRate * 3, 1, 440);
        for (std::size_t i = 0; i < x[0].size(); ++i)
            if (i < kRate / 2 || i >= kRate / 2 + 2 * kRate)
                x[0][i] = 0.0f;
        const Signal y = Shift(shifter, x);
        const auto latency = static_cast<double>(shifter.GetLatency(false));
        const double start = static_cast<double>(test::FirstAbove(y[0], 0.1f));
        std::size_t end = y[0].size();
        while (end > 0 && std::fabs(y[0][end - 1]) <= 0.1f)
            --end;
        EXPECT_NEAR(start - latency, kRate / 2, 0.05 * kRate) << semitones;
        EXPECT_NEAR(static_cast<double>(end) - start, 2.0 * kRate, 0.15 * kRate) << semitones;
    }
}

// All channels share the heads: a 30 degree offset between two channels
// survives a shift, and so does a pair of different channels.
TEST(Stretch, ChannelsKeepTheirPhaseRelation)
{
    for (double semitones : {3.0, -7.0}) {
        Shifter shifter(Semitones(semitones), 2);
        const Signal y = Shift(shifter, Sines(kRate * 2, 2, 440, 0.5, 30.0));
        const double target = 440 * Semitones(semitones);
        const test::ToneFit left = test::FitTone(Tail(y[0], 65536), kRate, target);
        const test::ToneFit right = test::FitTone(Tail(y[1], 65536), kRate, target);
        double degrees = (right.phase - left.phase) * 180.0 / std::numbers::pi;
        degrees = std::remainder(degrees, 360.0);
        EXPECT_NEAR(degrees, 30.0, 5.0) << semitones;
    }
}

// Ratio sweeps block by block and splice settings changed while running
// leave no step beyond the sine's slope; a sudden change of the latency
// keeps the output continuous.
TEST(Stretch, SettingsChangedWhileRunningDoNotClick)
{
    Shifter shifter(1.0);
    const Signal x = Sines(kRate * 3, 1, 220, 0.5);
    Signal y(1, std::vector<float>(x[0].size()));
    for (std::size_t from = 0; from < x[0].size(); from += kBlock) {
        const double t = static_cast<double>(from) / kRate;
        shifter.SetParameter(Stretch::kTransposeRatio, static_cast<float>(Semitones(7.0 * std::sin(2.0 * t))));
        if (from == kRate * 2)
            shifter.SetParameter(Stretch::kPrecision, 2.0f);
        float* in[] = {const_cast<float*>(x[0].data()) + from};
        float* out[] = {y[0].data() + from};
        shifter.Process(in, out, kBlock);
    }
    const double slope = 0.5 * 2.0 * std::numbers::pi * 220 * Semitones(7.0) / kRate;
    EXPECT_LT(MaxStep(y[0], kRate / 4), 1.5 * slope);
}

// A sudden jump of ratio, wherever it falls in the splice cycle, plays the
// new pitch at once: no head stops at the edge of its range to play the
// input's own pitch for a while (that showed as the unity tone dominating
// a 20 ms window), and the shortened fades leave no step.
TEST(Stretch, SuddenRatioJumpsPlayOnlyTheNewPitch)
{
    constexpr double kHz = 440.0;
    constexpr std::size_t kWindow = 1024;
    constexpr int kStep = 48;
    auto power = [](const std::vector<float>& x, std::size_t from, double hz) {
        double re = 0.0, im = 0.0;
        for (std::size_t i = 0; i < kWindow; ++i) {
            const double weight = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (static_cast<double>(i) + 0.5) / kWindow);
            const double angle = 2.0 * std::numbers::pi * hz * static_cast<double>(from + i) / kRate;
            re += weight * x[from + i] * std::cos(angle);
            im += weight * x[from + i] * std::sin(angle);
        }
        return re * re + im * im;
    };
    const Signal x = Sines(kRate * 6 / 10, 1, kHz);
    for (const auto& [before, after] : {std::pair{2.0, 0.5}, std::pair{0.5, 2.0}}) {
        const double slope = 0.5 * 2.0 * std::numbers::pi * kHz * 2.0 / kRate;
        for (int k = 0; k < 40; k += 2) {
            Shifter shifter(before);
            const std::size_t jump = kRate / 4 + static_cast<std::size_t>(kStep * k);
            Signal y(1, std::vector<float>(x[0].size()));
            for (std::size_t from = 0; from < x[0].size(); from += kStep) {
                if (from == jump)
                    shifter.SetParameter(Stretch::kTransposeRatio, static_cast<float>(after));
                float* in[] = {const_cast<float*>(x[0].data()) + from};
                float* out[] = {y[0].data() + from};
                shifter.Process(in, out, kStep);
            }
            double unity = 0.0;
            for (std::size_t w = jump; w + kWindow < jump + kRate / 5; w += 256)
                unity = std::max(unity, power(y[0], w, kHz) /
                                            (power(y[0], w, kHz * before) + power(y[0], w, kHz * after)));
            EXPECT_LT(test::Db(std::sqrt(unity)), -30.0) << before << " -> " << after << " at " << k;
            EXPECT_LT(MaxStep(std::vector<float>(y[0].begin() + static_cast<std::ptrdiff_t>(jump),
                                                 y[0].begin() + static_cast<std::ptrdiff_t>(jump + kRate / 5)),
                              0),
                      1.5 * slope);
        }
    }
}

// Non-finite input counts as silence; the same input gives the same output.
TEST(Stretch, NonFiniteInputIsSilenceAndOutputRepeats)
{
    Signal x = Sines(kRate, 2, 330);
    for (std::size_t i = 1000; i < 1200; ++i)
        x[0][i] = i % 2 ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
    Shifter first(Semitones(5), 2), second(Semitones(5), 2);
    const Signal a = Shift(first, x), b = Shift(second, x);
    EXPECT_EQ(a, b);
    for (const auto& channel : a)
        for (float v : channel)
            ASSERT_TRUE(std::isfinite(v) && std::fabs(v) <= 1.0f);
}

} // namespace
} // namespace zoc::dsp
