// Counting replacements of the global allocation functions.

#include "tests/support/AllocationGuard.h"

#include <cstdlib>
#include <new>

#include <gtest/gtest.h>

namespace {

thread_local bool guardActive = false;
thread_local std::size_t allocations = 0;

void* Allocate(std::size_t size)
{
    if (guardActive)
        ++allocations;
    if (void* memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment)
{
    if (guardActive)
        ++allocations;
    const std::size_t align = static_cast<std::size_t>(alignment);
    const std::size_t rounded = (size + align - 1) / align * align;
    if (void* memory = std::aligned_alloc(align, rounded == 0 ? align : rounded))
        return memory;
    throw std::bad_alloc();
}

void* AllocateOrNull(std::size_t size) noexcept
{
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}

} // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void* operator new(std::size_t size, std::align_val_t alignment) { return AllocateAligned(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return AllocateAligned(size, alignment); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }

namespace zoc::test {

AllocationGuard::AllocationGuard() : start_(allocations), outerActive_(guardActive) { guardActive = true; }

AllocationGuard::~AllocationGuard()
{
    guardActive = outerActive_;
    const std::size_t seen = allocations - start_;
    if (seen != 0)
        ADD_FAILURE() << seen << " allocation(s) inside an allocation-free scope";
}

AllocationCounter::AllocationCounter() : start_(allocations), outerActive_(guardActive) { guardActive = true; }

AllocationCounter::~AllocationCounter() { guardActive = outerActive_; }

std::size_t AllocationCounter::Count() const { return allocations - start_; }

} // namespace zoc::test
