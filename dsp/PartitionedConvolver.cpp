// Uniformly partitioned overlap-save convolution.

#include "dsp/PartitionedConvolver.h"

#include <algorithm>

namespace zoc::dsp {

PartitionedConvolver::PartitionedConvolver(int blockSize, int maxTaps, int channels, int filterSlots)
    : blockSize_(std::max(1, blockSize)), partitions_(std::max(1, (std::max(1, maxTaps) + blockSize_ - 1) / blockSize_)),
      channels_(std::max(1, channels)), slots_(std::max(1, filterSlots)), bins_(blockSize_ + 1), fft_(2 * blockSize_)
{
    const auto filterSize = Offset(slots_, 0);
    const auto historySize = Offset(channels_, 0);
    filterRe_.assign(filterSize, 0.0f);
    filterIm_.assign(filterSize, 0.0f);
    historyRe_.assign(historySize, 0.0f);
    historyIm_.assign(historySize, 0.0f);
    newest_.assign(static_cast<std::size_t>(channels_), 0);
    window_.assign(static_cast<std::size_t>(channels_) * 2 * static_cast<std::size_t>(blockSize_), 0.0f);
    time_.assign(2 * static_cast<std::size_t>(blockSize_), 0.0f);
    spectrum_.assign(static_cast<std::size_t>(bins_), {});
    sumRe_.assign(static_cast<std::size_t>(bins_), 0.0f);
    sumIm_.assign(static_cast<std::size_t>(bins_), 0.0f);
}

void PartitionedConvolver::Clear()
{
    std::fill(historyRe_.begin(), historyRe_.end(), 0.0f);
    std::fill(historyIm_.begin(), historyIm_.end(), 0.0f);
    std::fill(window_.begin(), window_.end(), 0.0f);
    std::fill(newest_.begin(), newest_.end(), 0);
}

void PartitionedConvolver::SetFilter(int slot, const float* taps, int count)
{
    if (slot < 0 || slot >= slots_)
        return;
    count = std::clamp(count, 0, partitions_ * blockSize_);
    // The inverse transform is not normalized: fold its 1 / (2 * block) in here.
    const float scale = 1.0f / static_cast<float>(2 * blockSize_);
    for (int partition = 0; partition < partitions_; ++partition) {
        const int first = partition * blockSize_;
        const int length = std::clamp(count - first, 0, blockSize_);
        std::fill(time_.begin(), time_.end(), 0.0f);
        for (int n = 0; n < length; ++n)
            time_[static_cast<std::size_t>(n)] = taps[first + n] * scale;
        fft_.Forward(time_.data(), spectrum_.data());
        float* re = FilterRe(slot, partition);
        float* im = FilterIm(slot, partition);
        for (int k = 0; k < bins_; ++k) {
            re[k] = spectrum_[static_cast<std::size_t>(k)].real();
            im[k] = spectrum_[static_cast<std::size_t>(k)].imag();
        }
    }
}

void PartitionedConvolver::PushBlock(int channel, const float* input)
{
    if (channel < 0 || channel >= channels_)
        return;
    // The window holds the previous block then this one; its transform's
    // circular wrap-around lands only in the first half of the inverse.
    float* window = &window_[static_cast<std::size_t>(channel) * 2 * static_cast<std::size_t>(blockSize_)];
    std::copy(window + blockSize_, window + 2 * blockSize_, window);
    std::copy(input, input + blockSize_, window + blockSize_);
    int& newest = newest_[static_cast<std::size_t>(channel)];
    newest = newest + 1 == partitions_ ? 0 : newest + 1;
    fft_.Forward(window, spectrum_.data());
    float* re = HistoryRe(channel, newest);
    float* im = HistoryIm(channel, newest);
    for (int k = 0; k < bins_; ++k) {
        re[k] = spectrum_[static_cast<std::size_t>(k)].real();
        im[k] = spectrum_[static_cast<std::size_t>(k)].imag();
    }
}

void PartitionedConvolver::FilterBlock(int channel, int slot, float* output)
{
    if (channel < 0 || channel >= channels_ || slot < 0 || slot >= slots_)
        return;
    std::fill(sumRe_.begin(), sumRe_.end(), 0.0f);
    std::fill(sumIm_.begin(), sumIm_.end(), 0.0f);
    float* sumRe = sumRe_.data();
    float* sumIm = sumIm_.data();
    int block = newest_[static_cast<std::size_t>(channel)];
    // Partition p meets the input block p blocks back.
    for (int partition = 0; partition < partitions_; ++partition) {
        const float* hRe = FilterRe(slot, partition);
        const float* hIm = FilterIm(slot, partition);
        const float* xRe = HistoryRe(channel, block);
        const float* xIm = HistoryIm(channel, block);
        for (int k = 0; k < bins_; ++k) {
            sumRe[k] += hRe[k] * xRe[k] - hIm[k] * xIm[k];
            sumIm[k] += hRe[k] * xIm[k] + hIm[k] * xRe[k];
        }
        block = block == 0 ? partitions_ - 1 : block - 1;
    }
    for (int k = 0; k < bins_; ++k)
        spectrum_[static_cast<std::size_t>(k)] = {sumRe[k], sumIm[k]};
    fft_.Inverse(spectrum_.data(), time_.data());
    std::copy(time_.begin() + blockSize_, time_.end(), output);
}

} // namespace zoc::dsp
