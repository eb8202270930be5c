#pragma once
// Bounded polling for tests: every wait in a test has a limit, so a fault fails the test
// instead of hanging the run.

#include <windows.h>

#include <chrono>

namespace brimlock_test {

template <typename Predicate>
bool waitUntil(Predicate done, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step = std::chrono::milliseconds(20))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        Sleep(static_cast<DWORD>(step.count()));
    }
}

} // namespace brimlock_test
