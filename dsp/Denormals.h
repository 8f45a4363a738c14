#pragma once
// Guards for the processing path.
//
// ScopedFlushDenormals flushes denormal floats to zero for the lifetime of
// the object, so decaying feedback paths and filter tails never fall onto the
// slow denormal path.
//
// Non-finite samples: a NaN or infinity in the input may pass through to the
// output, but it must not outlive the component's own memory. Components
// whose state feeds back on itself (filter integrators, smoothers, feedback
// lines) check that state once per block with AllFinite and
// clear it when it is not finite; memory that only delays (FIR history, plain delay lines)
// lets a bad sample out after its own length.

#include <cmath>
#include <span>

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace zoc::dsp {

class ScopedFlushDenormals {
public:
    ScopedFlushDenormals() noexcept
    {
#if defined(__SSE__) || defined(__x86_64__)
        saved_ = _mm_getcsr();
        // Flush-to-zero (bit 15) and denormals-are-zero (bit 6).
        _mm_setcsr(saved_ | 0x8040u);
#endif
    }
    ~ScopedFlushDenormals()
    {
#if defined(__SSE__) || defined(__x86_64__)
        _mm_setcsr(saved_);
#endif
    }
    ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;

private:
    unsigned saved_ = 0;
};

/// True when every value is finite; branch-free, for a few state variables
/// or one block.
template <class T>
bool AllFinite(std::span<const T> values) noexcept
{
    // x - x is 0 for finite x and NaN otherwise; the sum stays 0 only if
    // every term does.
    T sum = 0;
    for (const T value : values)
        sum += value - value;
    return sum == 0;
}

} // namespace zoc::dsp
