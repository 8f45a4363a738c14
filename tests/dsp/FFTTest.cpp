#include "dsp/FFT.h"
#include "tests/support/Measure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <numeric>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <vector>

using zoc::dsp::ComplexFFT;
using zoc::dsp::ComplexFFTDouble;
using zoc::dsp::RealFFT;
using zoc::dsp::WindowType;
using cfloat = std::complex<float>;
using zoc::test::Noise;

namespace {

std::vector<cfloat> Spectrum(RealFFT& fft, const std::vector<float>& x)
{
    std::vector<cfloat> bins(static_cast<std::size_t>(fft.BinCount()));
    fft.Forward(x.data(), bins.data());
    return bins;
}

} // namespace

TEST(FFT, SinusoidLandsInItsBinWithItsAmplitudeAndPhase)
{
    for (int n : {256, 255}) {
        const int k = 10;
        const double amplitude = 0.75, phase = 0.3, dc = 0.125;
        std::vector<float> x(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i)
            x[i] = static_cast<float>(dc + amplitude * std::cos(2 * std::numbers::pi * k * i / n + phase));
        RealFFT fft(n);
        const auto bins = Spectrum(fft, x);
        EXPECT_NEAR(std::abs(bins[k]), amplitude * n / 2, 1e-3);
        EXPECT_NEAR(std::arg(bins[k]), phase, 1e-4);
        EXPECT_NEAR(bins[0].real(), dc * n, 1e-3);
        for (int b = 1; b < fft.BinCount(); ++b) {
            if (b != k) {
                EXPECT_LT(std::abs(bins[b]), 1e-3) << "leak into bin " << b;
            }
        }
    }
}

TEST(FFT, InverseOfForwardIsSizeTimesInputAndParsevalHolds)
{
    for (int n : {1, 2, 7, 64, 1000, 4097}) {
        const auto x = Noise(n + 1, 1);
        RealFFT fft(n);
        // Deliberately misaligned caller buffers: the object copies through its own.
        std::vector<cfloat> bins(static_cast<std::size_t>(fft.BinCount()) + 1);
        std::vector<float> y(x.size(), 0.0f);
        fft.Forward(x.data() + 1, bins.data() + 1);
        const auto binsBefore = bins;
        fft.Inverse(bins.data() + 1, y.data() + 1);
        EXPECT_EQ(bins, binsBefore) << "Inverse changed its input";
        double timeEnergy = 0, freqEnergy = 0;
        for (int i = 1; i <= n; ++i) {
            EXPECT_NEAR(y[i], n * x[i], 1e-5 * n) << "n=" << n << " i=" << i;
            timeEnergy += double(x[i]) * x[i];
        }
        for (int b = 0; b < fft.BinCount(); ++b) {
            const bool unpaired = b == 0 || (n % 2 == 0 && b == n / 2);
            freqEnergy += (unpaired ? 1.0 : 2.0) * std::norm(std::complex<double>(bins[b + 1]));
        }
        EXPECT_NEAR(freqEnergy / n, timeEnergy, 1e-5 * timeEnergy) << "n=" << n;
    }
    EXPECT_THROW(RealFFT(0), std::invalid_argument);
    EXPECT_THROW(ComplexFFT(-4), std::invalid_argument);
    EXPECT_THROW(ComplexFFTDouble(0), std::invalid_argument);
}

template <typename Real, typename Transform>
void ExpectComplexTransformsMatchNaiveDft(int n, double tolerance)
{
    const auto re = Noise(n, 2), im = Noise(n, 3);
    std::vector<std::complex<Real>> x(n), forward(n), inverse(n);
    for (int i = 0; i < n; ++i) x[i] = {re[i], im[i]};
    Transform fft(n);
    fft.Forward(x.data(), forward.data());
    fft.Inverse(x.data(), inverse.data());
    const auto f = zoc::test::Dft(re, im, -1), b = zoc::test::Dft(re, im, 1);
    for (int k = 0; k < n; ++k) {
        EXPECT_LT(std::abs(std::complex<double>(forward[k]) - f[k]), tolerance) << "n=" << n << " k=" << k;
        EXPECT_LT(std::abs(std::complex<double>(inverse[k]) - b[k]), tolerance) << "n=" << n << " k=" << k;
    }
}

TEST(FFT, ComplexTransformsMatchNaiveDft)
{
    ExpectComplexTransformsMatchNaiveDft<float, ComplexFFT>(64, 1e-4);
    // Double precision keeps long transforms within rounding of the exact sums.
    for (int n : {64, 100, 1024})
        ExpectComplexTransformsMatchNaiveDft<double, ComplexFFTDouble>(n, 1e-11);
}

