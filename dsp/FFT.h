#pragma once
// The library's FFT objects, thin wrappers over FFTW: single precision for
// most kernels, double precision where spectra are analysed and resynthesised
// with long transforms (ComplexFFTDouble).
//
// Each object plans its transforms once, in the constructor, with
// FFTW_ESTIMATE: planning does not time anything, so the same size always gets
// the same plan and the same input always gives the same output, run after run.
// The object owns SIMD-aligned work buffers; Forward and Inverse copy the
// caller's data in and out of them, so callers may pass any pointer (any
// alignment, input and output may even be the same array) and the transforms
// never allocate. That makes them safe to call on the audio thread.
//
// Construction and destruction go through FFTW's planner, which is not
// thread-safe; a process-wide mutex serializes them, so objects can be created
// and destroyed from any thread. Executing a plan is thread-safe in FFTW, so
// different objects may transform concurrently. One object must not be used
// from two threads at once, since it works in its own buffers.
//
// Neither transform is normalized: Inverse(Forward(x)) == Size() * x.

#include <complex>
#include <mutex>

struct fftwf_plan_s;
struct fftw_plan_s;

namespace zoc::dsp {

/// Transform of `size` real samples to size/2 + 1 complex bins and back.
class RealFFT {
public:
    /// Plans both directions. Throws std::invalid_argument if size < 1 and
    /// std::runtime_error if FFTW cannot plan or allocate.
    explicit RealFFT(int size);
    ~RealFFT();

    RealFFT(const RealFFT&) = delete;
    RealFFT& operator=(const RealFFT&) = delete;
    /// A moved-from object has Size() == 0 and may only be destroyed or
    /// assigned to.
    RealFFT(RealFFT&& other) noexcept;
    RealFFT& operator=(RealFFT&& other) noexcept;

    int Size() const { return size_; }
    int BinCount() const { return size_ / 2 + 1; }

    /// spectrum[k] = sum_n input[n] * exp(-2*pi*i*k*n/size), for k in [0, size/2].
    /// Reads Size() samples, writes BinCount() bins.
    void Forward(const float* input, std::complex<float>* spectrum);

    /// output[n] = sum over all size bins of spectrum[k] * exp(+2*pi*i*k*n/size),
    /// the missing upper bins being the conjugates of the lower ones. Not
    /// normalized: Inverse(Forward(x)) returns Size() * x. The imaginary parts
    /// of bin 0 (and of bin size/2 for even sizes) are ignored, as they must be
    /// zero for a real signal. Reads BinCount() bins, writes Size() samples.
    void Inverse(const std::complex<float>* spectrum, float* output);

private:
    void Release() noexcept;

    int size_ = 0;
    float* real_ = nullptr;
    std::complex<float>* bins_ = nullptr;
    fftwf_plan_s* forward_ = nullptr;
    fftwf_plan_s* inverse_ = nullptr;
};

/// Transform of `size` complex values, in either direction. Two real channels
/// can share one transform by packing them as real and imaginary parts.
class ComplexFFT {
public:
    /// Plans both directions. Throws std::invalid_argument if size < 1 and
    /// std::runtime_error if FFTW cannot plan or allocate.
    explicit ComplexFFT(int size);
    ~ComplexFFT();

    ComplexFFT(const ComplexFFT&) = delete;
    ComplexFFT& operator=(const ComplexFFT&) = delete;
    /// A moved-from object has Size() == 0 and may only be destroyed or
    /// assigned to.
    ComplexFFT(ComplexFFT&& other) noexcept;
    ComplexFFT& operator=(ComplexFFT&& other) noexcept;

    int Size() const { return size_; }

    /// output[k] = sum_n input[n] * exp(-2*pi*i*k*n/size). Size() values each.
    void Forward(const std::complex<float>* input, std::complex<float>* output);

    /// output[n] = sum_k input[k] * exp(+2*pi*i*k*n/size). Not normalized:
    /// Inverse(Forward(x)) returns Size() * x. Size() values each.
    void Inverse(const std::complex<float>* input, std::complex<float>* output);

private:
    void Release() noexcept;

    int size_ = 0;
    std::complex<float>* in_ = nullptr;
    std::complex<float>* out_ = nullptr;
    fftwf_plan_s* forward_ = nullptr;
    fftwf_plan_s* inverse_ = nullptr;
};

/// Transform of `size` complex values in double precision, in either
/// direction. Same contract as ComplexFFT, plus an in-place form on the
/// object's own SIMD-aligned buffer for callers that build a spectrum there
/// and want to skip the copies: fill Data(), call Forward() or Inverse(),
/// read Data().
class ComplexFFTDouble {
public:
    /// Plans both directions. Throws std::invalid_argument if size < 1 and
    /// std::runtime_error if FFTW cannot plan or allocate.
    explicit ComplexFFTDouble(int size);
    ~ComplexFFTDouble();

    ComplexFFTDouble(const ComplexFFTDouble&) = delete;
    ComplexFFTDouble& operator=(const ComplexFFTDouble&) = delete;
    /// A moved-from object has Size() == 0 and may only be destroyed or
    /// assigned to.
    ComplexFFTDouble(ComplexFFTDouble&& other) noexcept;
    ComplexFFTDouble& operator=(ComplexFFTDouble&& other) noexcept;

    int Size() const { return size_; }

    /// The object's work buffer of Size() values, aligned for SIMD.
    std::complex<double>* Data() { return data_; }
    const std::complex<double>* Data() const { return data_; }

    /// Transforms Data() in place: X[k] = sum_n x[n] * exp(-2*pi*i*k*n/size).
    void Forward();
    /// Transforms Data() in place: x[n] = sum_k X[k] * exp(+2*pi*i*k*n/size).
    /// Not normalized.
    void Inverse();

    /// Copying forms: Size() values each; input and output may be the same
    /// array and need no particular alignment.
    void Forward(const std::complex<double>* input, std::complex<double>* output);
    void Inverse(const std::complex<double>* input, std::complex<double>* output);

private:
    void Release() noexcept;

    int size_ = 0;
    std::complex<double>* data_ = nullptr;
    fftw_plan_s* forward_ = nullptr;
    fftw_plan_s* inverse_ = nullptr;
};

enum class WindowType { Hann, Hamming, Blackman, BlackmanHarris, Rectangular };

/// Writes `size` window coefficients. A periodic window has period `size`
/// (w[n] == w[size - n]): it is the first `size` points of a symmetric window
/// of length size + 1, the form whose overlapped copies add up to a constant
/// (periodic Hann at 50% overlap, for example). A symmetric window satisfies
/// w[n] == w[size - 1 - n] exactly, the usual choice for filter design. A
/// window of size 1 is {1}; a size below 1 writes nothing.
///
///   Hann            0.5 - 0.5 cos(x)
///   Hamming         0.54 - 0.46 cos(x)
///   Blackman        0.42 - 0.5 cos(x) + 0.08 cos(2x)
///   BlackmanHarris  0.35875 - 0.48829 cos(x) + 0.14128 cos(2x) - 0.01168 cos(3x)
///   Rectangular     1
///
/// with x = 2*pi*n / size (periodic) or 2*pi*n / (size - 1) (symmetric).
void GetFFTWindow(WindowType type, float* window, int size, bool periodic = true);

/// FFTW's planner is not thread-safe. Code that makes or destroys its own
/// single-precision FFTW plans does so holding this lock, as the classes
/// above do.
std::mutex& FFTWPlannerMutex();

} // namespace zoc::dsp
