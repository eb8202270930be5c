#pragma once
// What /fix and /whatif do with one scan's findings: each registration whose real program
// is known gets exactly that program in quotes, its arguments kept (Finding.value, the
// text the report offers); the value keeps its type (a service's ImagePath stays
// REG_EXPAND_SZ), written in the registry directly, which the service control manager
// reads at each start. Left alone, each with its reason: a program that was not found, a
// REG_EXPAND_SZ text that would hold a "%" after the quoting (it would be expanded once
// more), a value that changed since the scan (read again right before its write), a second
// command line of a value already changed in this run (Winlogon's lists), and a write the
// registry refused, a name or text with a lone surrogate, and a scheduled task's action (set
// through Task Scheduler, not the registry: the listing gives its command), (no UTF-8 undo file can hold
// it exactly).
//
// Order: the plan is made first; the undo file with every planned change is written
// completely before the first value is touched; then the values, one by one. A failure
// to write the undo file changes nothing. Each value is written whole or not at all. When
// a planned value is left after all, the undo file is written again with only the values
// changed.

#include "_scan/ScanResult.h"
#include "_scan/StoredValue.h"

#include <string>
#include <vector>

namespace brimlockscan {

enum class FixOutcome { Quoted, Planned, NoProgram, ScheduledTask, HoldsPercent, NotInUtf8, SharedValue, Changed, WriteFailed };

struct FixStep {
    const Finding* finding = nullptr;
    ValuePlace place;
    StoredText before; // as the scan read it
    StoredText after;  // the quoted text
    FixOutcome outcome = FixOutcome::Planned;
    DWORD error = 0;   // WriteFailed: the registry's error
};

// One step per finding: Planned, or the reason it is left alone.
std::vector<FixStep> planFix(const ScanResult& result);

// Writes the undo file of every Planned step to `undoPath`, then each value: Quoted,
// Changed or WriteFailed. Returns 0, or the undo file's error (then no step was touched).
DWORD applyFix(std::vector<FixStep>& steps, const std::wstring& undoPath);

} // namespace brimlockscan
