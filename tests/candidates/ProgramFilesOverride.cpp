#include "ProgramFilesOverride.h"

#include "TestPaths.h"
#include "TestProcess.h"
#include "Wait.h"

#include "_win32/UniqueHandle.h"

#include <vector>

namespace brimlock_test {

namespace {

constexpr wchar_t kCurrentVersion[] = L"Software\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kValue[] = L"ProgramFilesDir (x86)";
constexpr REGSAM kView = KEY_WOW64_32KEY;

std::wstring hostToWindows(const std::wstring& hostPath)
{
    std::wstring path = L"Z:" + hostPath;
    for (auto& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path;
}

// Wine reports neither a reliable exit code nor the end of a host program (the process
// handle may be signalled before the program has run), so callers wait for the effect.
bool runHost(const std::wstring& commandLine)
{
    return runProcess(commandLine, 30000).started;
}

bool driveDShowsFolder()
{
    const DWORD attributes = GetFileAttributesW(L"D:\\Program Files (x86)");
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

ProgramFilesOverride::ProgramFilesOverride()
{
    Corvane::Orlin::UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_QUERY_VALUE | kView, key.put()) != ERROR_SUCCESS) {
        return;
    }
    std::vector<wchar_t> buffer(1024);
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), kValue, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
        _hadValue = true;
        _savedValue.assign(buffer.data());
    }
}

ProgramFilesOverride::~ProgramFilesOverride()
{
    if (_changedValue) {
        Corvane::Orlin::UniqueRegKey key;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_SET_VALUE | kView, key.put()) ==
            ERROR_SUCCESS) {
            if (_hadValue) {
                RegSetValueExW(key.get(), kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(_savedValue.c_str()),
                               static_cast<DWORD>((_savedValue.size() + 1) * sizeof(wchar_t)));
            } else {
                RegDeleteValueW(key.get(), kValue);
            }
        }
    }
    if (_mapped) {
        runHost(L"/bin/rm -f " + driveLinkHostPath());
        waitUntil([] { return GetFileAttributesW(L"D:\\") == INVALID_FILE_ATTRIBUTES; }, std::chrono::seconds(10));
        removeTree(hostToWindows(driveFolderHostPath()));
    }
}

std::wstring ProgramFilesOverride::driveLinkHostPath() const
{
    return environmentVariable(L"BRIMLOCK_WINE_ROOT") + L"/" + environmentVariable(L"BRIMLOCK_WINEARCH") +
           L"/dosdevices/d:";
}

std::wstring ProgramFilesOverride::driveFolderHostPath() const
{
    return environmentVariable(L"BRIMLOCK_WINE_ROOT") + L"/drive-d-" + environmentVariable(L"BRIMLOCK_WINEARCH");
}

bool ProgramFilesOverride::mapDriveD()
{
    if (environmentVariable(L"BRIMLOCK_WINE_ROOT").empty()) {
        return false;
    }
    const std::wstring folder = hostToWindows(driveFolderHostPath());
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\Program Files (x86)").c_str(), nullptr);
    _mapped = true;
    return runHost(L"/bin/ln -sfn " + driveFolderHostPath() + L" " + driveLinkHostPath()) &&
           waitUntil(&driveDShowsFolder, std::chrono::seconds(10));
}

LSTATUS ProgramFilesOverride::setProgramFilesX86(const std::wstring& path)
{
    Corvane::Orlin::UniqueRegKey key;
    const LSTATUS opened =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_SET_VALUE | kView, key.put());
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    _changedValue = true;
    return RegSetValueExW(key.get(), kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                          static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
}

} // namespace brimlock_test
