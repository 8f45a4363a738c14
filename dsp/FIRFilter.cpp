// Windowed-sinc linear-phase FIR.

#include "dsp/FIRFilter.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>

namespace zoc::dsp {
namespace {

/// Ideal band-pass impulse response at offset m from the centre: the
/// difference of two ideal low-passes with cutoffs high and low.
double IdealBandPass(double low, double high, double m)
{
    if (m == 0.0)
        return 2.0 * (high - low);
    const double pim = std::numbers::pi * m;
    return (std::sin(2.0 * pim * high) - std::sin(2.0 * pim * low)) / pim;
}

/// Blackman window over order + 1 taps, stretched by one sample at each end
/// so the outermost taps are not wasted on zeros. About -58 dB sidelobes.
double Blackman(int k, int order)
{
    const double phase = 2.0 * std::numbers::pi * (k + 1) / (order + 2);
    return 0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2.0 * phase);
}

} // namespace

void FIRFilter::GenerateFIRCoeffs(double low, double high, int order)
{
    low = std::clamp(low, 0.0, 0.5);
    high = std::clamp(high, 0.0, 0.5);
    if (low > high)
        std::swap(low, high);
    order_ = std::max(order, 0);
    order_ += order_ % 2;
    const int length = order_ + 1;
    const int half = order_ / 2;

    // Built from the centre outwards and mirrored, so the symmetry that
    // gives linear phase is exact.
    std::vector<double>& taps = design_;
    taps.resize(static_cast<std::size_t>(length));
    for (int k = 0; k <= half; ++k) {
        const double value = IdealBandPass(low, high, k - half) * Blackman(k, order_);
        taps[static_cast<std::size_t>(k)] = value;
        taps[static_cast<std::size_t>(order_ - k)] = value;
    }

    // Unit gain where the band is: DC, Nyquist or the band centre.
    const double reference = low == 0.0 ? 0.0 : (high == 0.5 ? 0.5 : 0.5 * (low + high));
    std::complex<double> response = 0.0;
    for (int k = 0; k < length; ++k)
        response += taps[static_cast<std::size_t>(k)] * std::polar(1.0, -2.0 * std::numbers::pi * reference * k);
    const double gain = std::abs(response);
    const double scale = gain > 0.0 ? 1.0 / gain : 0.0;

    taps_.resize(static_cast<std::size_t>(length));
    for (int k = 0; k < length; ++k)
        taps_[static_cast<std::size_t>(k)] = static_cast<float>(taps[static_cast<std::size_t>(k)] * scale);
    history_.assign(2 * taps_.size(), 0.0f);
    position_ = 0;
}

void FIRFilter::Reserve(int maxOrder)
{
    const auto length = static_cast<std::size_t>(std::max(maxOrder, 0) + 2);
    design_.reserve(length);
    taps_.reserve(length);
    history_.reserve(2 * length);
}

void FIRFilter::Clear()
{
    std::fill(history_.begin(), history_.end(), 0.0f);
    position_ = 0;
}

void FIRFilter::Process(float* data, int frames)
{
    if (data == nullptr || taps_.empty())
        return;
    const int length = static_cast<int>(taps_.size());
    for (int i = 0; i < frames; ++i) {
        // position_ is where the newest sample goes; the window then reads
        // newest first at history_[position_ + length] down to the oldest.
        const float input = data[i];
        history_[static_cast<std::size_t>(position_)] = input;
        history_[static_cast<std::size_t>(position_ + length)] = input;
        if (enabled_) {
            const float* newest = history_.data() + position_ + length;
            double sum = 0.0;
            for (int k = 0; k < length; ++k)
                sum += static_cast<double>(taps_[static_cast<std::size_t>(k)]) * newest[-k];
            data[i] = static_cast<float>(sum);
        }
        if (++position_ == length)
            position_ = 0;
    }
}

} // namespace zoc::dsp
