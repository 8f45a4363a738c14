#include "tests/support/Measure.h"

#include <algorithm>
#include <random>

namespace zoc::test {

std::vector<std::complex<double>> Dft(const std::vector<float>& re, const std::vector<float>& im, int sign)
{
    const std::size_t n = re.size();
    std::vector<std::complex<double>> out(n);
    for (std::size_t k = 0; k < n; ++k)
        for (std::size_t t = 0; t < n; ++t)
            out[k] += std::complex<double>(re[t], im[t]) *
                      std::polar(1.0, sign * 2.0 * std::numbers::pi * static_cast<double>((k * t) % n) / n);
    return out;
}

double Rms(const std::vector<float>& x, std::size_t from, std::size_t to)
{
    if (to == 0)
        to = x.size();
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i)
        sum += static_cast<double>(x[i]) * x[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

std::vector<float> Noise(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::vector<float> values(n);
    for (float& value : values)
        value = uniform(random);
    return values;
}

float TailPeak(const std::vector<float>& x, std::size_t frames)
{
    float peak = 0.0f;
    for (std::size_t i = x.size() - std::min(frames, x.size()); i < x.size(); ++i)
        peak = std::fmax(peak, std::fabs(x[i]));
    return peak;
}

std::size_t FirstAbove(const std::vector<float>& x, float threshold)
{
    const auto found = std::find_if(x.begin(), x.end(), [threshold](float v) { return std::fabs(v) > threshold; });
    return static_cast<std::size_t>(found - x.begin());
}

namespace {

/// |sum of hann[n] x[n] e^(-i 2 pi f n / rate)|.
double WindowedMagnitude(const std::vector<float>& x, double rate, double frequency)
{
    const double n = static_cast<double>(x.size());
    const std::complex<double> step = std::polar(1.0, -2.0 * std::numbers::pi * frequency / rate);
    const std::complex<double> windowStep = std::polar(1.0, 2.0 * std::numbers::pi / n);
    std::complex<double> sum, phasor = 1.0, windowPhasor = 1.0;
    for (float value : x) {
        sum += (0.5 - 0.5 * windowPhasor.real()) * static_cast<double>(value) * phasor;
        phasor *= step;
        windowPhasor *= windowStep;
    }
    return std::abs(sum);
}

} // namespace

ToneFit FitTone(const std::vector<float>& x, double sampleRate, double guessHz, double share)
{
    const double binHz = sampleRate / static_cast<double>(x.size());
    const double gridHz = binHz / 4.0;
    double best = guessHz, bestMagnitude = -1.0;
    for (double f = guessHz * (1.0 - share); f <= guessHz * (1.0 + share); f += gridHz)
        if (const double m = WindowedMagnitude(x, sampleRate, f); m > bestMagnitude) {
            bestMagnitude = m;
            best = f;
        }
    // The window's main lobe is smooth and single-peaked within a grid step.
    double lo = best - gridHz, hi = best + gridHz;
    for (int iteration = 0; iteration < 40; ++iteration) {
        const double a = lo + (hi - lo) / 3.0, b = hi - (hi - lo) / 3.0;
        if (WindowedMagnitude(x, sampleRate, a) < WindowedMagnitude(x, sampleRate, b))
            lo = a;
        else
            hi = b;
    }
    const double frequency = (lo + hi) / 2.0;

    // Least squares on cos and sin at that frequency.
    double cc = 0.0, ss = 0.0, cs = 0.0, xc = 0.0, xs = 0.0;
    const double omega = 2.0 * std::numbers::pi * frequency / sampleRate;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double c = std::cos(omega * static_cast<double>(i)), s = std::sin(omega * static_cast<double>(i));
        cc += c * c, ss += s * s, cs += c * s, xc += x[i] * c, xs += x[i] * s;
    }
    const double det = cc * ss - cs * cs;
    const double a = (xc * ss - xs * cs) / det, b = (xs * cc - xc * cs) / det;
    double fitEnergy = 0.0, residualEnergy = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double fit = a * std::cos(omega * static_cast<double>(i)) + b * std::sin(omega * static_cast<double>(i));
        fitEnergy += fit * fit;
        residualEnergy += (x[i] - fit) * (x[i] - fit);
    }
    return {frequency, std::hypot(a, b), std::atan2(-b, a), 10.0 * std::log10(residualEnergy / fitEnergy + 1e-30)};
}

double Correlation(const std::vector<float>& a, const std::vector<float>& b, int lag)
{
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t n = 0; n + static_cast<std::size_t>(lag) < a.size(); ++n) {
        const double x = a[n];
        const double y = b[n + static_cast<std::size_t>(lag)];
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return ab / std::sqrt(aa * bb);
}

} // namespace zoc::test
