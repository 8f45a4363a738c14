#include "dsp/FFT.h"

#include <fftw3.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <numbers>
#include <stdexcept>
#include <string>
#include <utility>

namespace zoc::dsp {

namespace {

// FFTW's planner keeps global state; every plan creation and destruction in
// the process goes through this lock.
std::mutex& PlannerMutex()
{
    static std::mutex mutex;
    return mutex;
}

// std::complex<T> and FFTW's complex types are both two consecutive values.
static_assert(sizeof(std::complex<float>) == sizeof(fftwf_complex));
static_assert(sizeof(std::complex<double>) == sizeof(fftw_complex));

fftwf_complex* AsFftw(std::complex<float>* p)
{
    return reinterpret_cast<fftwf_complex*>(p);
}

fftw_complex* AsFftw(std::complex<double>* p)
{
    return reinterpret_cast<fftw_complex*>(p);
}

template <typename T>
T* AllocateAligned(std::size_t count)
{
    void* memory = fftwf_malloc(count * sizeof(T));
    if (memory == nullptr) {
        throw std::runtime_error("FFT: cannot allocate " + std::to_string(count * sizeof(T)) + " bytes");
    }
    std::memset(memory, 0, count * sizeof(T));
    return static_cast<T*>(memory);
}

void CheckSize(int size)
{
    if (size < 1) {
        throw std::invalid_argument("FFT: size must be at least 1, got " + std::to_string(size));
    }
}

// Caller holds the planner lock.
void DestroyPlan(fftwf_plan& plan) noexcept
{
    if (plan != nullptr) {
        fftwf_destroy_plan(plan);
        plan = nullptr;
    }
}

void DestroyPlan(fftw_plan& plan) noexcept
{
    if (plan != nullptr) {
        fftw_destroy_plan(plan);
        plan = nullptr;
    }
}

// FFTW_ESTIMATE picks the plan from the problem alone, without timing trial
// runs, so it is fast, does not scribble over the buffers, and gives the same
// plan (and bit-identical results) for a given size every time.
constexpr unsigned kPlanFlags = FFTW_ESTIMATE;

} // namespace

// ---------------------------------------------------------------- RealFFT

RealFFT::RealFFT(int size)
{
    CheckSize(size);
    const auto samples = static_cast<std::size_t>(size);
    const std::size_t bins = samples / 2 + 1;
    try {
        real_ = AllocateAligned<float>(samples);
        bins_ = AllocateAligned<std::complex<float>>(bins);
        std::lock_guard lock(PlannerMutex());
        forward_ = fftwf_plan_dft_r2c_1d(size, real_, AsFftw(bins_), kPlanFlags);
        inverse_ = fftwf_plan_dft_c2r_1d(size, AsFftw(bins_), real_, kPlanFlags);
    } catch (...) {
        Release();
        throw;
    }
    if (forward_ == nullptr || inverse_ == nullptr) {
        Release();
        throw std::runtime_error("FFT: FFTW cannot plan a real transform of size " + std::to_string(size));
    }
    size_ = size;
}

RealFFT::~RealFFT()
{
    Release();
}

RealFFT::RealFFT(RealFFT&& other) noexcept
    : size_(std::exchange(other.size_, 0)),
      real_(std::exchange(other.real_, nullptr)),
      bins_(std::exchange(other.bins_, nullptr)),
      forward_(std::exchange(other.forward_, nullptr)),
      inverse_(std::exchange(other.inverse_, nullptr))
{
}

RealFFT& RealFFT::operator=(RealFFT&& other) noexcept
{
    if (this != &other) {
        Release();
        size_ = std::exchange(other.size_, 0);
        real_ = std::exchange(other.real_, nullptr);
        bins_ = std::exchange(other.bins_, nullptr);
        forward_ = std::exchange(other.forward_, nullptr);
        inverse_ = std::exchange(other.inverse_, nullptr);
    }
    return *this;
}

void RealFFT::Release() noexcept
{
    if (forward_ != nullptr || inverse_ != nullptr) {
        std::lock_guard lock(PlannerMutex());
        DestroyPlan(forward_);
        DestroyPlan(inverse_);
    }
    fftwf_free(real_);
    fftwf_free(bins_);
    real_ = nullptr;
    bins_ = nullptr;
    size_ = 0;
}

void RealFFT::Forward(const float* input, std::complex<float>* spectrum)
{
    std::memcpy(real_, input, static_cast<std::size_t>(size_) * sizeof(float));
    fftwf_execute(forward_);
    std::memcpy(spectrum, bins_, static_cast<std::size_t>(BinCount()) * sizeof(std::complex<float>));
}

void RealFFT::Inverse(const std::complex<float>* spectrum, float* output)
{
    // Copying in also protects the caller's spectrum: FFTW's complex-to-real
    // transforms overwrite their input.
    const int bins = BinCount();
    std::memcpy(bins_, spectrum, static_cast<std::size_t>(bins) * sizeof(std::complex<float>));
    // Only a real spectrum value is meaningful at DC and at Nyquist.
    bins_[0].imag(0.0f);
    if (size_ % 2 == 0) {
        bins_[bins - 1].imag(0.0f);
    }
    fftwf_execute(inverse_);
    std::memcpy(output, real_, static_cast<std::size_t>(size_) * sizeof(float));
}

// ------------------------------------------------------------- ComplexFFT

ComplexFFT::ComplexFFT(int size)
{
    CheckSize(size);
    const auto points = static_cast<std::size_t>(size);
    try {
        in_ = AllocateAligned<std::complex<float>>(points);
        out_ = AllocateAligned<std::complex<float>>(points);
        std::lock_guard lock(PlannerMutex());
        forward_ = fftwf_plan_dft_1d(size, AsFftw(in_), AsFftw(out_), FFTW_FORWARD, kPlanFlags);
        inverse_ = fftwf_plan_dft_1d(size, AsFftw(in_), AsFftw(out_), FFTW_BACKWARD, kPlanFlags);
    } catch (...) {
        Release();
        throw;
    }
    if (forward_ == nullptr || inverse_ == nullptr) {
        Release();
        throw std::runtime_error("FFT: FFTW cannot plan a complex transform of size " + std::to_string(size));
    }
    size_ = size;
}

ComplexFFT::~ComplexFFT()
{
    Release();
}

ComplexFFT::ComplexFFT(ComplexFFT&& other) noexcept
    : size_(std::exchange(other.size_, 0)),
      in_(std::exchange(other.in_, nullptr)),
      out_(std::exchange(other.out_, nullptr)),
      forward_(std::exchange(other.forward_, nullptr)),
      inverse_(std::exchange(other.inverse_, nullptr))
{
}

ComplexFFT& ComplexFFT::operator=(ComplexFFT&& other) noexcept
{
    if (this != &other) {
        Release();
        size_ = std::exchange(other.size_, 0);
        in_ = std::exchange(other.in_, nullptr);
        out_ = std::exchange(other.out_, nullptr);
        forward_ = std::exchange(other.forward_, nullptr);
        inverse_ = std::exchange(other.inverse_, nullptr);
    }
    return *this;
}

void ComplexFFT::Release() noexcept
{
    if (forward_ != nullptr || inverse_ != nullptr) {
        std::lock_guard lock(PlannerMutex());
        DestroyPlan(forward_);
        DestroyPlan(inverse_);
    }
    fftwf_free(in_);
    fftwf_free(out_);
    in_ = nullptr;
    out_ = nullptr;
    size_ = 0;
}

void ComplexFFT::Forward(const std::complex<float>* input, std::complex<float>* output)
{
    const std::size_t bytes = static_cast<std::size_t>(size_) * sizeof(std::complex<float>);
    std::memcpy(in_, input, bytes);
    fftwf_execute(forward_);
    std::memcpy(output, out_, bytes);
}

void ComplexFFT::Inverse(const std::complex<float>* input, std::complex<float>* output)
{
    const std::size_t bytes = static_cast<std::size_t>(size_) * sizeof(std::complex<float>);
    std::memcpy(in_, input, bytes);
    fftwf_execute(inverse_);
    std::memcpy(output, out_, bytes);
}

// ------------------------------------------------------- ComplexFFTDouble

ComplexFFTDouble::ComplexFFTDouble(int size)
{
    CheckSize(size);
    // fftwf_malloc and fftw_malloc return the same SIMD alignment; one
    // allocator keeps a single free function for every buffer here.
    try {
        data_ = AllocateAligned<std::complex<double>>(static_cast<std::size_t>(size));
        std::lock_guard lock(PlannerMutex());
        forward_ = fftw_plan_dft_1d(size, AsFftw(data_), AsFftw(data_), FFTW_FORWARD, kPlanFlags);
        inverse_ = fftw_plan_dft_1d(size, AsFftw(data_), AsFftw(data_), FFTW_BACKWARD, kPlanFlags);
    } catch (...) {
        Release();
        throw;
    }
    if (forward_ == nullptr || inverse_ == nullptr) {
        Release();
        throw std::runtime_error("FFT: FFTW cannot plan a double complex transform of size " + std::to_string(size));
    }
    size_ = size;
}

ComplexFFTDouble::~ComplexFFTDouble()
{
    Release();
}

ComplexFFTDouble::ComplexFFTDouble(ComplexFFTDouble&& other) noexcept
    : size_(std::exchange(other.size_, 0)),
      data_(std::exchange(other.data_, nullptr)),
      forward_(std::exchange(other.forward_, nullptr)),
      inverse_(std::exchange(other.inverse_, nullptr))
{
}

ComplexFFTDouble& ComplexFFTDouble::operator=(ComplexFFTDouble&& other) noexcept
{
    if (this != &other) {
        Release();
        size_ = std::exchange(other.size_, 0);
        data_ = std::exchange(other.data_, nullptr);
        forward_ = std::exchange(other.forward_, nullptr);
        inverse_ = std::exchange(other.inverse_, nullptr);
    }
    return *this;
}

void ComplexFFTDouble::Release() noexcept
{
    if (forward_ != nullptr || inverse_ != nullptr) {
        std::lock_guard lock(PlannerMutex());
        DestroyPlan(forward_);
        DestroyPlan(inverse_);
    }
    fftwf_free(data_);
    data_ = nullptr;
    size_ = 0;
}

void ComplexFFTDouble::Forward()
{
    fftw_execute(forward_);
}

void ComplexFFTDouble::Inverse()
{
    fftw_execute(inverse_);
}

void ComplexFFTDouble::Forward(const std::complex<double>* input, std::complex<double>* output)
{
    const std::size_t bytes = static_cast<std::size_t>(size_) * sizeof(std::complex<double>);
    std::memmove(data_, input, bytes);
    fftw_execute(forward_);
    std::memmove(output, data_, bytes);
}

void ComplexFFTDouble::Inverse(const std::complex<double>* input, std::complex<double>* output)
{
    const std::size_t bytes = static_cast<std::size_t>(size_) * sizeof(std::complex<double>);
    std::memmove(data_, input, bytes);
    fftw_execute(inverse_);
    std::memmove(output, data_, bytes);
}

// ----------------------------------------------------------------- Windows

void GetFFTWindow(WindowType type, float* window, int size, bool periodic)
{
    if (size < 1) {
        return;
    }
    if (size == 1) {
        window[0] = 1.0f;
        return;
    }

    // Generalized cosine window: sum_m (-1)^m a[m] cos(m x).
    double a[4] = {1.0, 0.0, 0.0, 0.0};
    switch (type) {
    case WindowType::Hann:
        a[0] = 0.5;
        a[1] = 0.5;
        break;
    case WindowType::Hamming:
        a[0] = 0.54;
        a[1] = 0.46;
        break;
    case WindowType::Blackman:
        a[0] = 0.42;
        a[1] = 0.5;
        a[2] = 0.08;
        break;
    case WindowType::BlackmanHarris:
        a[0] = 0.35875;
        a[1] = 0.48829;
        a[2] = 0.14128;
        a[3] = 0.01168;
        break;
    case WindowType::Rectangular:
        break;
    }

    // The period is size for a periodic window and size - 1 for a symmetric
    // one. Both are mirror-symmetric about period / 2, so only the first half
    // is computed (in double precision) and the rest is mirrored, which makes
    // the symmetry exact rather than subject to cos() rounding.
    const int period = periodic ? size : size - 1;
    const double step = 2.0 * std::numbers::pi / period;
    for (int n = 0; n <= period / 2; ++n) {
        const double x = step * n;
        const double value = a[0] - a[1] * std::cos(x) + a[2] * std::cos(2.0 * x) - a[3] * std::cos(3.0 * x);
        window[n] = static_cast<float>(value);
        const int mirror = period - n;
        if (mirror > n && mirror < size) {
            window[mirror] = window[n];
        }
    }
}

std::mutex& FFTWPlannerMutex()
{
    return PlannerMutex();
}

} // namespace zoc::dsp
