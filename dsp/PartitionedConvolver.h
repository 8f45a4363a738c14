#pragma once
// Uniformly partitioned overlap-save convolution: long FIR filters at a cost
// per sample that grows with the logarithm of the block size plus the number
// of partitions, instead of with the filter length.
//
// The filter is cut into partitions of one block each. Every partition and
// every input block is transformed once (a real FFT of twice the block); an
// output block is the sum of each partition's spectrum times the spectrum of
// the matching past input block, transformed back. Filters live in slots that
// share every channel's input history, so the outputs of two filters over the
// same input can be crossfaded at the cost of one extra inverse transform.
//
// The constructor allocates everything; no other call allocates, locks or
// blocks, so they may all run on the audio thread.

#include <complex>
#include <vector>

#include "dsp/FFT.h"

namespace zoc::dsp {

class PartitionedConvolver {
public:
    /// Room for filters of up to `maxTaps` taps in `filterSlots` slots over
    /// `channels` input histories. Blocks of `blockSize` samples (at least 1).
    PartitionedConvolver(int blockSize, int maxTaps, int channels, int filterSlots = 2);

    int BlockSize() const { return blockSize_; }
    int PartitionCount() const { return partitions_; }
    int ChannelCount() const { return channels_; }

    /// Zeroes every channel's input history.
    void Clear();

    /// Transforms `count` taps (at most the constructor's maxTaps; more are
    /// ignored) into slot `slot`. One FFT per partition.
    void SetFilter(int slot, const float* taps, int count);

    /// Takes the next `BlockSize()` input samples of `channel`.
    void PushBlock(int channel, const float* input);

    /// The last pushed block of `channel` filtered by slot `slot`:
    /// output[n] = sum over j of taps[j] * x[t + n - j], where t is the first
    /// sample of that block and x is everything pushed since Clear (zero
    /// before). `BlockSize()` samples.
    void FilterBlock(int channel, int slot, float* output);

private:
    float* FilterRe(int slot, int partition) { return &filterRe_[Offset(slot, partition)]; }
    float* FilterIm(int slot, int partition) { return &filterIm_[Offset(slot, partition)]; }
    float* HistoryRe(int channel, int partition) { return &historyRe_[Offset(channel, partition)]; }
    float* HistoryIm(int channel, int partition) { return &historyIm_[Offset(channel, partition)]; }
    std::size_t Offset(int outer, int partition) const
    {
        return (static_cast<std::size_t>(outer) * static_cast<std::size_t>(partitions_) +
                static_cast<std::size_t>(partition)) *
               static_cast<std::size_t>(bins_);
    }

    int blockSize_;
    int partitions_;
    int channels_;
    int slots_;
    int bins_;
    RealFFT fft_;
    // Spectra in split form (real and imaginary parts apart) so the
    // multiply-accumulate runs over plain float arrays and vectorizes.
    std::vector<float> filterRe_, filterIm_;   // [slot][partition][bin]
    std::vector<float> historyRe_, historyIm_; // [channel][partition][bin], a ring per channel
    std::vector<int> newest_;                  // ring position of each channel's last block
    std::vector<float> window_;                // [channel][2 * block]: previous and current block
    std::vector<float> time_;                  // 2 * block
    std::vector<std::complex<float>> spectrum_;
    std::vector<float> sumRe_, sumIm_;
};

} // namespace zoc::dsp
