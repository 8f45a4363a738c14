#include "primitives/VectorOps.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zoc::primitives {

namespace {

// Elements per block. The inner loop has a constant trip count, so GCC turns it
// into SIMD code even at -O2 (whose cheap cost model refuses loops that would
// need a scalar epilogue); at -O3 the whole block loop is vectorized as well.
constexpr std::size_t kBlock = 16;

// Runs body(i) for every i in [0, count). The only overlaps the API allows are
// none at all and source == destination; either way element i is read and
// written in iteration i alone, so no iteration depends on another, which is
// exactly what `ivdep` asserts. It spares the vectorizer the runtime overlap
// checks it would otherwise emit (and which would send in-place calls down the
// scalar path). Every element is computed by the same single-precision
// expression as the plain loop, so the results are bit-identical to it.
// Tells GCC the iterations are independent (other compilers decide alone).
#if defined(__GNUC__) && !defined(__clang__)
#define ZOC_IVDEP _Pragma("GCC ivdep")
#else
#define ZOC_IVDEP
#endif

template <typename Body>
[[gnu::always_inline]] inline void ForEach(std::size_t count, Body body)
{
    std::size_t i = 0;
ZOC_IVDEP
    for (; i + kBlock <= count; i += kBlock) {
ZOC_IVDEP
        for (std::size_t j = 0; j < kBlock; ++j) {
            body(i + j);
        }
    }
ZOC_IVDEP
    for (; i < count; ++i) {
        body(i);
    }
}

} // namespace

void Copy(const float* source, float* destination, std::size_t count)
{
    // memcpy needs distinct buffers; copying an array onto itself is a no-op.
    if (count == 0 || source == destination) {
        return;
    }
    std::memcpy(destination, source, count * sizeof(float));
}

void Fill(float value, float* destination, std::size_t count)
{
    ForEach(count, [=](std::size_t i) { destination[i] = value; });
}

void Scale(const float* source, float factor, float* destination, std::size_t count)
{
    ForEach(count, [=](std::size_t i) { destination[i] = source[i] * factor; });
}

void ScaleInPlace(float* data, float factor, std::size_t count)
{
    ForEach(count, [=](std::size_t i) { data[i] = data[i] * factor; });
}

void Add(const float* a, const float* b, float* destination, std::size_t count)
{
    ForEach(count, [=](std::size_t i) { destination[i] = a[i] + b[i]; });
}

void AddInPlace(const float* source, float* data, std::size_t count)
{
    ForEach(count, [=](std::size_t i) { data[i] = data[i] + source[i]; });
}

void Subtract(const float* a, const float* b, float* destination, std::size_t count)
{
    ForEach(count, [=](std::size_t i) { destination[i] = a[i] - b[i]; });
}

void Multiply(const float* a, const float* b, float* destination, std::size_t count)
{
    ForEach(count, [=](std::size_t i) { destination[i] = a[i] * b[i]; });
}

void MultiplyAccumulate(const float* a, const float* b, float* accumulator, std::size_t count)
{
    // With -ffp-contract=off the product is rounded to float before the add;
    // no fused multiply-add is ever formed.
    ForEach(count, [=](std::size_t i) { accumulator[i] = accumulator[i] + a[i] * b[i]; });
}

void ScaleAccumulate(const float* source, float factor, float* accumulator, std::size_t count)
{
    ForEach(count, [=](std::size_t i) { accumulator[i] = accumulator[i] + source[i] * factor; });
}

void Reverse(const float* source, float* destination, std::size_t count)
{
    if (source == destination) {
        // The copying loop below would read elements it has already
        // overwritten, so in place the two halves trade elements instead.
        std::reverse(destination, destination + count);
        return;
    }
    ForEach(count, [=](std::size_t i) { destination[i] = source[count - 1 - i]; });
}

void Abs(const float* source, float* destination, std::size_t count)
{
    // fabs only clears the sign bit: -0 becomes +0 and NaNs stay NaN.
    ForEach(count, [=](std::size_t i) { destination[i] = std::fabs(source[i]); });
}

void Square(const float* source, float* destination, std::size_t count)
{
    ForEach(count, [=](std::size_t i) { destination[i] = source[i] * source[i]; });
}

void Ln(const float* source, float* destination, std::size_t count)
{
    // One scalar logf per element: vector log implementations round
    // differently, and results must match std::log(float) exactly.
    for (std::size_t i = 0; i < count; ++i) {
        destination[i] = std::log(source[i]);
    }
}

} // namespace zoc::primitives
