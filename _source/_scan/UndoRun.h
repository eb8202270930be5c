#pragma once
// /undo FILE: puts back the old text of each change the undo file holds, but only where
// the value still holds exactly the text /fix wrote (and its type); any other value is
// left as it is and named. A file that cannot be read, is not an undo file, was edited
// (its checksum) or was written on another machine changes nothing at all.

#include "_scan/UndoFile.h"

#include <string>
#include <vector>

namespace brimlockscan {

enum class UndoOutcome { Restored, Changed, WriteFailed };

struct UndoStep {
    UndoChange change;
    UndoOutcome outcome = UndoOutcome::Changed;
    DWORD error = 0;
};

struct UndoResult {
    UndoFileState file = UndoFileState::Usable;
    bool otherMachine = false; // the file is usable but names another machine
    DWORD error = 0;           // Unreadable: the Win32 error
    std::vector<UndoStep> steps;
};

UndoResult undoFix(const std::wstring& undoPath);

} // namespace brimlockscan
