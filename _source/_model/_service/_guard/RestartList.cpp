#include "_model/_service/_guard/RestartList.h"

#include "_model/_service/Paths.h"
#include "_model/_service/_guard/CountermeasurePorts.h"
#include "_win32/LogDebug.h"
#include "_win32/UniqueHandle.h"

namespace tamselsvc { namespace model { namespace service {

namespace {

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";

// Whether the operation is there already. When the list cannot be read the answer is no:
// one more entry is better than a file left in place.
bool alreadyScheduled(const std::wstring& ntSource, const std::wstring& ntTarget)
{
    std::vector<std::wstring> strings;
    if (!countermeasurePorts().readRestartList(strings)) {
        Corvane::Orlin::LogDebugA("PendingFileRenameOperations cannot be read (%lu)", GetLastError());
        return false;
    }
    return holdsRestartOperation(restartOperations(strings), ntSource, ntTarget);
}

DWORD schedule(const std::wstring& path, const std::wstring* newPath)
{
    if (alreadyScheduled(ntPathOf(path), newPath ? ntPathOf(*newPath) : std::wstring())) {
        return 0;
    }
    const std::wstring target = newPath ? extendedPathOf(*newPath) : std::wstring();
    if (countermeasurePorts().moveFileEx(extendedPathOf(path).c_str(), newPath ? target.c_str() : nullptr,
                                         MOVEFILE_DELAY_UNTIL_REBOOT)) {
        return 0;
    }
    return GetLastError();
}

} // namespace

DWORD scheduleRenameAtRestart(const std::wstring& path, const std::wstring& newPath)
{
    return schedule(path, &newPath);
}

DWORD scheduleDeletionAtRestart(const std::wstring& path)
{
    return schedule(path, nullptr);
}

std::vector<std::pair<std::wstring, std::wstring>> restartOperations(const std::vector<std::wstring>& strings)
{
    std::vector<std::pair<std::wstring, std::wstring>> operations;
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        operations.emplace_back(strings[i], strings[i + 1]);
    }
    return operations;
}

bool sameName(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool holdsRestartOperation(const std::vector<std::pair<std::wstring, std::wstring>>& operations,
                           const std::wstring& ntSource, const std::wstring& ntTarget)
{
    for (const auto& operation : operations) {
        if (!sameName(operation.first, ntSource)) {
            continue;
        }
        const std::wstring& target = operation.second;
        const bool replacing = !target.empty() && target[0] == L'!';
        if (sameName(replacing ? target.substr(1) : target, ntTarget)) {
            return true;
        }
    }
    return false;
}

bool readPendingFileRenameOperations(std::vector<std::wstring>& strings)
{
    strings.clear();
    Corvane::Orlin::UniqueRegKey key;
    LSTATUS status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put());
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        return false;
    }
    std::vector<wchar_t> text;
    DWORD type = 0;
    for (int attempt = 0; attempt < 4; ++attempt) { // the value may grow between the calls
        DWORD size = 0;
        status = RegQueryValueExW(key.get(), kPendingValue, nullptr, &type, nullptr, &size);
        if (status == ERROR_FILE_NOT_FOUND) {
            return true;
        }
        if (status != ERROR_SUCCESS) {
            break;
        }
        text.assign(size / sizeof(wchar_t) + 1, L'\0');
        status = RegQueryValueExW(key.get(), kPendingValue, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                                  &size);
        if (status == ERROR_SUCCESS) {
            text.resize(size / sizeof(wchar_t));
            break;
        }
        if (status != ERROR_MORE_DATA) {
            break;
        }
    }
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        return false;
    }
    if (type != REG_MULTI_SZ) {
        return true; // not a list: it holds no operation of ours
    }
    // Each string ends with a null; the list ends with one more (an empty string).
    std::wstring current;
    for (const wchar_t c : text) {
        if (c == L'\0') {
            strings.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) {
        strings.push_back(current); // a last string without its null
    }
    return true;
}

}}} // namespace tamselsvc::model::service
