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

bool startHostShell(const std::string& script)
{
    std::wstring command = L"/bin/sh -c \"";
    for (char c : script) {
        command += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    command += L'"';
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return false;
    }
    // Wine gives no handle that tells the end of a host program.
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

bool runHostShellAndWait(const std::string& script, const std::wstring& marker, std::chrono::milliseconds timeout)
{
    const std::string unixMarker = unixPathOf(marker);
    if (unixMarker.empty()) {
        return false;
    }
    DeleteFileW(marker.c_str());
    if (!startHostShell(script + "; touch '" + unixMarker + "'")) {
        return false;
    }
    const bool ended =
        waitUntil([&] { return GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES; }, timeout,
                  std::chrono::milliseconds(50));
    DeleteFileW(marker.c_str());
    return ended;
}

} // namespace brimlock_test
