#include "_scan/ScanTool.h"

#include "_model/_service/MessageStrings.h"
#include "_model/_service/Paths.h"
#include "_model/_service/_report/Registration.h"
#include "_scan/Listings.h"
#include "_scan/QuotingFix.h"
#include "_scan/UndoFile.h"
#include "_scan/UndoRun.h"

#include <windows.h>

#include <algorithm>
#include <iterator>

namespace brimlockscan {

namespace svc = tamselsvc::model::service;
using svc::messageString;

namespace {

enum class Mode { Text, Json, Csv, WhatIf, Fix, Undo, Help };

struct Arguments {
    Mode mode = Mode::Text;
    std::wstring file; // /undo's file, or /fix's /undofile
};

bool isSwitch(const std::wstring& argument, const wchar_t* name)
{
    return argument.size() > 1 && (argument[0] == L'/' || argument[0] == L'-') &&
           svc::lowerAsciiOnly(argument.substr(1)) == name;
}

// False, with the argument at fault in `bad`, for anything but one mode and its file.
bool parse(const std::vector<std::wstring>& arguments, Arguments& parsed, std::wstring& bad)
{
    static const std::pair<const wchar_t*, Mode> kModes[] = {{L"json", Mode::Json},     {L"csv", Mode::Csv},
                                                             {L"whatif", Mode::WhatIf}, {L"fix", Mode::Fix},
                                                             {L"undo", Mode::Undo},     {L"?", Mode::Help},
                                                             {L"help", Mode::Help}};
    bool modeGiven = false;
    bool undoFileGiven = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        bad = arguments[i];
        const bool takesFile = isSwitch(bad, L"undofile") || isSwitch(bad, L"undo");
        if (isSwitch(bad, L"undofile")) {
            if (undoFileGiven) {
                return false;
            }
            undoFileGiven = true;
        } else {
            const auto mode = std::find_if(std::begin(kModes), std::end(kModes),
                                           [&](const std::pair<const wchar_t*, Mode>& m) { return isSwitch(bad, m.first); });
            if (mode == std::end(kModes) || modeGiven) {
                return false;
            }
            modeGiven = true;
            parsed.mode = mode->second;
        }
        if (takesFile) {
            if (i + 1 == arguments.size() || arguments[i + 1].empty()) {
                return false;
            }
            parsed.file = arguments[++i];
        }
    }
    bad = L"/undofile";
    return !undoFileGiven || parsed.mode == Mode::Fix;
}

std::wstring quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

std::wstring errorLine(UINT id, DWORD error)
{
    return messageString(id) + std::to_wstring(error) + L"\r\n";
}

// The folder "undo" beside this program, made when missing, and a file named by the time.
std::wstring defaultUndoPath()
{
    wchar_t module[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    const std::wstring folder = svc::joinPath(svc::parentOf(std::wstring(module, length < MAX_PATH ? length : 0)),
                                              L"undo");
    CreateDirectoryW(folder.c_str(), nullptr);
    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t name[64];
    swprintf(name, 64, L"brimlockscan-undo-%04u%02u%02uT%02u%02u%02u%03uZ.json", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    return svc::joinPath(folder, name);
}

UINT messageOf(FixOutcome outcome)
{
    switch (outcome) {
    case FixOutcome::Quoted:
        return IDS_FIX_QUOTED;
    case FixOutcome::Planned:
        return IDS_FIX_WOULD_QUOTE;
    case FixOutcome::NoProgram:
        return IDS_FIX_LEFT_NO_PROGRAM;
    case FixOutcome::ScheduledTask:
        return IDS_FIX_LEFT_TASK;
    case FixOutcome::HoldsPercent:
        return IDS_FIX_LEFT_PERCENT;
    case FixOutcome::NotInUtf8:
        return IDS_FIX_LEFT_NOT_UTF8;
    case FixOutcome::SharedValue:
        return IDS_FIX_LEFT_SHARED;
    case FixOutcome::Changed:
        return IDS_FIX_LEFT_CHANGED;
    default:
        return IDS_FIX_LEFT_ERROR;
    }
}

std::wstring placeLine(const ValuePlace& place)
{
    svc::Registration registration;
    registration.key = place.key;
    registration.view = place.view;
    return quoted(place.name) + L" (" + svc::placeOf(registration) + L")";
}

std::wstring stepText(const FixStep& step)
{
    std::wstring text = messageString(messageOf(step.outcome)) + placeLine(step.place);
    if (step.outcome == FixOutcome::WriteFailed) {
        text += messageString(IDS_SCAN_ERROR_CODE) + std::to_wstring(step.error);
    }
    text += L"\r\n";
    if (step.outcome == FixOutcome::Quoted || step.outcome == FixOutcome::Planned) {
        text += L"  " + messageString(IDS_FIX_NEW_TEXT) + step.after.text + L"\r\n";
    }
    return text;
}

int runFix(const ScanResult& result, const Arguments& arguments, ToolOutput& out, ToolOutput& err)
{
    std::vector<FixStep> steps = planFix(result);
    const bool apply = arguments.mode == Mode::Fix;
    const bool anyPlanned =
        std::any_of(steps.begin(), steps.end(), [](const FixStep& s) { return s.outcome == FixOutcome::Planned; });
    if (apply && anyPlanned) {
        const std::wstring undoPath = arguments.file.empty() ? defaultUndoPath() : arguments.file;
        // Said before anything changes: an output that cannot take it stops the fix here.
        if (!out.write(messageString(IDS_FIX_UNDO_FILE) + undoPath + L"\r\n")) {
            return kExitFailed;
        }
        if (const DWORD error = applyFix(steps, undoPath)) {
            err.write(errorLine(IDS_FIX_UNDO_FAILED, error));
            return kExitFailed;
        }
    }
    std::wstring text;
    bool left = false;
    for (const FixStep& step : steps) {
        text += stepText(step);
        left = left || step.outcome != (apply ? FixOutcome::Quoted : FixOutcome::Planned);
    }
    if (steps.empty()) {
        text += messageString(IDS_FIX_NOTHING_TO_DO);
    }
    if (!out.write(text)) {
        return kExitFailed;
    }
    if (!apply) {
        return steps.empty() ? kExitNothingFound : kExitFound;
    }
    return left ? kExitFound : kExitNothingFound;
}

int runUndo(const Arguments& arguments, ToolOutput& out, ToolOutput& err)
{
    const UndoResult result = undoFix(arguments.file);
    if (result.file == UndoFileState::Unreadable) {
        err.write(messageString(IDS_UNDO_BAD_FILE) + arguments.file + messageString(IDS_SCAN_ERROR_CODE) +
                  std::to_wstring(result.error) + L"\r\n");
        return kExitFailed;
    }
    if (result.file == UndoFileState::NotValid || result.otherMachine) {
        err.write(messageString(result.otherMachine ? IDS_UNDO_OTHER_MACHINE : IDS_UNDO_BAD_FILE) + arguments.file +
                  L"\r\n");
        return kExitFailed;
    }
    std::wstring text;
    bool left = false;
    for (const UndoStep& step : result.steps) {
        const UINT id = step.outcome == UndoOutcome::Restored  ? IDS_UNDO_RESTORED
                        : step.outcome == UndoOutcome::Changed ? IDS_UNDO_LEFT_CHANGED
                                                               : IDS_FIX_LEFT_ERROR;
        text += messageString(id) + placeLine(step.change.place);
        if (step.outcome == UndoOutcome::WriteFailed) {
            text += messageString(IDS_SCAN_ERROR_CODE) + std::to_wstring(step.error);
        }
        text += L"\r\n";
        left = left || step.outcome != UndoOutcome::Restored;
    }
    if (!out.write(text)) {
        return kExitFailed;
    }
    return left ? kExitFound : kExitNothingFound;
}

} // namespace

int runScanTool(const std::vector<std::wstring>& argumentList, ToolOutput& out, ToolOutput& err)
{
    Arguments arguments;
    std::wstring bad;
    if (!parse(argumentList, arguments, bad)) {
        err.write(messageString(IDS_SCAN_BAD_ARGUMENT) + bad + L"\r\n" + messageString(IDS_SCAN_USAGE));
        return kExitFailed;
    }
    if (arguments.mode == Mode::Help) {
        return out.write(messageString(IDS_SCAN_USAGE)) ? kExitNothingFound : kExitFailed;
    }
    if (arguments.mode == Mode::Undo) {
        return runUndo(arguments, out, err);
    }
    const ScanResult result = scanRegistrations();
    if (result.error) {
        err.write(errorLine(IDS_SCAN_FAILED, result.error));
        return kExitFailed;
    }
    if (arguments.mode == Mode::WhatIf || arguments.mode == Mode::Fix) {
        return runFix(result, arguments, out, err);
    }
    bool written = false;
    switch (arguments.mode) {
    case Mode::Json: {
        const std::string json = jsonListing(result, machineName());
        written = out.writeUtf8(json);
        break;
    }
    case Mode::Csv:
        written = out.writeUtf8(csvListing(result));
        break;
    default:
        written = out.write(textListing(result));
    }
    if (!written) {
        return kExitFailed;
    }
    return result.findings.empty() ? kExitNothingFound : kExitFound;
}

} // namespace brimlockscan
