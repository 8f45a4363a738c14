#pragma once
// Flushes denormal floats to zero for the lifetime of the object, so decaying
// feedback paths and filter tails never fall onto the slow denormal path.

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

} // namespace zoc::dsp
