#pragma once
// Threads and handles of another process, for tests that check that a long-running
// process comes back to rest. Both are counted from system-wide lists, because
// GetProcessHandleCount gives 0 for every process under Wine.

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

namespace brimlock_test {

// Threads of `pid`, from a Toolhelp snapshot; -1 when no snapshot can be taken.
int threadCount(DWORD pid);

// Handles that `pid` holds open, from NtQuerySystemInformation(SystemHandleInformation);
// -1 when the list cannot be read.
int handleCount(DWORD pid);

struct ThreadsAndHandles {
    int threads = -1;
    int handles = -1;
};
ThreadsAndHandles countsOf(DWORD pid);
// Polls until both counts of `pid` are at or below those of `rest`, at most `timeout`;
// `last` gets the counts seen last.
bool waitForRest(DWORD pid, const ThreadsAndHandles& rest, std::chrono::milliseconds timeout, ThreadsAndHandles* last);

// The handles of `pid` as "value:type" (type as the system's object type number), sorted;
// for telling which handles a failing check found in excess.
std::vector<std::string> handleList(DWORD pid);
// The entries of `now` that are not in `before`.
std::vector<std::string> handlesAdded(const std::vector<std::string>& before, const std::vector<std::string>& now);

} // namespace brimlock_test
