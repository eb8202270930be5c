#pragma once
// One offending entry of a folder listing, opened once, as listed, and kept open while the
// countermeasure deals with it, so that what is checked is what is renamed:
//
// - opened through the extended path form (so "Program." is that entry, not C:\Program),
//   without following a link (a link named like a candidate is the link, its target is
//   never touched) and without delete sharing (nobody else can rename or delete it while
//   it is open, so it cannot be swapped for a folder between the check and the rename);
// - checked on the handle: a folder, a junction or a folder link is left alone;
// - renamed through the handle, never replacing an existing entry.
//
// Where the system cannot rename through a handle (a file system without that call), the
// handle is closed and the rename is made by path, without replacing either; only that
// fallback can meet an entry swapped after the check. The entry is closed when the object
// goes. Every call goes through countermeasurePorts.

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

    // Renames the entry to `newPath` (a plain full path in the same folder). 0 on success;
    // ERROR_ALREADY_EXISTS or ERROR_FILE_EXISTS when something has that name (nothing is
    // replaced; the entry stays open and can be renamed to another name); any other Win32
    // error otherwise. A Refused entry returns openError() without trying; Folder, Gone and
    // Unreachable return ERROR_INVALID_FUNCTION.
    DWORD renameTo(const std::wstring& newPath);

    // Gives the entry back to others (it cannot be renamed through this object any more).
    void close() noexcept { _handle.reset(); }

private:
    DWORD renameThroughHandle(const std::wstring& newPath);
    DWORD renameByPath(const std::wstring& newPath);

    std::wstring _path;
    Corvane::Orlin::UniqueFile _handle;
    State _state = State::Gone;
    DWORD _openError = 0;
    std::wstring _identity;
    bool _byPath = false; // the handle rename is not supported here: path renames from now on
};

}}} // namespace tamselsvc::model::service
