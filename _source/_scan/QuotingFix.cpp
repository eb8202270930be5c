#include "_scan/QuotingFix.h"

#include "_scan/UndoFile.h"
#include "_scan/Utf8.h"

#include <set>
#include <tuple>

namespace brimlockscan {

std::vector<FixStep> planFix(const ScanResult& result)
{
    std::vector<FixStep> steps;
    std::set<std::tuple<std::wstring, int, std::wstring>> planned; // one change per value
    for (const Finding& finding : result.findings) {
        const Registration& registration = finding.registration;
        FixStep step;
        step.finding = &finding;
        step.place = {registration.key, registration.view,
                      registration.kind == tamselsvc::model::service::RegistrationKind::Service ? L"ImagePath"
                                                                                                 : registration.name};
        step.before = {registration.expandable ? DWORD(REG_EXPAND_SZ) : DWORD(REG_SZ), registration.value};
        step.after = {step.before.type, finding.value};
        const auto value = std::make_tuple(step.place.key, int(step.place.view), step.place.name);
        if (finding.value.empty()) {
            step.outcome = FixOutcome::NoProgram;
        } else if (registration.kind == tamselsvc::model::service::RegistrationKind::ScheduledTask) {
            step.outcome = FixOutcome::ScheduledTask;
        } else if (registration.expandable && finding.value.find(L'%') != std::wstring::npos) {
            step.outcome = FixOutcome::HoldsPercent;
        } else if (!isWellFormed(step.place.name) || !isWellFormed(step.before.text) ||
                   !isWellFormed(step.after.text)) {
            step.outcome = FixOutcome::NotInUtf8;
        } else if (!planned.insert(value).second) {
            step.outcome = FixOutcome::SharedValue;
        }
        steps.push_back(std::move(step));
    }
    return steps;
}

DWORD applyFix(std::vector<FixStep>& steps, const std::wstring& undoPath)
{
    UndoRecord record;
    record.machine = machineName();
    for (const FixStep& step : steps) {
        if (step.outcome == FixOutcome::Planned) {
            record.changes.push_back({step.place, step.before.type, step.before.text, step.after.text});
        }
    }
    if (record.changes.empty()) {
        return ERROR_SUCCESS;
    }
    if (const DWORD error = writeUndoFile(undoPath, record)) {
        return error;
    }
    UndoRecord written;
    written.machine = record.machine;
    for (FixStep& step : steps) {
        if (step.outcome != FixOutcome::Planned) {
            continue;
        }
        step.error = replaceStoredText(step.place, step.before, step.after);
        step.outcome = step.error == ERROR_SUCCESS  ? FixOutcome::Quoted
                       : step.error == kValueChanged ? FixOutcome::Changed
                                                     : FixOutcome::WriteFailed;
        if (step.outcome == FixOutcome::Quoted) {
            written.changes.push_back({step.place, step.before.type, step.before.text, step.after.text});
        }
    }
    // The file names only what was changed; when this second write fails, the first one
    // stays, and /undo leaves its other entries alone (their values never held `new`).
    if (written.changes.size() != record.changes.size()) {
        writeUndoFile(undoPath, written);
    }
    return ERROR_SUCCESS;
}

} // namespace brimlockscan
