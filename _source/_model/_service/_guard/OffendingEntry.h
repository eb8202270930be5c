#pragma once
// One offending entry of a folder listing, opened once, as listed, and kept open while the
// countermeasure deals with it, so that what is checked is what is renamed:
//
// - opened through the extended path form (so "Program." is that entry, not C:\Program),
//   without following a link (a link named like a candidate is the link, its target is
//   never touched) and without delete sharing (nobody else can rename or delete it while
//   it is open, so it cannot be swapped for a folder between the check and the rename);
// - checked on the handle: a folder, a junction or a folder link is left alone, and so is
//   an entry whose handle leads elsewhere than the listed path (a system that follows a
//   link although asked not to would otherwise have the link's target moved);
// - renamed through the handle, never replacing an existing entry; once the handle is
//   open, nothing is done by path (a path could name an entry swapped since the check).
//
// The open completes at once even when another program holds an opportunistic lock on the
// file (openEntryCompletingIfOplocked): a lock whose owner never acknowledges its break
// must not hold up a pass, every watcher and the stop behind it. The entry is closed when
// the object goes. Every call goes through countermeasurePorts.

#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <string>

namespace tamselsvc { namespace model { namespace service {

class OffendingEntry {
public:
    enum class State {
        Open,        // opened and checked: a file (or a link to one), ready to be renamed
        Folder,      // a folder, junction or folder link by now: to be left alone
        Gone,        // no longer there (file or path not found): nothing to do
        Unreachable, // a name the system refuses as a path (for instance "Program.*"): no
                     // program can be started by it, so it is left alone
        Elsewhere,   // the open reached another entry than the one listed (a link that the
                     // system followed although asked not to): left alone
        Refused,     // there, but it cannot be opened for a rename (held open without delete
                     // sharing, access denied): the rename fails with openError()
    };

    explicit OffendingEntry(const std::wstring& path);
    OffendingEntry(const OffendingEntry&) = delete;
    OffendingEntry& operator=(const OffendingEntry&) = delete;

    State state() const noexcept { return _state; }
    // The error of the open for every state but Open (0 then).
    DWORD openError() const noexcept { return _openError; }
    // "<volume serial>-<file index>" of an opened entry, in hex; empty unless it was opened
    // (a held file has no identity the countermeasure can read).
    const std::wstring& identity() const noexcept { return _identity; }

    // Renames the entry to `newPath` (a plain full path in the same folder) through its
    // handle. 0 on success; ERROR_ALREADY_EXISTS or ERROR_FILE_EXISTS when something has that
    // name (nothing is replaced; the entry stays open and can be renamed to another name);
    // any other Win32 error otherwise (also where the file system has no rename through a
    // handle). A Refused entry returns openError() without trying; Folder, Gone and
    // Unreachable return ERROR_INVALID_FUNCTION.
    DWORD renameTo(const std::wstring& newPath);

    // Gives the entry back to others (it cannot be renamed through this object any more).
    void close() noexcept { _handle.reset(); }

private:
    std::wstring _path;
    Corvane::Orlin::UniqueFile _handle;
    State _state = State::Gone;
    DWORD _openError = 0;
    std::wstring _identity;
};

// The identity, as identity() gives it, of the file that Windows would start at `path`
// (links followed), opened for its attributes only and with full sharing; "" when nothing
// can be opened there or it is a folder. Nothing is kept open.
std::wstring identityOfFileAt(const std::wstring& path);

// CreateFileW for an existing entry (OPEN_EXISTING; FILE_FLAG_BACKUP_SEMANTICS and
// FILE_FLAG_OPEN_REPARSE_POINT as given), made through NtCreateFile with the create option
// that completes the open at once when the file is oplocked (FILE_COMPLETE_IF_OPLOCKED);
// the break then goes on without us waiting for it. `path` in the extended form
// ("\\?\C:\x"). Where the system refuses that option (STATUS_INVALID_PARAMETER), the open
// is made once more without it. Errors as CreateFileW gives them.
HANDLE WINAPI openEntryCompletingIfOplocked(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                            DWORD creation, DWORD flags, HANDLE templateFile);

// The create options of that open (for tests of the seam).
constexpr ULONG kCompleteIfOplocked = 0x00000100; // FILE_COMPLETE_IF_OPLOCKED

}}} // namespace tamselsvc::model::service
