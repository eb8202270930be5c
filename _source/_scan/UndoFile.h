#pragma once
// The undo file of /fix: one JSON document (UTF-8) with the machine's name and, for each
// value the fix changes, its place (key, view, name), its type and the old and new text,
// sealed with a SHA-256 checksum over the rest, so that an edited file is refused.
//
//   {"version":1, "machine":"NAME", "changes":[{"key":"HKLM\\...", "view":"native",
//    "name":"...", "type":"REG_SZ", "old":"...", "new":"..."}], "checksum":"<64 hex>"}
//
// Writing is all or nothing: the text goes to a new file beside the target, is flushed,
// and only then takes the target's name (MoveFileEx, write-through); a failure removes the
// temporary file and leaves no file at the target. The checksum guards against mistakes,
// not against an administrator's intent: keep undo files where only administrators write
// (the default folder, beside the program under Program Files, is such a place).

#include "_scan/StoredValue.h"

#include <windows.h>

#include <string>
#include <vector>

namespace brimlockscan {

struct UndoChange {
    ValuePlace place;
    DWORD type = REG_SZ;
    std::wstring oldText;
    std::wstring newText;
};

struct UndoRecord {
    std::wstring machine;
    std::vector<UndoChange> changes;
};

// 0, or the Win32 error of the write (nothing left at `path` then).
DWORD writeUndoFile(const std::wstring& path, const UndoRecord& record);

enum class UndoFileState { Usable, Unreadable, NotValid };

// Reads and checks the file; `error` is the Win32 error when Unreadable. NotValid: not
// UTF-8 JSON of this shape, an unknown version or view or type, or a checksum that does
// not match (an edited file). The machine is for the caller to compare.
UndoFileState readUndoFile(const std::wstring& path, UndoRecord& record, DWORD& error);

// This machine's name as undo files hold it (the NetBIOS name).
std::wstring machineName();

} // namespace brimlockscan