TEST(FFT, DoubleTransformInPlaceMatchesCopyingFormAndRoundTrips)
{
    const int n = 4096;
    const auto re = Noise(n, 6), im = Noise(n, 7);
    std::vector<std::complex<double>> x(n), copied(n);
    for (int i = 0; i < n; ++i) x[i] = {re[i], im[i]};
    ComplexFFTDouble fft(n);
    fft.Forward(x.data(), copied.data());
    std::copy(x.begin(), x.end(), fft.Data());
    fft.Forward();
    EXPECT_TRUE(std::equal(copied.begin(), copied.end(), fft.Data()));
    fft.Inverse();
    double worst = 0.0;
    for (int i = 0; i < n; ++i) worst = std::max(worst, std::abs(fft.Data()[i] / double(n) - x[i]));
    EXPECT_LT(worst, 1e-14);
    // The copying form works on the caller's array in place too.
    fft.Inverse(copied.data(), copied.data());
    EXPECT_LT(std::abs(copied[17] / double(n) - x[17]), 1e-14);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(fft.Data()) % 16, 0u);
}

TEST(FFT, SeparateAndMovedObjectsGiveBitIdenticalResults)
{
    const auto x = Noise(480, 4);
    RealFFT a(480), b(480);
    const auto expected = Spectrum(a, x);
    EXPECT_EQ(Spectrum(b, x), expected);
    RealFFT moved(std::move(b));
    EXPECT_EQ(Spectrum(moved, x), expected);
    b = std::move(moved);
    EXPECT_EQ(Spectrum(b, x), expected);
}

TEST(FFTWindow, SymmetricAndPeriodicForms)
{
    // Value at the ends, and a quarter period in, where cos(x) = cos(3x) = 0 and cos(2x) = -1.
    const std::tuple<WindowType, float, float> cases[] = {
        {WindowType::Hann, 0.0f, 0.5f},           {WindowType::Hamming, 0.08f, 0.54f},
        {WindowType::Blackman, 0.0f, 0.34f},      {WindowType::BlackmanHarris, 0.00006f, 0.21747f},
        {WindowType::Rectangular, 1.0f, 1.0f},
    };
    for (const auto& [type, atEnds, atQuarter] : cases) {
        for (int n : {16, 17}) {
            std::vector<float> periodic(n), symmetric(n), longer(n + 1);
            zoc::dsp::GetFFTWindow(type, periodic.data(), n);
            zoc::dsp::GetFFTWindow(type, symmetric.data(), n, false);
            zoc::dsp::GetFFTWindow(type, longer.data(), n + 1, false);
            for (int i = 0; i < n; ++i) {
                EXPECT_EQ(symmetric[i], symmetric[n - 1 - i]) << "n=" << n << " i=" << i;
                EXPECT_EQ(periodic[i], i == 0 ? periodic[0] : periodic[n - i]) << "n=" << n << " i=" << i;
                EXPECT_EQ(periodic[i], longer[i]) << "periodic is not the start of symmetric n+1";
            }
            EXPECT_NEAR(symmetric[0], atEnds, 1e-6f);
            EXPECT_NEAR(periodic[0], atEnds, 1e-6f);
            EXPECT_NEAR(n == 16 ? periodic[4] : symmetric[4], atQuarter, 1e-6f);
        }
    }
    for (int n : {2, 1023, 1024}) {
        std::vector<float> hann(static_cast<std::size_t>(n));
        zoc::dsp::GetFFTWindow(WindowType::Hann, hann.data(), n);
        EXPECT_NEAR(std::accumulate(hann.begin(), hann.end(), 0.0), n / 2.0, 1e-4) << "n=" << n;
    }
    float edge[2] = {0.0f, -1.0f};
    zoc::dsp::GetFFTWindow(WindowType::Hamming, edge, 1, false); // no division by size - 1 = 0
    zoc::dsp::GetFFTWindow(WindowType::Hann, edge + 1, 0);
    EXPECT_EQ(edge[0], 1.0f);
    EXPECT_EQ(edge[1], -1.0f);
}

TEST(FFTThreaded, ConcurrentConstructionUseAndDestruction)
{
    const int sizes[] = {64, 100, 256, 1000, 2048};
    const auto x = Noise(2048, 5);
    std::vector<std::vector<cfloat>> expected;
    for (int n : sizes) {
        RealFFT fft(n);
        expected.push_back(Spectrum(fft, x));
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 40; ++round) {
                const int s = (t + round) % 5;
                RealFFT fft(sizes[s]);
                ComplexFFT alongside(sizes[(s + 1) % 5]);
                ComplexFFTDouble precise(sizes[(s + 2) % 5]);
                mismatches += Spectrum(fft, x) != expected[s];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}
