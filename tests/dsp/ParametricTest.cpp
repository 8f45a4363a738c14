#include "dsp/Parametric.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <initializer_list>
#include <numbers>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Measure.h"
#include "tests/support/TestHost.h"

namespace zoc::dsp {
namespace {

using P = Parametric;

using test::Db;

std::vector<float> Sine(float frequency, int rate, int frames, float amplitude = 0.5f)
{
    return test::SineSignal(1, static_cast<std::size_t>(frames), static_cast<float>(rate), frequency, amplitude)[0];
}

/// Amplitude of the `frequency` component in the last `frames` samples
/// (a whole number of periods), by least squares on sine and cosine.
double Amplitude(const std::vector<float>& y, double frequency, double rate, int frames, double* residualRms = nullptr)
{
    double s = 0, c = 0;
    const std::size_t first = y.size() - static_cast<std::size_t>(frames);
    for (std::size_t n = first; n < y.size(); ++n) {
        const double phase = 2.0 * std::numbers::pi * frequency * static_cast<double>(n) / rate;
        s += y[n] * std::sin(phase), c += y[n] * std::cos(phase);
    }
    s *= 2.0 / frames, c *= 2.0 / frames;
    if (residualRms) {
        double energy = 0;
        for (std::size_t n = first; n < y.size(); ++n) {
            const double phase = 2.0 * std::numbers::pi * frequency * static_cast<double>(n) / rate;
            const double e = y[n] - s * std::sin(phase) - c * std::cos(phase);
            energy += e * e;
        }
        *residualRms = std::sqrt(energy / frames);
    }
    return std::hypot(s, c);
}

/// Sets a kernel to `rate` with every band and filter off, then applies
/// `settings` (index, value).
void Flat(P& kernel, int rate, std::initializer_list<std::pair<int, float>> settings = {})
{
    kernel.SetSampleRate(rate);
    for (int band = 0; band < P::kBands; ++band)
        kernel.SetParameter(P::kBand1Enable + 4 * band, 0.0f);
    for (const auto& [index, value] : settings)
        kernel.SetParameter(index, value);
}

TEST(ParametricKernel, PeakGainIsExactAtTheCentreAndEdgesSitAtHalfGain)
{
    struct Case {
        int rate;
        float hertz, decibels, bandwidth;
        float q = 0.0f; // set instead of the bandwidth: centre / bandwidth, to within the warping
    };
    for (const Case& c : {Case{44100, 1000, 12, 500}, Case{48000, 60, -15, 30}, Case{96000, 15000, 9, 6000},
                          Case{44100, 18000, -20, 2000}, Case{48000, 1000, 10, 250, 4}}) {
        P kernel;
        Flat(kernel, c.rate,
             {{P::kBand1Frequency, c.hertz}, {P::kBand1Gain, c.decibels}, {P::kBand1Bandwidth, c.bandwidth},
              {P::kConstantQ, c.q > 0 ? 1.0f : 0.0f}, {P::kBand1Q, c.q}, {P::kBand1Enable, 1.0f}});
        // The sound: a sine at the centre, in steady state.
        const int frames = c.rate;
        std::vector<float> y = Sine(c.hertz, c.rate, frames);
        kernel.Process(y.data(), y.data(), frames);
        EXPECT_NEAR(Db(Amplitude(y, c.hertz, c.rate, c.rate / 2) / 0.5), c.decibels, 0.1) << c.hertz;
        EXPECT_NEAR(Db(kernel.ComputeFilterResponse(c.hertz)), c.decibels, 0.01);
        // The half-gain edges, found on the response, lie `bandwidth` apart.
        auto edge = [&](double inside, double outside) {
            for (int step = 0; step < 60; ++step) {
                const double middle = 0.5 * (inside + outside);
                (std::fabs(Db(kernel.ComputeFilterResponse(middle))) > std::fabs(c.decibels) / 2 ? inside : outside) =
                    middle;
            }
            return inside;
        };
        EXPECT_NEAR(edge(c.hertz, 0.4999 * c.rate) - edge(c.hertz, 0.0), c.bandwidth,
                    (c.q > 0 ? 1e-2 : 1e-3) * c.bandwidth)
            << c.hertz;
    }
}

TEST(ParametricKernel, FiltersAndShelvesFollowAnalyticResponses)
{
    const int rate = 48000;
    const auto warped = [rate](double f) { return std::tan(std::numbers::pi * f / rate); };
    for (int slope : {1, 2, 3, 4, 8}) {
        P kernel;
        Flat(kernel, rate,
             {{P::kHighPassEnable, 1}, {P::kHighPassFrequency, 200}, {P::kHighPassSlope, static_cast<float>(slope)},
              {P::kLowPassEnable, 1}, {P::kLowPassFrequency, 5000}, {P::kLowPassSlope, static_cast<float>(slope)}});
        for (double f : {25.0, 100.0, 200.0, 1000.0, 5000.0, 12000.0}) {
            // Bilinear Butterworth: |H|^2 = 1 / (1 + (tan(pi f/fs) / tan(pi fc/fs))^(+-2n)).
            const double highPass = 1.0 / std::sqrt(1.0 + std::pow(warped(200) / warped(f), 2 * slope));
            const double lowPass = 1.0 / std::sqrt(1.0 + std::pow(warped(f) / warped(5000), 2 * slope));
            EXPECT_NEAR(Db(kernel.ComputeFilterResponse(f)), Db(highPass * lowPass), 0.01) << slope << " " << f;
        }
    }
    for (float order : {0.0f, 1.0f}) {
        P kernel;
        Flat(kernel, rate,
             {{P::kLowShelfEnable, 1}, {P::kLowShelfFrequency, 150}, {P::kLowShelfGain, 10}, {P::kLowShelfOrder, order},
              {P::kHighShelfEnable, 1}, {P::kHighShelfFrequency, 20000}, {P::kHighShelfGain, -8},
              {P::kHighShelfOrder, order}});
        EXPECT_NEAR(Db(kernel.ComputeFilterResponse(1.0)), 10.0, 0.05) << order;  // full shelf below
        EXPECT_NEAR(Db(kernel.ComputeFilterResponse(150.0)), 5.0, 0.05) << order; // half gain at the corner
        EXPECT_NEAR(Db(kernel.ComputeFilterResponse(20000.0)), -4.0, 0.05) << order;
        EXPECT_NEAR(Db(kernel.ComputeFilterResponse(2000.0)), 0.0, order == 0 ? 1.0 : 0.1) << order;
        EXPECT_NEAR(Db(kernel.ComputeFilterResponse(23999.0)), -8.0, 0.05) << order;
        // The low shelf's shape, r the warped frequency over the corner's and
        // A the square root of the gain: first order (j r + A) / (j r + 1 / A),
        // second order the Butterworth A (A - r^2 + j r sqrt(2A)) / (1 - A r^2 + j r sqrt(2A)).
        for (double f : {40.0, 75.0, 300.0, 600.0}) {
            const double a = std::pow(10.0, 10.0 / 40.0), r = warped(f) / warped(150.0);
            const std::complex<double> first = std::complex<double>(a, r) / std::complex<double>(1.0 / a, r);
            const std::complex<double> second = a * std::complex<double>(a - r * r, r * std::sqrt(2.0 * a)) /
                                                std::complex<double>(1.0 - a * r * r, r * std::sqrt(2.0 * a));
            EXPECT_NEAR(Db(kernel.ComputeFilterResponse(f)), Db(std::abs(order == 1.0f ? second : first)), 0.02)
                << order << " " << f;
        }
    }
}

TEST(ParametricKernel, FlatAndBypassPassTheInputExactly)
{
    const std::vector<float> x = test::Noise(4096, 7);
    P kernel; // bands on at 0 dB, everything else off
    std::vector<float> y(x.size());
    kernel.Process(x.data(), y.data(), 4096);
    EXPECT_EQ(y, x);
    kernel.SetParameter(P::kMasterGain, -6);
    EXPECT_NEAR(Db(kernel.ComputeFilterResponse(1000.0)), -6.0, 1e-4);
    kernel.SetParameter(P::kBand1Gain, 12), kernel.SetParameter(P::kHighPassEnable, 1);
    kernel.SetParameter(P::kMasterGain, -6), kernel.SetParameter(P::kBypass, 1);
    kernel.Resume();
    kernel.Process(x.data(), y.data(), 4096);
    EXPECT_EQ(y, x);
    EXPECT_EQ(kernel.ComputeFilterResponse(1000.0), 1.0);
}

TEST(ParametricKernel, ChangesWhilePlayingDoNotClick)
{
    // A 1 kHz sine; settings jump mid-block. The output may never step
    // further between samples than the loudest steady output sine does.
    struct Change {
        int index;
        float from, to;
    };
    const int rate = 44100;
    for (const Change& change :
         {Change{P::kBand1Gain + 8, 0, 15}, Change{P::kBand1Gain + 8, 15, -15}, Change{P::kBypass, 1, 0},
          Change{P::kHighPassEnable, 0, 1}, Change{P::kMasterGain, 0, 12}}) {
        P kernel;
        Flat(kernel, rate,
             {{P::kBand1Frequency + 8, 1000}, {P::kBand1Enable + 8, 1}, {P::kBand1Gain + 8, 15},
              {P::kHighPassFrequency, 900}, {P::kHighPassSlope, 8}, {change.index, change.from}});
        kernel.Resume();
        std::vector<float> y = Sine(1000, rate, 8192, 0.1);
        kernel.Process(y.data(), y.data(), 3000);
        kernel.SetParameter(change.index, change.to);
        kernel.Process(y.data() + 3000, y.data() + 3000, 5192);
        double steadyPeak = 0, largestStep = 0;
        for (std::size_t n = 1; n < y.size(); ++n) {
            largestStep = std::max(largestStep, std::fabs(static_cast<double>(y[n]) - y[n - 1]));
            if (n < 2900 || n > 6000)
                steadyPeak = std::max(steadyPeak, std::fabs(static_cast<double>(y[n])));
        }
        const double sineStep = 2.0 * std::sin(std::numbers::pi * 1000 / rate) * steadyPeak;
        EXPECT_LE(largestStep, sineStep * 1.05) << change.index;
    }
}

TEST(ParametricKernel, UltraQuietLowersTheNoiseFloor)
{
    // Deep low-frequency sections at a high rate: the float path's rounding
    // noise shows as a residual beside the sine (about -139 dB); double
    // precision leaves only the float output's own rounding (about -146 dB).
    double residual[2] = {};
    for (int quiet : {0, 1}) {
        P kernel;
        Flat(kernel, 96000,
             {{P::kUltraQuiet, static_cast<float>(quiet)}, {P::kHighPassEnable, 1}, {P::kHighPassFrequency, 20},
              {P::kHighPassSlope, 8}, {P::kLowShelfEnable, 1}, {P::kLowShelfFrequency, 40}, {P::kLowShelfGain, 12}});
        kernel.Resume();
        std::vector<float> y = Sine(1000, 96000, 96000);
        kernel.Process(y.data(), y.data(), 96000);
        Amplitude(y, 1000, 96000, 48000, &residual[quiet]);
    }
    EXPECT_LT(Db(residual[1] / 0.5), -140.0);
    EXPECT_LT(residual[1] * 2, residual[0]) << Db(residual[0] / 0.5) << " vs " << Db(residual[1] / 0.5);
}

// A rate too low for the frequency range still leaves a valid range and a
// finite response.
TEST(ParametricKernel, TinySampleRatesKeepAValidFrequencyRange)
{
    P kernel;
    kernel.SetSampleRate(20);
    float lo = 0.0f, hi = 0.0f;
    kernel.GetBounds(P::kBand1Frequency, lo, hi);
    EXPECT_LE(lo, hi);
    kernel.SetParameter(P::kBand1Gain, 12.0f);
    kernel.SetParameter(P::kOriginalSampleRate, 48000.0f);
    EXPECT_LE(kernel.GetParameter(P::kBand1Frequency), hi);
    EXPECT_TRUE(std::isfinite(kernel.ComputeFilterResponse(100.0)));
}

} // namespace
} // namespace zoc::dsp
