#include "Denials.h"

#include "HostShell.h"

#include <sddl.h>

namespace brimlock_test {

namespace {

constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";

// The saved access list with a deny entry for setting values, for everyone, in front.
std::wstring withDenyEntry(const std::wstring& saved)
{
    const std::wstring deny = L"(D;;0x2;;;WD)";
    const size_t dacl = saved.find(L"D:");
    if (dacl == std::wstring::npos || saved.find(L"NO_ACCESS_CONTROL") != std::wstring::npos) {
        return L"D:" + deny + L"(A;;KA;;;WD)"; // no list at all: everything was allowed
    }
    const size_t firstEntry = saved.find(L'(', dacl);
    if (firstEntry == std::wstring::npos) {
        return saved + deny; // an empty list: nothing was allowed anyway
    }
    return saved.substr(0, firstEntry) + deny + saved.substr(firstEntry);
}

bool runChattr(const std::wstring& path, const char* before, const char* flag)
{
    const std::string unixPath = unixPathOf(path);
    if (unixPath.empty()) {
        return false;
    }
    const std::wstring marker = L"C:\\brimlock-chattr.done";
    return runHostShellAndWait(std::string(before) + "chattr " + flag + " '" + unixPath + "'", marker);
}

// Is the file really refused? A rename there and back tells without losing it.
bool renameIsDenied(const std::wstring& path)
{
    const std::wstring probe = path + L".immutable-probe";
    if (MoveFileExW(path.c_str(), probe.c_str(), 0)) {
        MoveFileExW(probe.c_str(), path.c_str(), 0);
        return false;
    }
    return GetLastError() == ERROR_ACCESS_DENIED;
}

} // namespace

bool setImmutable(const std::wstring& path, bool on)
{
    return runChattr(path, "", on ? "+i" : "-i") && (!on || renameIsDenied(path));
}

bool createImmutableFile(const std::wstring& path)
{
    const std::string unixPath = unixPathOf(path);
    return !unixPath.empty() && runChattr(path, (": > '" + unixPath + "' && ").c_str(), "+i") && renameIsDenied(path);
}

PendingRenamesDenied::PendingRenamesDenied()
{
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, READ_CONTROL | WRITE_DAC, &key);
    if (status != ERROR_SUCCESS) {
        _error = status;
        return;
    }
    DWORD size = 0;
    RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    _saved.resize(size ? size : 1);
    status = RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, _saved.data(), &size);
    LPWSTR text = nullptr;
    if (status == ERROR_SUCCESS &&
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(_saved.data(), SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &text, nullptr)) {
        status = GetLastError();
    }
    PSECURITY_DESCRIPTOR denied = nullptr;
    if (status == ERROR_SUCCESS) {
        const std::wstring wanted = withDenyEntry(text);
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(wanted.c_str(), SDDL_REVISION_1, &denied,
                                                                  nullptr)) {
            status = GetLastError();
        }
    }
    if (text) {
        LocalFree(text);
    }
    if (status == ERROR_SUCCESS) {
        status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, denied);
    }
    if (denied) {
        LocalFree(denied);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        _error = status;
        _saved.clear();
        return;
    }
    // Does the server enforce it? Opening for setting values must now be refused.
    HKEY probe = nullptr;
    const LSTATUS probeStatus = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &probe);
    if (probeStatus == ERROR_SUCCESS) {
        RegCloseKey(probe);
        _error = ERROR_SUCCESS;
        return; // not enforced: ok() stays false, the destructor restores
    }
    _ok = true;
}

PendingRenamesDenied::~PendingRenamesDenied()
{
    if (_saved.empty()) {
        return;
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, WRITE_DAC, &key) == ERROR_SUCCESS) {
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, _saved.data());
        RegCloseKey(key);
    }
}

} // namespace brimlock_test
