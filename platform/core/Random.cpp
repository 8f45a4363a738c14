#include "platform/core/Random.h"

#include <cstdint>

namespace zoc::core::crt {

namespace {
// Each thread starts from 1, as if srand(1) had been called.
thread_local std::uint32_t state = 1;
} // namespace

void srand(unsigned seed)
{
    state = static_cast<std::uint32_t>(seed);
}

int rand()
{
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & kRandMax);
}

} // namespace zoc::core::crt
