#pragma once
// Vector primitives over float arrays. Every result equals the plain
// single-precision loop (the library builds with -ffp-contract=off, so
// multiply-accumulate is a rounded multiply followed by a rounded add).
// Source and destination may be the same array; other overlaps are not allowed.
// None of them allocates.

#include <cstddef>

namespace zoc::primitives {

void Copy(const float* source, float* destination, std::size_t count);
void Fill(float value, float* destination, std::size_t count);
/// destination[i] = source[i] * factor
void Scale(const float* source, float factor, float* destination, std::size_t count);
/// destination[i] *= factor
void ScaleInPlace(float* data, float factor, std::size_t count);
/// destination[i] = a[i] + b[i]
void Add(const float* a, const float* b, float* destination, std::size_t count);
/// data[i] += source[i]
void AddInPlace(const float* source, float* data, std::size_t count);
/// destination[i] = a[i] - b[i]
void Subtract(const float* a, const float* b, float* destination, std::size_t count);
/// destination[i] = a[i] * b[i]
void Multiply(const float* a, const float* b, float* destination, std::size_t count);
/// accumulator[i] += a[i] * b[i]
void MultiplyAccumulate(const float* a, const float* b, float* accumulator, std::size_t count);
/// accumulator[i] += source[i] * factor
void ScaleAccumulate(const float* source, float factor, float* accumulator, std::size_t count);
/// destination[i] = source[count - 1 - i]; in place when source == destination
void Reverse(const float* source, float* destination, std::size_t count);
/// destination[i] = |source[i]|
void Abs(const float* source, float* destination, std::size_t count);
/// destination[i] = source[i] * source[i]
void Square(const float* source, float* destination, std::size_t count);
/// destination[i] = logf(source[i])
void Ln(const float* source, float* destination, std::size_t count);

} // namespace zoc::primitives
