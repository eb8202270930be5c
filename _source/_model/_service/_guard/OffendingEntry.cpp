#include "_model/_service/_guard/OffendingEntry.h"

#include "_model/_service/Paths.h"
#include "_model/_service/_guard/CountermeasurePorts.h"

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

namespace {

// DELETE to rename; FILE_READ_ATTRIBUTES to check what it is; no FILE_SHARE_DELETE, so
// that nobody renames or deletes it while it is open.
constexpr DWORD kAccess = DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// The entry itself, link or not; a folder can be opened too (and is then left alone).
constexpr DWORD kFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
// The path fallback: never replace, and a same-folder rename never copies.
constexpr DWORD kPathRenameFlags = MOVEFILE_COPY_ALLOWED;

bool isAbsence(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool isRefusedName(DWORD error)
{
    return error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME;
}

// The answers of a system or file system that has no rename through a handle.
bool isUnsupported(DWORD error)
{
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

std::wstring identityOf(const BY_HANDLE_FILE_INFORMATION& info)
{
    wchar_t text[40];
    swprintf(text, sizeof(text) / sizeof(text[0]), L"%08lx-%08lx%08lx",
             static_cast<unsigned long>(info.dwVolumeSerialNumber), static_cast<unsigned long>(info.nFileIndexHigh),
             static_cast<unsigned long>(info.nFileIndexLow));
    return text;
}

} // namespace

OffendingEntry::OffendingEntry(const std::wstring& path) : _path(path)
{
    _handle.reset(countermeasurePorts().createFile(extendedPathOf(path).c_str(), kAccess, kShare, nullptr,
                                                   OPEN_EXISTING, kFlags, nullptr));
    if (!_handle) {
        _openError = GetLastError();
        _state = isAbsence(_openError) ? State::Gone : isRefusedName(_openError) ? State::Unreachable : State::Refused;
        return;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(_handle.get(), &info)) {
        // What it is cannot be told: treated like an entry that cannot be opened.
        _openError = GetLastError();
        _handle.reset();
        _state = State::Refused;
        return;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        _handle.reset();
        _state = State::Folder;
        return;
    }
    _identity = identityOf(info);
    _state = State::Open;
}

DWORD OffendingEntry::renameTo(const std::wstring& newPath)
{
    switch (_state) {
    case State::Open:
        break;
    case State::Refused:
        return _openError;
    default:
        return ERROR_INVALID_FUNCTION;
    }
    if (!_byPath) {
        const DWORD error = renameThroughHandle(newPath);
        if (!isUnsupported(error)) {
            return error;
        }
        // A path rename needs the entry without this handle, which denies delete sharing.
        _byPath = true;
        _handle.reset();
    }
    return renameByPath(newPath);
}

DWORD OffendingEntry::renameThroughHandle(const std::wstring& newPath)
{
    const std::wstring target = ntPathOf(newPath);
    const size_t nameBytes = target.size() * sizeof(wchar_t);
    // FILE_RENAME_INFO ends in the name; room for one more wchar_t as a terminator.
    std::vector<unsigned char> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t), 0);
    FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(info->FileName, target.c_str(), nameBytes);
    if (countermeasurePorts().setFileInformationByHandle(_handle.get(), FileRenameInfo, info,
                                                         static_cast<DWORD>(buffer.size()))) {
        return 0;
    }
    return GetLastError();
}

DWORD OffendingEntry::renameByPath(const std::wstring& newPath)
{
    if (countermeasurePorts().moveFileEx(extendedPathOf(_path).c_str(), extendedPathOf(newPath).c_str(),
                                         kPathRenameFlags)) {
        return 0;
    }
    return GetLastError();
}

}}} // namespace tamselsvc::model::service
