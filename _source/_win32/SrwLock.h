#pragma once
// An exclusive lock on the system's slim reader/writer lock, usable with std::lock_guard
// and std::unique_lock. Taken by the countermeasure for a whole pass: under heavy load
// under Wine, a std::mutex of the mingw-w64 thread library was seen to let two concurrent
// passes handle the same files (failed renames of files the other pass had moved, files
// renamed twice); with this lock the same load test showed none.

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
