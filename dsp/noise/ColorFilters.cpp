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
    sections_ = 0;
    gain_ = 1.0;
    const double nyquist = 0.5 * rate;
    for (double pole = kLowestPole; pole < nyquist && sections_ < kMaxSections; pole *= 2.0) {
        Section& s = section_[static_cast<std::size_t>(sections_++)];
        s.pole = std::exp(-2.0 * std::numbers::pi * pole / rate);
        s.zero = std::exp(-2.0 * std::numbers::pi * pole * std::numbers::sqrt2 / rate);
    }
    gain_ = 1.0 / std::sqrt(PowerGain([this](double hertz) { return Magnitude(hertz); }, rate));
    Reset();
}

void PinkFilter::Reset()
{
    for (Section& s : section_)
        s.in = s.out = 0.0;
}

double PinkFilter::Magnitude(double hertz) const
{
    const std::complex<double> z1 = UnitDelay(hertz, rate_);
    std::complex<double> h = gain_;
    for (int k = 0; k < sections_; ++k) {
        const Section& s = section_[static_cast<std::size_t>(k)];
        h *= (1.0 - s.zero * z1) / (1.0 - s.pole * z1);
    }
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
