#pragma once
// Fails the current test when operator new runs on this thread while a guard
// is alive. Wrap the steady-state processing of a component in one:
//
//   { AllocationGuard guard; component->Process(in, out, 512); }

#include "support/CountingAllocator.h"

namespace zoc::test {

class AllocationGuard {
public:
    AllocationGuard() = default;
    ~AllocationGuard();
    AllocationGuard(const AllocationGuard&) = delete;
    AllocationGuard& operator=(const AllocationGuard&) = delete;

private:
    support::AllocationCounter counter_;
};

/// Counts without failing anything: for programs that report on their own
/// (the soak) and checks that compare the count with a promise.
using support::AllocationCounter;

} // namespace zoc::test
