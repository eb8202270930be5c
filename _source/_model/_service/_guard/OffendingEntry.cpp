#include "_model/_service/_guard/OffendingEntry.h"

#include "_model/_service/Paths.h"
#include "_model/_service/_guard/CountermeasurePorts.h"
#include "_model/_service/_guard/RestartList.h"

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
// NtCreateFile's values for what CreateFileW is asked here.
constexpr ULONG kFileOpen = 1;                        // FILE_OPEN
constexpr ULONG kSynchronousIo = 0x00000020;          // FILE_SYNCHRONOUS_IO_NONALERT
constexpr ULONG kOpenForBackupIntent = 0x00004000;    // FILE_OPEN_FOR_BACKUP_INTENT
constexpr ULONG kOpenReparsePoint = 0x00200000;       // FILE_OPEN_REPARSE_POINT
constexpr ULONG kObjCaseInsensitive = 0x00000040;     // OBJ_CASE_INSENSITIVE, as CreateFileW opens
constexpr NTSTATUS kStatusInvalidParameter = static_cast<NTSTATUS>(0xC000000DL);

DWORD dosErrorOf(NTSTATUS status)
{
    using Fn = ULONG(NTAPI*)(NTSTATUS);
    static const Fn fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlNtStatusToDosError")));
    return fn ? fn(status) : ERROR_GEN_FAILURE;
}

bool isAbsence(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool isRefusedName(DWORD error)
{
    return error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME;
}

std::wstring identityOf(const BY_HANDLE_FILE_INFORMATION& info)
{
    wchar_t text[40];
    swprintf(text, sizeof(text) / sizeof(text[0]), L"%08lx-%08lx%08lx",
             static_cast<unsigned long>(info.dwVolumeSerialNumber), static_cast<unsigned long>(info.nFileIndexHigh),
             static_cast<unsigned long>(info.nFileIndexLow));
    return text;
}

// Whether the open handle is an entry of the folder that was listed, and not what a link
// there leads to in another folder. Only the folders are compared: a system may give the
// entry's own name in another form (Wine gives a mangled form for a name that ends in a dot
// or a space). True when it cannot be told (the system gives no final path).
bool isInTheListedFolder(HANDLE handle, const std::wstring& path)
{
    std::vector<wchar_t> name(1024);
    DWORD length = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        length = GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length < name.size()) {
            break;
        }
        name.resize(length + 1);
    }
    if (length == 0 || length >= name.size()) {
        return true;
    }
    const std::wstring finalPath(name.data(), length);
    return sameName(ntPathOf(parentOf(finalPath)), ntPathOf(parentOf(path)));
}

} // namespace

std::wstring identityOfFileAt(const std::wstring& path)
{
    const Corvane::Orlin::UniqueFile file(
        CreateFileW(extendedPathOf(path).c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !GetFileInformationByHandle(file.get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return std::wstring();
    }
    return identityOf(info);
}

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
    if (!isInTheListedFolder(_handle.get(), path)) {
        _handle.reset();
        _state = State::Elsewhere;
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

HANDLE WINAPI openEntryCompletingIfOplocked(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                            DWORD, DWORD flags, HANDLE)
{
    std::wstring name = ntPathOf(path);
    UNICODE_STRING unicodeName;
    unicodeName.Buffer = &name[0];
    unicodeName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    unicodeName.MaximumLength = unicodeName.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicodeName, kObjCaseInsensitive, nullptr,
                               security ? security->lpSecurityDescriptor : nullptr);
    ULONG options = kSynchronousIo | kCompleteIfOplocked;
    if (flags & FILE_FLAG_BACKUP_SEMANTICS) {
        options |= kOpenForBackupIntent;
    }
    if (flags & FILE_FLAG_OPEN_REPARSE_POINT) {
        options |= kOpenReparsePoint;
    }
    const ACCESS_MASK fullAccess = access | SYNCHRONIZE | FILE_READ_ATTRIBUTES;
    for (;;) {
        HANDLE handle = nullptr;
        IO_STATUS_BLOCK io{};
        // A success status includes STATUS_OPLOCK_BREAK_IN_PROGRESS: the handle is open.
        const NTSTATUS status = countermeasurePorts().ntCreateFile(&handle, fullAccess, &attributes, &io, nullptr, 0,
                                                                   share, kFileOpen, options, nullptr, 0);
        if (status >= 0) {
            return handle;
        }
        if (status == kStatusInvalidParameter && (options & kCompleteIfOplocked)) {
            options &= ~kCompleteIfOplocked; // a system without the option: open as CreateFileW would
            continue;
        }
        SetLastError(dosErrorOf(status));
        return INVALID_HANDLE_VALUE;
    }
}

}}} // namespace tamselsvc::model::service
