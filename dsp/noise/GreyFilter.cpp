// Frequency-sampling design of the grey filter and its overlap-add streams.

#include "dsp/noise/GreyFilter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "dsp/noise/EqualLoudness.h"

namespace zoc::dsp::noise {
namespace {

constexpr double kPhon = 40.0;
/// The filter spans at least this long, enough to resolve the contour's
/// steep rise below 100 Hz.
constexpr double kFilterSeconds = 0.085;
constexpr int kMinTaps = 512;

} // namespace

double GreyTargetDb(double hertz)
{
    const double reference = EqualLoudnessLevel(1000.0, kPhon);
    if (hertz < kEqualLoudnessLowest) {
        const double bottom = EqualLoudnessLevel(kEqualLoudnessLowest, kPhon) - reference;
        return bottom + 40.0 * std::log10(std::max(hertz, 1e-3) / kEqualLoudnessLowest);
    }
    return EqualLoudnessLevel(hertz, kPhon) - reference;
}

void GreyDesign::Design(int rate)
{
    if (rate == rate_)
        return;
    rate_ = rate;
    int taps = kMinTaps;
    while (taps < kFilterSeconds * rate)
        taps *= 2;
    // Transforms four times the filter's length, so each takes three
    // filter lengths of new samples: a quarter less work per sample than
    // the usual twice the length.
    const int size = 4 * taps;
    block_ = size - taps;

    // Zero-phase target on the taps' own grid, to the impulse response.
    RealFFT design(taps);
    std::vector<std::complex<float>> target(static_cast<std::size_t>(design.BinCount()));
    for (int k = 1; k < design.BinCount(); ++k) {
        const double hertz = static_cast<double>(k) * rate / taps;
        target[static_cast<std::size_t>(k)] = static_cast<float>(std::pow(10.0, GreyTargetDb(hertz) / 20.0));
    }
    target[0] = 0.0f;
    std::vector<float> circular(static_cast<std::size_t>(taps));
    design.Inverse(target.data(), circular.data());

    // Centred (linear phase) and windowed.
    taps_.assign(static_cast<std::size_t>(taps), 0.0f);
    double energy = 0.0;
    for (int n = 0; n < taps; ++n) {
        const double window = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / taps);
        const double tap = circular[static_cast<std::size_t>((n + taps / 2) % taps)] * window;
        taps_[static_cast<std::size_t>(n)] = static_cast<float>(tap);
        energy += tap * tap;
    }
    // Unit variance out of unit-variance white noise.
    const auto scale = static_cast<float>(1.0 / std::sqrt(energy));
    for (float& tap : taps_)
        tap *= scale;

    fft_ = std::make_unique<RealFFT>(size);
    time_.assign(static_cast<std::size_t>(size), 0.0f);
    spectrum_.assign(static_cast<std::size_t>(fft_->BinCount()), {});
    response_.assign(static_cast<std::size_t>(fft_->BinCount()), {});
    std::copy(taps_.begin(), taps_.end(), time_.begin());
    fft_->Forward(time_.data(), response_.data());
    for (auto& bin : response_)
        bin /= static_cast<float>(size);
}

double GreyDesign::Magnitude(double hertz) const
{
    std::complex<double> sum = 0.0;
    const double w = -2.0 * std::numbers::pi * hertz / rate_;
    for (std::size_t n = 0; n < taps_.size(); ++n)
        sum += static_cast<double>(taps_[n]) * std::polar(1.0, w * static_cast<double>(n));
    return std::abs(sum);
}

void GreyFilter::Prepare(const GreyDesign& design)
{
    block_.assign(static_cast<std::size_t>(design.BlockFrames()), 0.0f);
    tail_.assign(design.taps_.size(), 0.0f);
    Reset();
}

void GreyFilter::Reset()
{
    std::fill(tail_.begin(), tail_.end(), 0.0f);
    read_ = static_cast<int>(block_.size());
}

void GreyFilter::Generate(GreyDesign& design, Xoshiro256& random, float* output, int frames)
{
    const int length = static_cast<int>(block_.size());
    if (length == 0) {
        std::fill_n(output, frames, 0.0f);
        return;
    }
    while (frames > 0) {
        if (read_ == length)
            NextBlock(design, random);
        const int n = std::min(frames, length - read_);
        std::copy_n(block_.begin() + read_, n, output);
        read_ += n;
        output += n;
        frames -= n;
    }
}

void GreyFilter::NextBlock(GreyDesign& design, Xoshiro256& random)
{
    const std::size_t length = block_.size();
    float* time = design.time_.data();
    for (std::size_t n = 0; n < length; ++n)
        time[n] = random.White();
    std::fill(design.time_.begin() + static_cast<std::ptrdiff_t>(length), design.time_.end(), 0.0f);
    design.fft_->Forward(time, design.spectrum_.data());
    // Written out: std::complex's operator* checks for infinities bin by bin.
    for (std::size_t k = 0; k < design.spectrum_.size(); ++k) {
        const std::complex<float> a = design.spectrum_[k];
        const std::complex<float> b = design.response_[k];
        design.spectrum_[k] = {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
    }
    design.fft_->Inverse(design.spectrum_.data(), time);
    const std::size_t overlap = tail_.size();
    for (std::size_t n = 0; n < overlap; ++n)
        block_[n] = time[n] + tail_[n];
    std::copy(time + overlap, time + length, block_.begin() + static_cast<std::ptrdiff_t>(overlap));
    std::copy_n(time + length, overlap, tail_.begin());
    read_ = 0;
}

} // namespace zoc::dsp::noise
