#pragma once
// The classic C runtime random sequence, reproduced exactly because some
// synthesized impulses depend on it: state = state * 214013 + 2531011
// (mod 2^32), result = (state >> 16) & 0x7FFF. The state is per thread.

namespace zoc::core::crt {

constexpr int kRandMax = 0x7FFF;

void srand(unsigned seed);
int rand();

} // namespace zoc::core::crt
