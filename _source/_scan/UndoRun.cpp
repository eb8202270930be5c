#include "_scan/UndoRun.h"

namespace brimlockscan {

UndoResult undoFix(const std::wstring& undoPath)
{
    UndoResult result;
    UndoRecord record;
    result.file = readUndoFile(undoPath, record, result.error);
    if (result.file != UndoFileState::Usable) {
        return result;
    }
    // Names compared without regard to case, as Windows compares computer names.
    if (CompareStringOrdinal(record.machine.c_str(), -1, machineName().c_str(), -1, TRUE) != CSTR_EQUAL) {
        result.otherMachine = true;
        return result;
    }
    for (UndoChange& change : record.changes) {
        UndoStep step;
        step.error = replaceStoredText(change.place, {change.type, change.newText}, {change.type, change.oldText});
        step.outcome = step.error == ERROR_SUCCESS  ? UndoOutcome::Restored
                       : step.error == kValueChanged ? UndoOutcome::Changed
                                                     : UndoOutcome::WriteFailed;
        step.change = std::move(change);
        result.steps.push_back(std::move(step));
    }
    return result;
}

} // namespace brimlockscan
