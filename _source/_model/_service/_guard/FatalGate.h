#pragma once
// A two-state gate taken on one thread and released on another (a lock owned by a thread
// would not allow that): held from the moment a check decides to show a "/fatal" notice
// until that notice's dialog has ended, so that at most one is on screen.

#include <atomic>

namespace tamselsvc { namespace model { namespace service {

class FatalGate {
public:
    // Takes the gate when it is free; never waits.
    bool tryAcquire() noexcept { return !_held.exchange(true, std::memory_order_acq_rel); }
    void release() noexcept { _held.store(false, std::memory_order_release); }
    bool held() const noexcept { return _held.load(std::memory_order_acquire); }

private:
    std::atomic<bool> _held{false};
};

// The countermeasure's gate of the "/fatal" notices.
inline FatalGate g_fatalGate;

}}} // namespace tamselsvc::model::service
