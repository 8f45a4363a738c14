#pragma once
// Replacements of the global allocation functions that count the allocations
// each thread makes while a counter is alive: how a program checks that
// real-time code does not allocate. Link zoc_counting_allocator into programs
// only, never into a shared library (the replacements are process-wide).

#include <cstddef>

namespace zoc::support {

/// Counts the allocations on this thread while it is alive. Counters nest:
/// an inner one leaves the outer one counting.
class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    /// Allocations on this thread since the counter was made.
    std::size_t Count() const;

private:
    std::size_t start_;
    bool outerActive_;
};

} // namespace zoc::support
