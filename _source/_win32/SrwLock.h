#pragma once
// An exclusive lock on the system's slim reader/writer lock, usable with std::lock_guard
// and std::unique_lock, with no state kept by a thread library. The service's locks are of
// this kind: with std::mutex of the mingw-w64 posix thread library as the countermeasure's
// pass lock, two concurrent passes under heavy load (two busy loops on two cores) were
// seen to handle the same files, also with no detached std::thread in the process; with
// this lock the same load test showed none. A second try by the owner fails like any
// other (the lock is not recursive).

#include <windows.h>

namespace Corvane { namespace Orlin {

class SrwLock {
public:
    SrwLock() = default;
    SrwLock(const SrwLock&) = delete;
    SrwLock& operator=(const SrwLock&) = delete;

    void lock() noexcept { AcquireSRWLockExclusive(&_lock); }
    bool try_lock() noexcept { return TryAcquireSRWLockExclusive(&_lock) != FALSE; }
    void unlock() noexcept { ReleaseSRWLockExclusive(&_lock); }

private:
    SRWLOCK _lock = SRWLOCK_INIT;
};

}} // namespace Corvane::Orlin
