#pragma once
// Requests from the control thread for work the audio thread does at the
// start of its next block: a reset (reallocate and clear state after a rate
// or channel change) and an update (take in changed parameters). One byte
// each; no locks.

#include <atomic>

namespace zoc {

class DeferredWork {
public:
    /// Control thread. Values the work depends on must be stored first.
    void RequestReset() { reset_.store(true, std::memory_order_release); }
    void RequestUpdate() { update_.store(true, std::memory_order_release); }

    /// Clears and returns a request.
    bool TakeReset() { return reset_.exchange(false, std::memory_order_acq_rel); }
    bool TakeUpdate() { return update_.exchange(false, std::memory_order_acq_rel); }
    bool ResetRequested() const { return reset_.load(std::memory_order_acquire); }

private:
    std::atomic<bool> reset_{true};
    std::atomic<bool> update_{true};
};

} // namespace zoc
