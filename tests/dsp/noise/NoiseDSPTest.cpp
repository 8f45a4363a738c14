// The noise kernel measured: spectral slopes per colour, the grey curve,
// channel relations per style, levels, edges, drift, determinism, and the
// real-time and robustness rules of processing.

#include "dsp/noise/NoiseDSP.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <numeric>
#include <vector>

#include "dsp/FFT.h"
#include "dsp/noise/ColorFilters.h"
#include "dsp/noise/EqualLoudness.h"
#include "dsp/noise/GreyFilter.h"
#include "tests/support/AllocationGuard.h"
#include "tests/support/Measure.h"

namespace zoc::dsp::noise {
namespace {

using test::Correlation;
using test::Rms;

constexpr int kRate = 48000;
using Channels = std::vector<std::vector<float>>;

struct Settings {
    int color = NoiseDSP::kWhite;
    int style = NoiseDSP::kIndependent;
    float intensity = 35.0f;
    float distance = 0.5f;
    float offset = 0.5f;
    int channels = 2;
    int mode = 0; ///< 1 adds the noise to the input
};

NoiseDSP MakeKernel(const Settings& setup, long long frames)
{
    NoiseDSP kernel;
    kernel.SetSampleRate(kRate);
    kernel.SetChannels(setup.channels);
    kernel.SetParameter(NoiseDSP::kColor, static_cast<float>(setup.color));
    kernel.SetParameter(NoiseDSP::kStyle, static_cast<float>(setup.style));
    kernel.SetParameter(NoiseDSP::kIntensity, setup.intensity);
    kernel.SetParameter(NoiseDSP::kDistance, setup.distance);
    kernel.SetParameter(NoiseDSP::kDCOffset, setup.offset);
    kernel.SetParameter(NoiseDSP::kOperationMode, static_cast<float>(setup.mode));
    kernel.SetDuration(frames);
    kernel.Resume();
    return kernel;
}

Channels RunKernel(NoiseDSP& kernel, int channels, long long frames, int block = 4096)
{
    Channels out(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(frames)));
    std::vector<float*> pointers(static_cast<std::size_t>(channels));
    for (long long done = 0; done < frames;) {
        const int n = static_cast<int>(std::min<long long>(block, frames - done));
        for (std::size_t c = 0; c < out.size(); ++c)
            pointers[c] = out[c].data() + done;
        kernel.Process(nullptr, pointers.data(), n);
        done += n;
    }
    return out;
}

Channels Render(const Settings& setup, double seconds)
{
    const auto frames = static_cast<long long>(seconds * kRate);
    NoiseDSP kernel = MakeKernel(setup, frames);
    return RunKernel(kernel, setup.channels, frames);
}

/// Averaged periodogram (Hann, half overlap): power per bin.
std::vector<double> PowerSpectrum(const std::vector<float>& x, int size = 16384)
{
    RealFFT fft(size);
    std::vector<double> power(static_cast<std::size_t>(fft.BinCount()), 0.0);
    std::vector<float> frame(static_cast<std::size_t>(size));
    std::vector<std::complex<float>> bins(power.size());
    int frames = 0;
    for (std::size_t start = 0; start + static_cast<std::size_t>(size) <= x.size(); start += size / 2, ++frames) {
        for (int n = 0; n < size; ++n)
            frame[static_cast<std::size_t>(n)] = static_cast<float>(
                x[start + static_cast<std::size_t>(n)] * (0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / size)));
        fft.Forward(frame.data(), bins.data());
        for (std::size_t k = 0; k < bins.size(); ++k)
            power[k] += std::norm(bins[k]);
    }
    for (double& p : power)
        p /= frames;
    return power;
}

/// Third-octave bands from 50 Hz to 10 kHz: centre and mean density (dB).
struct Band {
    double hertz;
    double db;
};
std::vector<Band> Bands(const std::vector<double>& power, int size = 16384)
{
    std::vector<Band> bands;
    for (double centre = 50.0; centre <= 10001.0; centre *= std::pow(2.0, 1.0 / 3.0)) {
        const double lo = centre * std::pow(2.0, -1.0 / 6.0);
        const double hi = centre * std::pow(2.0, 1.0 / 6.0);
        double sum = 0.0;
        int count = 0;
        for (std::size_t k = 1; k < power.size(); ++k) {
            const double hertz = static_cast<double>(k) * kRate / size;
            if (hertz >= lo && hertz < hi) {
                sum += power[k];
                ++count;
            }
        }
        bands.push_back({centre, 10.0 * std::log10(sum / count)});
    }
    return bands;
}

