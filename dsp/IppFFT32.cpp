#include "dsp/IppFFT32.h"

#include <fftw3.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>

#include "dsp/FFT.h"

namespace zoc::dsp {

namespace {

bool Aligned(const float* pointer)
{
    return reinterpret_cast<std::uintptr_t>(pointer) % AlignedBuffer::kAlignment == 0;
}

} // namespace

IppFFT32::~IppFFT32()
{
    Release();
}

void IppFFT32::Release() noexcept
{
    if (plan_ != nullptr) {
        std::lock_guard lock(FFTWPlannerMutex());
        fftwf_destroy_plan(plan_);
        plan_ = nullptr;
    }
    size_ = 0;
}

void IppFFT32::Init(int size)
{
    if (size < 1)
        throw std::invalid_argument("IppFFT32: size must be at least 1, got " + std::to_string(size));
    if (size == size_)
        return;
    Release();
    const auto points = static_cast<std::size_t>(size);
    for (AlignedBuffer* buffer : {&inRe_, &inIm_, &outRe_, &outIm_}) {
        buffer->Release();
        buffer->Resize(points);
    }
    fftw_iodim dimension{size, 1, 1};
    {
        std::lock_guard lock(FFTWPlannerMutex());
        // The input must survive: the engine reads its time-domain blocks
        // again after transforming them.
        plan_ = fftwf_plan_guru_split_dft(1, &dimension, 0, nullptr, inRe_.Data(), inIm_.Data(), outRe_.Data(),
                                          outIm_.Data(), FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
    }
    if (plan_ == nullptr)
        throw std::runtime_error("IppFFT32: FFTW cannot plan a transform of size " + std::to_string(size));
    size_ = size;
}

void IppFFT32::Execute(const float* inRe, const float* inIm, float* outRe, float* outIm)
{
    // FFTW's split interface computes the forward sign only; the inverse is
    // the forward transform with real and imaginary parts swapped on both
    // sides, which the callers arrange.
    if (size_ == 1) {
        // One point is its own transform (FFTW's split plan of one point does
        // not always write its output).
        outRe[0] = inRe[0];
        outIm[0] = inIm[0];
        return;
    }
    if (Aligned(inRe) && Aligned(inIm) && Aligned(outRe) && Aligned(outIm)) {
        fftwf_execute_split_dft(plan_, const_cast<float*>(inRe), const_cast<float*>(inIm), outRe, outIm);
        return;
    }
    const std::size_t bytes = static_cast<std::size_t>(size_) * sizeof(float);
    std::memcpy(inRe_.Data(), inRe, bytes);
    std::memcpy(inIm_.Data(), inIm, bytes);
    fftwf_execute_split_dft(plan_, inRe_.Data(), inIm_.Data(), outRe_.Data(), outIm_.Data());
    std::memcpy(outRe, outRe_.Data(), bytes);
    std::memcpy(outIm, outIm_.Data(), bytes);
}

void IppFFT32::Forward(const float* inRe, const float* inIm, float* outRe, float* outIm)
{
    Execute(inRe, inIm, outRe, outIm);
}

void IppFFT32::Inverse(const float* inRe, const float* inIm, float* outRe, float* outIm)
{
    Execute(inIm, inRe, outIm, outRe);
}

} // namespace zoc::dsp
