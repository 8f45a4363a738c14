#include "dsp/FFT.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

using zoc::dsp::ComplexFFT;
using zoc::dsp::RealFFT;
using zoc::dsp::WindowType;
using cfloat = std::complex<float>;

namespace {

std::vector<float> Noise(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(static_cast<std::size_t>(n));
    for (auto& x : v) x = dist(rng);
    return v;
}

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
        ASSERT_EQ(bins.size(), static_cast<std::size_t>(n / 2 + 1));
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
}

TEST(FFT, ComplexTransformsMatchNaiveDft)
{
    const int n = 64;
    const auto re = Noise(n, 2), im = Noise(n, 3);
    std::vector<cfloat> x(n), forward(n), inverse(n);
    for (int i = 0; i < n; ++i) x[i] = {re[i], im[i]};
    ComplexFFT fft(n);
    fft.Forward(x.data(), forward.data());
    fft.Inverse(x.data(), inverse.data());
    for (int k = 0; k < n; ++k) {
        std::complex<double> f, b;
        for (int i = 0; i < n; ++i) {
            const double angle = 2 * std::numbers::pi * ((i * k) % n) / n;
            f += std::complex<double>(x[i]) * std::polar(1.0, -angle);
            b += std::complex<double>(x[i]) * std::polar(1.0, angle);
        }
        EXPECT_LT(std::abs(std::complex<double>(forward[k]) - f), 1e-4) << "k=" << k;
        EXPECT_LT(std::abs(std::complex<double>(inverse[k]) - b), 1e-4) << "k=" << k;
    }
}

TEST(FFT, SeparateAndMovedObjectsGiveBitIdenticalResults)
{
    const auto x = Noise(480, 4);
    RealFFT a(480), b(480);
    const auto expected = Spectrum(a, x);
    EXPECT_EQ(Spectrum(b, x), expected);
    RealFFT moved(std::move(b));
    EXPECT_EQ(b.Size(), 0);
    EXPECT_EQ(Spectrum(moved, x), expected);
    a = RealFFT(16);
    EXPECT_EQ(a.Size(), 16);
}

TEST(FFTWindow, SymmetricAndPeriodicForms)
{
    const WindowType types[] = {WindowType::Hann, WindowType::Hamming, WindowType::Blackman,
                                WindowType::BlackmanHarris, WindowType::Rectangular};
    // Value at a quarter period, where cos(x) = cos(3x) = 0 and cos(2x) = -1.
    const float atQuarter[] = {0.5f, 0.54f, 0.34f, 0.21747f, 1.0f};
    const float atEnds[] = {0.0f, 0.08f, 0.0f, 0.00006f, 1.0f};
    for (int t = 0; t < 5; ++t) {
        for (int n : {16, 17}) {
            std::vector<float> periodic(n), symmetric(n), longer(n + 1);
            zoc::dsp::GetFFTWindow(types[t], periodic.data(), n);
            zoc::dsp::GetFFTWindow(types[t], symmetric.data(), n, false);
            zoc::dsp::GetFFTWindow(types[t], longer.data(), n + 1, false);
            for (int i = 0; i < n; ++i) {
                EXPECT_EQ(symmetric[i], symmetric[n - 1 - i]) << "t=" << t << " n=" << n << " i=" << i;
                if (i > 0) {
                    EXPECT_EQ(periodic[i], periodic[n - i]);
                }
                EXPECT_EQ(periodic[i], longer[i]) << "periodic is the start of the symmetric n+1";
            }
            EXPECT_NEAR(symmetric[0], atEnds[t], 1e-6f);
            EXPECT_NEAR(periodic[0], atEnds[t], 1e-6f);
            if (n == 16) {
                EXPECT_NEAR(periodic[4], atQuarter[t], 1e-6f);
            }
        }
    }
    for (int n : {2, 1023, 1024}) {
        std::vector<float> hann(static_cast<std::size_t>(n));
        zoc::dsp::GetFFTWindow(WindowType::Hann, hann.data(), n);
        double sum = 0;
        for (float w : hann) sum += w;
        EXPECT_NEAR(sum, n / 2.0, 1e-4) << "n=" << n;
    }
    float one[2] = {0.0f, -1.0f};
    zoc::dsp::GetFFTWindow(WindowType::Hamming, one, 1, false);
    EXPECT_EQ(one[0], 1.0f);
    zoc::dsp::GetFFTWindow(WindowType::Hann, one + 1, 0);
    EXPECT_EQ(one[1], -1.0f);
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
                ComplexFFT complexFft(sizes[(s + 1) % 5]);
                if (Spectrum(fft, x) != expected[s]) ++mismatches;
                std::vector<cfloat> data(static_cast<std::size_t>(complexFft.Size()), cfloat(1.0f, 0.0f));
                complexFft.Forward(data.data(), data.data());
                if (data[0] != cfloat(float(complexFft.Size()), 0.0f)) ++mismatches;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}
