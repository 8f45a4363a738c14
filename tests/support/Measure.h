#pragma once
// Measurements the signal tests share: decibels, the response of a measured
// impulse response, noise, peaks and onsets.

#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>
#include <vector>

namespace zoc::test {

inline double Db(double linear) { return 20.0 * std::log10(linear); }
inline double FromDb(double decibels) { return std::pow(10.0, decibels / 20.0); }

/// |sum of h[n] e^(-i 2 pi f n)|, with `f` a fraction of the sample rate.
template <typename Sample> double MagnitudeAt(const std::vector<Sample>& h, double f)
{
    const std::complex<double> step = std::polar(1.0, -2.0 * std::numbers::pi * f);
    std::complex<double> sum, phasor = 1.0;
    for (Sample value : h) {
        sum += static_cast<double>(value) * phasor;
        phasor *= step;
    }
    return std::abs(sum);
}

/// The DFT of re + i im by its definition, in double precision: `sign` -1
/// for the forward transform, +1 for the unscaled inverse.
std::vector<std::complex<double>> Dft(const std::vector<float>& re, const std::vector<float>& im, int sign);
/// RMS of x over [from, to) (to the end when `to` is 0).
double Rms(const std::vector<float>& x, std::size_t from = 0, std::size_t to = 0);
/// `n` values uniform in [-1, 1), the same for the same seed.
std::vector<float> Noise(std::size_t n, unsigned seed);
/// Largest |x| over the last `frames` samples.
float TailPeak(const std::vector<float>& x, std::size_t frames);
/// Normalized cross-correlation of a[n] with b[n + lag].
double Correlation(const std::vector<float>& a, const std::vector<float>& b, int lag = 0);
/// Index of the first sample with |x| above `threshold`; x.size() when none is.
std::size_t FirstAbove(const std::vector<float>& x, float threshold = 0.0f);

/// A sinusoid found in a signal: its frequency (Hz, from the peak of a
/// Hann-windowed transform, refined between bins), the amplitude and phase
/// of the least-squares fit at that frequency, and the level of what the fit
/// leaves (everything that is not that sinusoid) relative to it, in dB.
struct ToneFit {
    double frequency;
    double amplitude;
    double phase;
    double residualDb;
};
/// Looks for the strongest sinusoid within `guessHz` × (1 ± `share`).
ToneFit FitTone(const std::vector<float>& x, double sampleRate, double guessHz, double share = 0.03);

} // namespace zoc::test
