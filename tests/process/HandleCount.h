#pragma once
// The number of open handles of this process. GetProcessHandleCount answers 0 under Wine
// 8, so the handle table is probed instead: every value a handle can take in a small
// process is asked for its flags, and each that answers is an open handle.

#include <windows.h>

namespace brimlock_test {

inline DWORD openHandleCount()
{
    DWORD open = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++open;
        }
    }
    return open;
}

} // namespace brimlock_test
