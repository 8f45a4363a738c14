#include "platform/core/Gate.h"

namespace zoc::core {

void Gate::Open()
{
    // Notify with the lock held: a waiter may destroy the gate as soon as it
    // sees it open, and it cannot get past Wait before the lock is released.
    std::lock_guard lock(mutex_);
    open_ = true;
    opened_.notify_all();
}

void Gate::Close()
{
    std::lock_guard lock(mutex_);
    open_ = false;
}

bool Gate::IsOpen() const
{
    std::lock_guard lock(mutex_);
    return open_;
}

void Gate::Wait()
{
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
}

bool Gate::Wait(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    return opened_.wait_for(lock, timeout, [this] { return open_; });
}

} // namespace zoc::core
