#include "tests/support/AllocationGuard.h"

#include <gtest/gtest.h>

namespace zoc::test {

AllocationGuard::~AllocationGuard()
{
    const std::size_t seen = counter_.Count();
    if (seen != 0)
        ADD_FAILURE() << seen << " allocation(s) inside an allocation-free scope";
}

} // namespace zoc::test
