#include "TestPaths.h"

#include <windows.h>

#include <filesystem>
#include <vector>

namespace brimlock_test {

std::wstring moduleDirectory()
{
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    std::wstring path(buffer.data(), length);
    return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring builtProgram(const std::wstring& fileName)
{
    return moduleDirectory() + L"\\" + fileName;
}

std::wstring makeTempDirectory(const std::wstring& hint)
{
    wchar_t base[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, base);
    for (unsigned attempt = 0;; ++attempt) {
        std::wstring path = std::wstring(base) + L"brimlock-" + hint + L"-" + std::to_wstring(GetCurrentProcessId()) +
                            L"-" + std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(attempt);
        if (CreateDirectoryW(path.c_str(), nullptr)) {
            return path;
        }
    }
}

void removeTree(const std::wstring& path)
{
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::path(path), ignored);
}

std::wstring environmentVariable(const wchar_t* name)
{
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) {
        return std::wstring();
    }
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, &value[0], size));
    return value;
}

bool isWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

} // namespace brimlock_test
