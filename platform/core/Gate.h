#pragma once
// A gate that threads wait on until another thread opens it. It stays open
// until closed (a manual-reset event).

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zoc::core {

class Gate {
public:
    explicit Gate(bool open = false) : open_(open) {}
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

    void Open();
    void Close();
    bool IsOpen() const;
    /// Waits until the gate is open; returns at once when it already is.
    void Wait();
    /// Waits at most `timeout`; true when the gate was open in time.
    bool Wait(std::chrono::milliseconds timeout);

private:
    mutable std::mutex mutex_;
    std::condition_variable opened_;
    bool open_;
};

} // namespace zoc::core
