#include "HostShell.h"

#include "Wait.h"

namespace brimlock_test {

std::string unixPathOf(const std::wstring& path)
{
    using Fn = char*(CDECL*)(LPCWSTR);
    const auto fn = reinterpret_cast<Fn>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    if (!fn) {
        return std::string();
    }
    char* unix = fn(path.c_str());
    std::string result = unix ? unix : "";
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

bool runHostShellAndWait(const std::string& script, const std::wstring& marker, std::chrono::milliseconds timeout)
{
    const std::string unixMarker = unixPathOf(marker);
    if (unixMarker.empty()) {
        return false;
    }
    DeleteFileW(marker.c_str());
    const std::string full = script + "; touch '" + unixMarker + "'";
    std::wstring command = L"/bin/sh -c \"" + std::wstring(full.begin(), full.end()) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return false;
    }
    if (info.hThread) {
        CloseHandle(info.hThread);
    }
    if (info.hProcess) {
        CloseHandle(info.hProcess);
    }
    const bool ended =
        waitUntil([&] { return GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES; }, timeout,
                  std::chrono::milliseconds(50));
    DeleteFileW(marker.c_str());
    return ended;
}

} // namespace brimlock_test
