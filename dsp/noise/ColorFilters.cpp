// Designs of the pink and brown filters and their unit-variance scaling.

#include "dsp/noise/ColorFilters.h"

#include <cmath>
#include <complex>
#include <numbers>

namespace zoc::dsp::noise {
namespace {

/// Power gain for white noise: the mean of |H|^2 over 0..Nyquist, on a grid
/// fine enough for poles down to a few hertz.
template <class Magnitude> double PowerGain(Magnitude magnitude, int rate)
{
    constexpr int kPoints = 1 << 16;
    double sum = 0.0;
    for (int m = 0; m < kPoints; ++m) {
        const double hertz = (m + 0.5) / kPoints * 0.5 * rate;
        const double h = magnitude(hertz);
        sum += h * h;
    }
    return sum / kPoints;
}

std::complex<double> UnitDelay(double hertz, int rate)
{
    return std::polar(1.0, -2.0 * std::numbers::pi * hertz / rate);
}

} // namespace

void PinkFilter::Design(int rate)
{
    if (rate == rate_)
        return;
    rate_ = rate;
    // The cascade prod (1 - b_k q) / (1 - a_k q), q = 1/z ...
    std::array<double, kMaxBranches> zeros{};
    branches_ = 0;
    const double nyquist = 0.5 * rate;
    for (double pole = kLowestPole; pole < nyquist && branches_ < kMaxBranches; pole *= 4.0) {
        const auto k = static_cast<std::size_t>(branches_++);
        pole_[k] = std::exp(-2.0 * std::numbers::pi * pole / rate);
        zeros[k] = std::exp(-2.0 * std::numbers::pi * pole * 2.0 / rate);
    }
    // ... as direct + sum w_k / (1 - a_k q): the direct term is its value at
    // q -> infinity, each weight its residue at q = 1/a_k.
    direct_ = 1.0;
    for (int k = 0; k < branches_; ++k)
        direct_ *= zeros[static_cast<std::size_t>(k)] / pole_[static_cast<std::size_t>(k)];
    for (int k = 0; k < branches_; ++k) {
        const double a = pole_[static_cast<std::size_t>(k)];
        double weight = 1.0;
        for (int j = 0; j < branches_; ++j) {
            weight *= 1.0 - zeros[static_cast<std::size_t>(j)] / a;
            if (j != k)
                weight /= 1.0 - pole_[static_cast<std::size_t>(j)] / a;
        }
        weight_[static_cast<std::size_t>(k)] = weight;
    }
    const double scale = 1.0 / std::sqrt(PowerGain([this](double hertz) { return Magnitude(hertz); }, rate));
    direct_ *= scale;
    for (double& weight : weight_)
        weight *= scale;
    Reset();
}

double PinkFilter::Magnitude(double hertz) const
{
    const std::complex<double> z1 = UnitDelay(hertz, rate_);
    std::complex<double> h = direct_;
    for (int k = 0; k < branches_; ++k)
        h += weight_[static_cast<std::size_t>(k)] / (1.0 - pole_[static_cast<std::size_t>(k)] * z1);
    return std::abs(h);
}

void BrownFilter::Design(int rate)
{
    if (rate == rate_)
        return;
    rate_ = rate;
    pole_ = std::exp(-2.0 * std::numbers::pi * kLeak / rate);
    gain_ = 1.0;
    // A one-pole filter fed unit-variance noise has variance 1 / (1 - pole^2).
    gain_ = std::sqrt(1.0 - pole_ * pole_);
    Reset();
}

double BrownFilter::Magnitude(double hertz) const
{
    return gain_ / std::abs(1.0 - pole_ * UnitDelay(hertz, rate_));
}

} // namespace zoc::dsp::noise
