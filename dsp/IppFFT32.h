#pragma once
// Complex single-precision FFT on split arrays (real parts in one array,
// imaginary parts in another), the layout the convolution engine keeps its
// spectra in. Built on FFTW's split-array interface, so the transform reads
// and writes the caller's arrays directly, without interleaving copies.
//
// Init plans the transform once per size (FFTW_ESTIMATE: the same plan, and
// the same output for the same input, on every run) and allocates; call it
// off the audio thread. Forward and Inverse never allocate, lock or block.
// Neither is normalized: Inverse(Forward(z)) == Size() * z.

#include <cstddef>

#include "dsp/AlignedBuffer.h"

struct fftwf_plan_s;

namespace zoc::dsp {

class IppFFT32 {
public:
    IppFFT32() = default;
    /// Same as Init(size).
    explicit IppFFT32(int size) { Init(size); }
    ~IppFFT32();
    IppFFT32(const IppFFT32&) = delete;
    IppFFT32& operator=(const IppFFT32&) = delete;

    /// Plans for `size` points (at least 1). Nothing happens when the size is
    /// already planned. Throws std::invalid_argument for a size below 1 and
    /// std::runtime_error when FFTW cannot plan.
    void Init(int size);
    int Size() const { return size_; }

    /// out[k] = sum_n in[n] e^(-2 pi i k n / N), Size() values in each array.
    /// The input is left as it was and may be given as both real and
    /// imaginary part; the two outputs must be distinct arrays that overlap
    /// no input. Arrays on a 64-byte boundary (AlignedBuffer) go straight to
    /// FFTW; others are copied through the object's own buffers.
    void Forward(const float* inRe, const float* inIm, float* outRe, float* outIm);
    /// out[n] = sum_k in[k] e^(+2 pi i k n / N), unnormalized; the same
    /// rules, except that the input may be overwritten (which lets FFTW pick
    /// faster algorithms) and its two parts must be distinct arrays.
    void Inverse(float* inRe, float* inIm, float* outRe, float* outIm);

private:
    void Execute(fftwf_plan_s* plan, const float* inRe, const float* inIm, float* outRe, float* outIm);
    void Release() noexcept;

    int size_ = 0;
    fftwf_plan_s* forward_ = nullptr; ///< keeps its input
    fftwf_plan_s* inverse_ = nullptr; ///< may overwrite its input
    // The arrays the plan was made on; they also carry misaligned calls.
    AlignedBuffer inRe_, inIm_, outRe_, outIm_;
};

} // namespace zoc::dsp
