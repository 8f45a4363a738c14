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
    if (forward_ != nullptr || inverse_ != nullptr) {
        std::lock_guard lock(FFTWPlannerMutex());
        for (fftwf_plan_s** plan : {&forward_, &inverse_}) {
            if (*plan != nullptr)
                fftwf_destroy_plan(*plan);
            *plan = nullptr;
        }
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
        // The forward input must survive: the engine reads its time-domain
        // blocks again after transforming them. The inverse transform's
        // input is scratch, so FFTW may use it as work space. (Real and
        // imaginary parts swap places for the inverse; see Execute.)
        forward_ = fftwf_plan_guru_split_dft(1, &dimension, 0, nullptr, inRe_.Data(), inIm_.Data(),
                                             outRe_.Data(), outIm_.Data(), FFTW_ESTIMATE | FFTW_PRESERVE_INPUT);
        inverse_ = fftwf_plan_guru_split_dft(1, &dimension, 0, nullptr, inIm_.Data(), inRe_.Data(),
                                             outIm_.Data(), outRe_.Data(), FFTW_ESTIMATE | FFTW_DESTROY_INPUT);
    }
    if (forward_ == nullptr || inverse_ == nullptr) {
        Release();
        throw std::runtime_error("IppFFT32: FFTW cannot plan a transform of size " + std::to_string(size));
    }
    size_ = size;
}

void IppFFT32::Execute(fftwf_plan_s* plan, const float* inRe, const float* inIm, float* outRe, float* outIm)
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
        fftwf_execute_split_dft(plan, const_cast<float*>(inRe), const_cast<float*>(inIm), outRe, outIm);
        return;
    }
    const std::size_t bytes = static_cast<std::size_t>(size_) * sizeof(float);
    std::memcpy(inRe_.Data(), inRe, bytes);
    std::memcpy(inIm_.Data(), inIm, bytes);
    fftwf_execute_split_dft(plan, inRe_.Data(), inIm_.Data(), outRe_.Data(), outIm_.Data());
    std::memcpy(outRe, outRe_.Data(), bytes);
    std::memcpy(outIm, outIm_.Data(), bytes);
}

void IppFFT32::Forward(const float* inRe, const float* inIm, float* outRe, float* outIm)
{
    Execute(forward_, inRe, inIm, outRe, outIm);
}

void IppFFT32::Inverse(float* inRe, float* inIm, float* outRe, float* outIm)
{
    Execute(inverse_, inIm, inRe, outIm, outRe);
}

} // namespace zoc::dsp
