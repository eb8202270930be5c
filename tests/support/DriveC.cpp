#include "DriveC.h"

#include "Registry.h"
#include "TestProcess.h"

#include "_model/_service/Paths.h"

namespace brimlock_test {

using Corvane::Orlin::UniqueFile;
using Corvane::Orlin::UniqueFindHandle;
using tamselsvc::model::service::joinPath;

namespace {
constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";
} // namespace

bool createFileWithText(const std::wstring& path, const std::string& text)
{
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    DWORD written = 0;
    return WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

bool createFile(const std::wstring& path)
{
    return createFileWithText(path, "x");
}

std::string readFileText(const std::wstring& path)
{
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return "<missing>";
    }
    std::string text;
    char buffer[4096];
    for (DWORD got = 0;; text.append(buffer, got)) {
        if (!ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr)) {
            return "<unreadable>";
        }
        if (got == 0) {
            return text;
        }
    }
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isDirectory(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool fileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::wstring> namesMatching(const std::wstring& pattern, bool filesOnly)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(FindFirstFileW(pattern.c_str(), &data));
    if (find) {
        do {
            if (!filesOnly || !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                names.push_back(data.cFileName);
            }
        } while (FindNextFileW(find.get(), &data));
    }
    return names;
}

void deleteFilesMatching(const std::wstring& folder, const std::wstring& pattern)
{
    for (const std::wstring& name : namesMatching(joinPath(folder, pattern), true)) {
        const std::wstring path = joinPath(folder, name);
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
    }
}

void cleanDriveC()
{
    for (const wchar_t* stem : {L"Program*", L"Quarrow*", L"Progrxm*"}) {
        deleteFilesMatching(L"C:", stem);
    }
    // Empty folders named like a candidate or a numbered name (tests take numbers with
    // them); the system's Program Files and ProgramData, and any folder that holds
    // anything, stay.
    for (const std::wstring& name : namesMatching(L"C:\\Program*")) {
        if (name.find(L' ') == std::wstring::npos && name != L"ProgramData") {
            RemoveDirectoryW(joinPath(L"C:\\", name).c_str());
        }
    }
}

HeldFile::HeldFile(const std::wstring& path)
    : _file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr))
{
}

PendingOperations readPendingOperations()
{
    PendingOperations result;
    const RegistryValue value = readMachineValue(kSessionManager, kPendingValue);
    if (value.error != ERROR_SUCCESS) {
        return result;
    }
    result.present = true;
    result.type = value.type;
    result.raw = value.raw;
    const wchar_t* text = reinterpret_cast<const wchar_t*>(result.raw.data());
    std::wstring current;
    for (size_t i = 0; i < result.raw.size() / sizeof(wchar_t); ++i) {
        if (text[i] == L'\0') {
            result.entries.push_back(current);
            current.clear();
        } else {
            current.push_back(text[i]);
        }
    }
    // The list ends with an extra terminator: drop the empty string it makes when the
    // strings are otherwise paired.
    if (result.entries.size() % 2 == 1 && result.entries.back().empty()) {
        result.entries.pop_back();
    }
    return result;
}

void restorePendingOperations(const PendingOperations& saved)
{
    if (saved.present) {
        setMachineValue(kSessionManager, kPendingValue, saved.type, saved.raw.data(),
                        static_cast<DWORD>(saved.raw.size()));
    } else {
        clearPendingOperations();
    }
}

void clearPendingOperations()
{
    deleteMachineValue(kSessionManager, kPendingValue);
}

std::vector<std::pair<std::wstring, std::wstring>> addedOperations(const PendingOperations& before)
{
    const PendingOperations after = readPendingOperations();
    std::vector<std::pair<std::wstring, std::wstring>> added;
    for (size_t i = before.entries.size(); i + 1 < after.entries.size(); i += 2) {
        added.emplace_back(after.entries[i], after.entries[i + 1]);
    }
    return added;
}

bool runWinebootRestart()
{
    const ProcessResult result = runProcess(L"wineboot.exe -r", 120000);
    return result.started && result.finished;
}

} // namespace brimlock_test