/// Least-squares slope of the band levels in dB per octave, and the largest
/// deviation from that line.
std::pair<double, double> Slope(const std::vector<Band>& bands)
{
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const auto n = static_cast<double>(bands.size());
    for (const Band& b : bands) {
        const double x = std::log2(b.hertz);
        sx += x;
        sy += b.db;
        sxx += x * x;
        sxy += x * b.db;
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    const double intercept = (sy - slope * sx) / n;
    double worst = 0.0;
    for (const Band& b : bands)
        worst = std::max(worst, std::abs(b.db - (intercept + slope * std::log2(b.hertz))));
    return {slope, worst};
}

/// Sample-to-sample differences: whitens brown noise, whose slow swings
/// would otherwise leave too few independent samples in a short render to
/// estimate a correlation near zero.
std::vector<float> Differences(const std::vector<float>& x)
{
    std::vector<float> d(x.size() - 1);
    for (std::size_t n = 1; n < x.size(); ++n)
        d[n - 1] = x[n] - x[n - 1];
    return d;
}

TEST(NoiseDSP, ColoursHaveTheirSlopeOverTheAudioBand)
{
    struct Case {
        int color;
        double slope; ///< dB per octave
    };
    for (const Case& c : {Case{NoiseDSP::kWhite, 0.0}, Case{NoiseDSP::kPink, -3.01}, Case{NoiseDSP::kBrown, -6.02}}) {
        SCOPED_TRACE(c.color);
        const Channels out = Render({.color = c.color, .channels = 1}, 30.0);
        const auto [slope, ripple] = Slope(Bands(PowerSpectrum(out[0])));
        EXPECT_NEAR(slope, c.slope, 0.5);
        // Third-octave bands of 30 s scatter by about 0.3 dB at 50 Hz.
        EXPECT_LT(ripple, 1.0);
    }
}

TEST(NoiseDSP, ColourFiltersKeepTheirSlopeAtEveryRate)
{
    for (const int rate : {8000, 44100, 48000, 96000, 192000, 384000}) {
        SCOPED_TRACE(rate);
        PinkFilter pink;
        BrownFilter brown;
        pink.Design(rate);
        brown.Design(rate);
        // Octave steps up to an eighth of the rate; above, nearer the
        // Nyquist frequency, both slopes ease by a few tenths of a dB.
        for (double f = 40.0; 2.0 * f <= std::min(10000.0, rate / 8.0); f *= 1.5) {
            EXPECT_NEAR(20.0 * std::log10(pink.Magnitude(2.0 * f) / pink.Magnitude(f)), -3.01, 0.15) << f;
            EXPECT_NEAR(20.0 * std::log10(brown.Magnitude(2.0 * f) / brown.Magnitude(f)), -6.02, 0.3) << f;
        }
    }
}

TEST(NoiseDSP, GreyFollowsTheInverseFortyPhonContour)
{
    const Channels out = Render({.color = NoiseDSP::kGrey, .channels = 1}, 30.0);
    const std::vector<Band> bands = Bands(PowerSpectrum(out[0]));
    // The level is free; the shape is compared after removing the mean.
    double offset = 0.0;
    for (const Band& b : bands)
        offset += b.db - GreyTargetDb(b.hertz);
    offset /= static_cast<double>(bands.size());
    for (const Band& b : bands)
        EXPECT_NEAR(b.db - offset, GreyTargetDb(b.hertz), 3.0) << b.hertz << " Hz";
}

TEST(NoiseDSP, FortyPhonContourMatchesThePublishedLevels)
{
    struct Point {
        double hertz;
        double spl;
    };
    for (const Point p : {Point{20, 99.85}, Point{50, 77.78}, Point{100, 64.37}, Point{1000, 40.01},
                          Point{3150, 35.61}, Point{4000, 36.65}, Point{8000, 51.80}, Point{12500, 51.49}})
        EXPECT_NEAR(EqualLoudnessLevel(p.hertz, 40.0), p.spl, 0.05) << p.hertz << " Hz";
    EXPECT_NEAR(GreyTargetDb(1000.0), 0.0, 1e-9);
    EXPECT_NEAR(GreyTargetDb(100.0), 64.37 - 40.01, 0.05);
    // Below the table the target falls away instead of holding +60 dB to DC.
    EXPECT_LT(GreyTargetDb(5.0), GreyTargetDb(20.0) - 20.0);
}

TEST(NoiseDSP, StylesRelateTheChannels)
{
    struct Case {
        int style;
        double correlation;
    };
    for (const Case& c : {Case{NoiseDSP::kIndependent, 0.0}, Case{NoiseDSP::kMono, 1.0},
                          Case{NoiseDSP::kInverse, -1.0}}) {
        SCOPED_TRACE(c.style);
        for (const int color : {NoiseDSP::kBrown, NoiseDSP::kWhite, NoiseDSP::kGrey}) {
            const Channels out = Render({.color = color, .style = c.style}, 2.0);
            EXPECT_NEAR(Correlation(Differences(out[0]), Differences(out[1])), c.correlation, 0.05)
                << "colour " << color;
            if (c.style == NoiseDSP::kMono) {
                EXPECT_EQ(out[0], out[1]);
            }
            if (c.style == NoiseDSP::kInverse) {
                for (std::size_t n = 0; n < out[0].size(); n += 997)
                    ASSERT_EQ(out[1][n], -out[0][n]);
            }
        }
    }
}

TEST(NoiseDSP, SpatialStereoDelaysTheSecondChannelByTheDistance)
{
    for (const float milliseconds : {0.0f, 0.25f, 0.7f, 1.0f}) {
        SCOPED_TRACE(milliseconds);
        const Channels out = Render({.style = NoiseDSP::kSpatialStereo, .distance = milliseconds}, 1.0);
        int best = -1;
        double peak = -1.0;
        for (int lag = 0; lag <= 60; ++lag) {
            const double r = Correlation(out[0], out[1], lag);
            if (r > peak) {
                peak = r;
                best = lag;
            }
        }
        const double expected = milliseconds * 0.001 * kRate;
        EXPECT_LE(std::abs(best - expected), 0.5 + 1e-9);
        EXPECT_GT(peak, 0.6);
        // The allpass keeps both channels at the same level.
        EXPECT_NEAR(Rms(out[1]) / Rms(out[0]), 1.0, 0.02);
    }
}

TEST(NoiseDSP, IntensitySetsTheRmsAndNothingClips)
{
    for (const int color : {NoiseDSP::kBrown, NoiseDSP::kPink, NoiseDSP::kWhite, NoiseDSP::kGrey}) {
        for (const float intensity : {0.0f, 35.0f, 38.0f}) {
            SCOPED_TRACE(testing::Message() << "colour " << color << " intensity " << intensity);
            const Channels out = Render({.color = color, .intensity = intensity, .channels = 1}, 10.0);
            const double db = 20.0 * std::log10(Rms(out[0], kRate / 10));
            // Brown noise swings slowly: ten seconds hold few independent
            // samples, so its measured RMS scatters by about 0.5 dB. 35 is -21 dBFS.
            EXPECT_NEAR(db, intensity - 56.0, color == NoiseDSP::kBrown ? 1.0 : 0.5);
            EXPECT_LT(test::TailPeak(out[0], out[0].size()), 0.9f);
        }
    }
}

TEST(NoiseDSP, OffsetShiftsTheNoiseWithinFullScale)
{
    for (const float setting : {0.75f, 0.0f, 1.0f}) {
        SCOPED_TRACE(setting);
        const Channels out = Render({.color = NoiseDSP::kPink, .intensity = 38.0f, .offset = setting}, 2.0);
        const double expected = 2.0 * (setting - 0.5);
        const std::vector<float>& x = out[0];
        const std::size_t from = kRate / 10;
        const double mean = std::accumulate(x.begin() + from, x.end() - from, 0.0) /
                            static_cast<double>(x.size() - 2 * from);
        EXPECT_NEAR(mean, expected, 0.01);
        for (float sample : x)
            ASSERT_LE(std::abs(sample), 1.0f);
        // The full offset leaves no room for noise: the bare 10 ms fade-in.
        for (std::size_t n = 0; setting == 1.0f && n <= 480; ++n)
            ASSERT_NEAR(x[n], n < 480 ? 0.5 - 0.5 * std::cos(std::numbers::pi * (n + 0.5) / 480.0) : 1.0, 1e-6) << n;
    }
}

TEST(NoiseDSP, StartsAndEndsWithoutAClickThenFallsSilent)
{
    for (const int color : {NoiseDSP::kBrown, NoiseDSP::kGrey}) {
        SCOPED_TRACE(color);
        const long long duration = kRate / 2;
        NoiseDSP kernel = MakeKernel({.color = color, .intensity = 38.0f, .offset = 0.75f}, duration);
        const Channels out = RunKernel(kernel, 2, duration + 1000, 333);
        const std::vector<float>& x = out[0];
        EXPECT_LT(std::abs(x[0]), 1e-3f);
        EXPECT_LT(std::abs(x[static_cast<std::size_t>(duration - 1)]), 1e-3f);
        // No step between samples anywhere near the edges larger than the
        // noise makes in its body.
        float body = 0.0f;
        for (std::size_t n = kRate / 10; n < static_cast<std::size_t>(duration) - kRate / 10; ++n)
            body = std::max(body, std::abs(x[n] - x[n - 1]));
        for (std::size_t n = 1; n < 480; ++n)
            EXPECT_LE(std::abs(x[n] - x[n - 1]), body);
        for (auto n = static_cast<std::size_t>(duration); n < x.size(); ++n)
            ASSERT_EQ(x[n], 0.0f);
    }
}

TEST(NoiseDSP, BrownDoesNotDriftOverAMinute)
{
    const Channels out = Render({.color = NoiseDSP::kBrown, .channels = 1}, 60.0);
    const std::vector<float>& x = out[0];
    const double mean = std::accumulate(x.begin(), x.end(), 0.0) / static_cast<double>(x.size());
    EXPECT_LT(std::abs(mean), 0.1 * Rms(x));
    // Nor does any ten-second stretch wander off.
    for (std::size_t start = 0; start < x.size(); start += 10 * kRate) {
        const double part = std::accumulate(x.begin() + start, x.begin() + start + 10 * kRate, 0.0) / (10.0 * kRate);
        EXPECT_LT(std::abs(part), 0.25 * Rms(x));
    }
}

TEST(NoiseDSP, SameSettingsGiveTheSameSamples)
{
    const Settings setup{.color = NoiseDSP::kGrey, .style = NoiseDSP::kSpatialStereo};
    NoiseDSP kernel = MakeKernel(setup, kRate);
    const Channels first = RunKernel(kernel, 2, kRate, 4096);
    kernel.Resume();
    EXPECT_EQ(RunKernel(kernel, 2, kRate, 100), first);
    NoiseDSP other = MakeKernel(setup, kRate);
    EXPECT_EQ(RunKernel(other, 2, kRate, 1), first);
}

TEST(NoiseDSP, AddModeMixesOntoTheInputAndSurvivesBadSamples)
{
    NoiseDSP kernel = MakeKernel({.intensity = 0.0f, .channels = 1, .mode = 1}, 2048); // -56 dBFS
    std::vector<float> buffer(4096, 0.25f);
    buffer[100] = std::numeric_limits<float>::quiet_NaN();
    buffer[101] = std::numeric_limits<float>::infinity();
    float* pointer = buffer.data();
    kernel.Process(&pointer, &pointer, 4096); // in place
    for (std::size_t n = 0; n < buffer.size(); ++n) {
        ASSERT_TRUE(std::isfinite(buffer[n])) << n;
        if (n != 100 && n != 101) {
            EXPECT_NEAR(buffer[n], 0.25f, 0.01f);
        }
    }
    EXPECT_EQ(buffer[3000], 0.25f); // past the duration: the input untouched
}

TEST(NoiseDSP, ProcessDoesNotAllocate)
{
    for (const int color : {NoiseDSP::kPink, NoiseDSP::kGrey}) {
        NoiseDSP kernel = MakeKernel({.color = color, .style = NoiseDSP::kSpatialStereo, .distance = 0.7f}, kRate);
        std::vector<float> left(10000);
        std::vector<float> right(10000);
        float* outputs[] = {left.data(), right.data()};
        test::AllocationGuard guard;
        kernel.Process(nullptr, outputs, 10000);
        kernel.Process(nullptr, outputs, 7);
    }
}

} // namespace
} // namespace zoc::dsp::noise
