#pragma once
// Fails the current test when operator new runs on this thread while a guard
// is alive. Wrap the steady-state processing of a component in one:
//
//   { AllocationGuard guard; component->Process(in, out, 512); }

#include <cstddef>

namespace zoc::test {

class AllocationGuard {
public:
    AllocationGuard();
    ~AllocationGuard();
    AllocationGuard(const AllocationGuard&) = delete;
    AllocationGuard& operator=(const AllocationGuard&) = delete;

private:
    std::size_t start_;
    bool outerActive_;
};

/// Counts the allocations on this thread while it is alive, without failing
/// anything: for programs that report on their own (the soak).
class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;
    std::size_t Count() const;

private:
    std::size_t start_;
    bool outerActive_;
};

} // namespace zoc::test
