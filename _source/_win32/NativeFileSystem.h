#pragma once
// File-system redirection off for the calling thread while the object lives (64-bit
// Windows; on 32-bit Windows the call fails and there is nothing to turn off), restored at
// its end with the caller's last error kept, so that a path under System32 is the one the
// 64-bit system starts. Keep the scope short: a library loaded inside it would be looked
// for in the native folder.

#include <windows.h>

namespace Corvane { namespace Orlin {

class NativeFileSystem {
public:
    NativeFileSystem() : _off(Wow64DisableWow64FsRedirection(&_previous) != FALSE) {}
    ~NativeFileSystem()
    {
        if (_off) {
            const DWORD error = GetLastError(); // the look-up's, for its caller
            Wow64RevertWow64FsRedirection(_previous);
            SetLastError(error);
        }
    }
    NativeFileSystem(const NativeFileSystem&) = delete;
    NativeFileSystem& operator=(const NativeFileSystem&) = delete;

private:
    PVOID _previous = nullptr;
    bool _off;
};

}} // namespace Corvane::Orlin
