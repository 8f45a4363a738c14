// The tone kernel on its own: band-limited waveforms, and the real-time and
// robustness rules of processing.

#include "dsp/tones/TonesDSP.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <initializer_list>
#include <limits>
#include <numbers>
#include <utility>
#include <vector>

#include "dsp/FFT.h"
#include "dsp/tones/BandLimitedTables.h"
#include "tests/support/AllocationGuard.h"
#include "tests/support/Measure.h"

namespace zoc::dsp::tones {
namespace {

constexpr int kRate = 48000;
constexpr int kSize = 32768;

/// A kernel at 48 kHz with frequencies in plain hertz and no fades, then
/// `settings` (index, value).
TonesDSP MakeKernel(int flavor, float hertz, int channels = 1,
                    std::initializer_list<std::pair<int, float>> settings = {})
{
    TonesDSP kernel;
    kernel.SetSampleRate(kRate);
    kernel.SetChannels(channels);
    kernel.SetParameter(TonesDSP::kOriginalSampleRate, 0.0f);
    kernel.SetParameter(TonesDSP::kFlavor, static_cast<float>(flavor));
    kernel.SetParameter(TonesDSP::kFrequency, hertz);
    kernel.SetParameter(TonesDSP::kOvertones0, -6.0f);
    kernel.SetParameter(TonesDSP::kNoiseDuration, 0.0f);
    kernel.SetDuration(10 * kRate);
    for (const auto& [index, value] : settings)
        kernel.SetParameter(index, value);
    kernel.Resume();
    return kernel;
}

std::vector<float> RenderMono(TonesDSP& kernel, int frames)
{
    std::vector<float> out(static_cast<std::size_t>(frames));
    float* outputs[] = {out.data()};
    kernel.Process(nullptr, outputs, frames);
    return out;
}

/// Strongest spectral line (dB relative to the strongest) that is not a
/// harmonic of `fundamental` below the Nyquist frequency.
double WorstAliasDb(const std::vector<float>& x, double fundamental)
{
    std::vector<float> windowed(kSize);
    for (int n = 0; n < kSize; ++n) {
        const double phase = 2.0 * std::numbers::pi * n / kSize;
        const double w = 0.35875 - 0.48829 * std::cos(phase) + 0.14128 * std::cos(2 * phase) -
                         0.01168 * std::cos(3 * phase);
        windowed[static_cast<std::size_t>(n)] = static_cast<float>(w * x[static_cast<std::size_t>(n)]);
    }
    RealFFT fft(kSize);
    std::vector<std::complex<float>> bins(static_cast<std::size_t>(fft.BinCount()));
    fft.Forward(windowed.data(), bins.data());
    double peak = 0.0;
    for (const auto& bin : bins)
        peak = std::max(peak, static_cast<double>(std::abs(bin)));
    const double binHz = static_cast<double>(kRate) / kSize;
    double worst = -300.0;
    for (std::size_t k = 1; k < bins.size(); ++k) {
        const double hz = static_cast<double>(k) * binHz;
        const double harmonic = std::round(hz / fundamental);
        if (harmonic >= 1.0 && std::fabs(hz - harmonic * fundamental) <= 5 * binHz)
            continue;
        worst = std::max(worst, test::Db(std::abs(bins[k]) / peak + 1e-30));
    }
    return worst;
}

TEST(TonesDSP, WaveformsFoldNothingBackBelowNyquist)
{
    const struct {
        int flavor;
        float hertz;
        const char* name;
    } cases[] = {
        {TonesDSP::kSawtooth, 15000.0f, "15 kHz sawtooth"}, {TonesDSP::kSawtooth, 3217.0f, "3.2 kHz sawtooth"},
        {TonesDSP::kSquare, 5003.0f, "5 kHz square"},       {TonesDSP::kTriangle, 7001.0f, "7 kHz triangle"},
        {TonesDSP::kSawtooth, 111.0f, "111 Hz sawtooth"},   {TonesDSP::kSine, 19000.0f, "19 kHz sine"},
        {TonesDSP::kSawtooth, 47.0f, "47 Hz sawtooth"},     {TonesDSP::kSquare, 31.0f, "31 Hz square"},
    };
    for (const auto& c : cases) {
        TonesDSP kernel = MakeKernel(c.flavor, c.hertz);
        const std::vector<float> out = RenderMono(kernel, kSize);
        const double alias = WorstAliasDb(out, c.hertz);
        EXPECT_LT(alias, -60.0) << c.name;
        RecordProperty(c.name, std::to_string(alias));
    }
}

TEST(TonesDSP, RichWaveformsKeepTheirHarmonicsAndLevel)
{
    // A 1 kHz sawtooth keeps harmonics up to 20 kHz and peaks near its level.
    TonesDSP kernel = MakeKernel(TonesDSP::kSawtooth, 1000.0f);
    const std::vector<float> out = RenderMono(kernel, kSize);
    const float peak = test::TailPeak(out, out.size());
    EXPECT_LE(peak, 0.5f + 1e-3f);
    EXPECT_GT(peak, 0.4f);
    // Harmonic 20 (20 kHz) of a sawtooth is 26 dB under the fundamental.
    const double h1 = test::MagnitudeAt(std::vector<float>(out.begin(), out.begin() + 9600), 1000.0 / kRate);
    const double h20 = test::MagnitudeAt(std::vector<float>(out.begin(), out.begin() + 9600), 20000.0 / kRate);
    EXPECT_NEAR(test::Db(h20 / h1), test::Db(1.0 / 20.0), 1.0);
    int rising = 0;
    for (std::size_t n = 1; n < out.size(); ++n)
        rising += out[n] > out[n - 1];
    EXPECT_GT(rising, kSize * 8 / 10) << "a sawtooth ramps up and drops";

    // A triangle's third harmonic is 1/9 of its fundamental; a pulse of duty
    // 0.25 is high for a quarter of each cycle.
    TonesDSP triangle = MakeKernel(TonesDSP::kTriangle, 1000.0f);
    const std::vector<float> t = RenderMono(triangle, 9600);
    EXPECT_NEAR(test::Db(test::MagnitudeAt(t, 3000.0 / kRate) / test::MagnitudeAt(t, 1000.0 / kRate)),
                test::Db(1.0 / 9.0), 0.5);
    TonesDSP pulse = MakeKernel(TonesDSP::kSquare, 1000.0f, 1, {{TonesDSP::kSubFlavor, 0.25f}});
    const std::vector<float> p = RenderMono(pulse, 9600);
    EXPECT_NEAR(static_cast<double>(std::count_if(p.begin(), p.end(), [](float v) { return v > 0.0f; })) / 9600.0,
                0.25, 0.03);
    // Just below phase 1 a table reads back towards its first sample: the
    // one-harmonic triangle is a sine of peak 8 / pi^2 there too.
    const auto& sine = BandLimitedTables::Get().Triangle(BandLimitedTables::kTableCount - 1);
    const double pi = std::numbers::pi;
    EXPECT_NEAR(BandLimitedTables::Lookup(sine, 1.0 - 1e-5), -8.0 / (pi * pi) * std::sin(2.0 * pi * 1e-5), 1e-6);
}

// A sine where the settings put it, sample by sample: volume, start phase,
// DC offset, the fade-in, and the mix scaled down to fit under the ceiling
// of 0.97 with the offset (a -6 dB tone over +0.5 gets 0.47).
TEST(TonesDSP, SineLevelPhaseOffsetAndFadeAreExact)
{
    const double amplitude = test::FromDb(-6.0);
    const struct {
        float volume, offset, phase, fadeMs;
        double peak;
    } cases[] = {{-20.0f, 0.5f, 90.0f, 0.0f, 0.1 * amplitude}, {0.0f, 0.75f, 30.0f, 5.0f, 0.47}};
    for (const auto& c : cases) {
        TonesDSP kernel = MakeKernel(TonesDSP::kSine, 997.0f, 1,
                                     {{TonesDSP::kVolume, c.volume}, {TonesDSP::kDCOffset, c.offset},
                                      {TonesDSP::kStartPhase, c.phase}, {TonesDSP::kNoiseDuration, c.fadeMs}});
        const std::vector<float> out = RenderMono(kernel, 4800);
        const double fadeFrames = c.fadeMs * kRate / 1000.0;
        for (std::size_t n = 0; n < out.size(); ++n) {
            const double fade = n < fadeFrames ? 0.5 - 0.5 * std::cos(std::numbers::pi * n / fadeFrames) : 1.0;
            const double tone = c.peak * std::sin(2.0 * std::numbers::pi * (997.0 * n / kRate + c.phase / 360.0));
            ASSERT_NEAR(out[n], fade * (tone + 2.0 * (c.offset - 0.5)), 1e-4) << "volume " << c.volume << " n " << n;
        }
    }
}

TEST(TonesDSP, SteadyProcessingAllocatesNothingAndSurvivesBadInput)
{
    TonesDSP kernel = MakeKernel(TonesDSP::kSquare, 250.0f, 2,
                                 {{TonesDSP::kInteractionMode, static_cast<float>(TonesDSP::kRingModulate)},
                                  {TonesDSP::kLocked, 0.0f}, {TonesDSP::kFinalFrequency, 2000.0f},
                                  {TonesDSP::kModulateBy, 20.0f}, {TonesDSP::kPhaseDiff, 90.0f},
                                  {TonesDSP::kPhaseDeltaQ, 3.0f},
                                  {TonesDSP::kFrequency, std::numeric_limits<float>::quiet_NaN()}}); // NaN ignored
    std::vector<std::vector<float>> in(2, std::vector<float>(512, 0.25f));
    std::vector<std::vector<float>> out(2, std::vector<float>(512));
    float* inputs[] = {in[0].data(), in[1].data()};
    float* outputs[] = {out[0].data(), out[1].data()};
    in[0][100] = std::numeric_limits<float>::quiet_NaN();
    in[1][7] = std::numeric_limits<float>::infinity();
    {
        test::AllocationGuard guard;
        for (int block = 0; block < 20; ++block)
            kernel.Process(inputs, outputs, 512);
    }
    for (const auto& channel : out)
        for (float v : channel)
            ASSERT_TRUE(std::isfinite(v));
}

TEST(TonesDSP, BoundsFollowTheRateAndValuesAreClamped)
{
    TonesDSP kernel;
    kernel.SetSampleRate(96000);
    float lo = 0.0f, hi = 0.0f;
    kernel.GetBounds(TonesDSP::kFrequency, lo, hi);
    EXPECT_EQ(hi, 48000.0f);
    kernel.GetBounds(TonesDSP::kPhaseDeltaQ, lo, hi);
    EXPECT_EQ(hi, 48000.0f);
    kernel.SetParameter(TonesDSP::kRatio0, 5000.0f);
    EXPECT_EQ(kernel.GetParameter(TonesDSP::kRatio0), 1200.0f);
    kernel.SetParameter(TonesDSP::kFrequency, 1000.0f);
    kernel.SetSampleRate(48000);
    EXPECT_EQ(kernel.GetParameter(TonesDSP::kFrequency), 500.0f) << "same fraction of Nyquist";
}

TEST(TonesDSP, ComponentsAboveNyquistFallSilent)
{
    // Fifth component at ratio 100 of 400 Hz: 40 kHz has no place at 48 kHz.
    TonesDSP kernel = MakeKernel(TonesDSP::kSine, 400.0f, 1,
                                 {{TonesDSP::kOvertones0, -60.0f}, {TonesDSP::kEnable0 + 4, 1.0f},
                                  {TonesDSP::kOvertones0 + 4, 0.0f}, {TonesDSP::kRatio0 + 4, 100.0f}});
    EXPECT_EQ(RenderMono(kernel, 4096), std::vector<float>(4096, 0.0f));
}

} // namespace
} // namespace zoc::dsp::tones
