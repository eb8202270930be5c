#include "_model/_service/_report/ReportScan.h"

#include "_model/_service/CandidateTable.h"
#include "_model/_service/MessageStrings.h"
#include "_model/_service/Paths.h"
#include "_model/_service/_report/FolderAccess.h"
#include "_model/_service/_report/RegistrationCheck.h"
#include "_win32/NativeFileSystem.h"
#include "_win32/ReportAppEvent.h"

#include <exception>

namespace tamselsvc { namespace model { namespace service {

namespace {

using Corvane::Orlin::NativeFileSystem;

DWORD WINAPI nativeFileAttributes(LPCWSTR path)
{
    const NativeFileSystem native;
    return GetFileAttributesW(path);
}

PSECURITY_DESCRIPTOR nativeFolderSecurity(const wchar_t* folder)
{
    const NativeFileSystem native;
    return readFolderSecurity(folder);
}

} // namespace

Corvane::Orlin::Ports<ReportScanPorts> reportScanPorts{ReportScanPorts{
    &enumerateRegistrations, &enumerateScheduledTasks, &::GetDriveTypeW, &nativeFileAttributes, &nativeFolderSecurity,
    &Corvane::Orlin::ReportAppEvent}};

namespace {

constexpr size_t kMaxShownName = 1024;    // of a value's name (up to 16,383 characters)
constexpr size_t kMaxShownValue = 2048;   // of the stored text
constexpr size_t kMaxShownCommand = 16384; // a longer command is not given: the value instead

// "... and 12 more characters" after `text` when it is longer than `maxChars`.
std::wstring shown(const std::wstring& text, size_t maxChars)
{
    size_t rest = 0;
    std::wstring head = clipped(text, maxChars, rest);
    if (rest) {
        head += messageString(IDS_REPORT_MORE) + std::to_wstring(rest) + messageString(IDS_REPORT_MORE_CHARACTERS);
    }
    return head;
}

bool isGuardsCandidate(const std::wstring& path)
{
    const CandidateTable* table = g_activeCandidates.load();
    if (!table) {
        return false;
    }
    const std::wstring folder = lowerAsciiOnly(joinPath(parentOf(path), std::wstring()));
    for (const CandidateFolder& row : *table) {
        if (lowerAsciiOnly(row.folder) != folder) {
            continue;
        }
        for (const std::wstring& file : row.files) {
            if (sameStem(file, path)) {
                return true;
            }
        }
    }
    return false;
}

std::wstring quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

// "name" (place)
std::wstring registrationLine(const Registration& registration)
{
    return messageString(IDS_REPORT_REGISTRATION) + quoted(shown(registration.name, kMaxShownName)) + L" (" +
           placeOf(registration) + L")";
}

std::wstring pathLine(const std::wstring& path, const PathFacts& facts)
{
    return quoted(path) + (facts.usersCanCreate ? messageString(IDS_REPORT_USERS_CAN_CREATE) : std::wstring());
}

// The guard's set of one scan (GuardedPaths.h).
class GuardedSetBuilder {
public:
    explicit GuardedSetBuilder(GuardedSet* set) : _set(set) {}

    void add(const Registration& registration, const ProgramSearch& search, RegistrationCheck& check)
    {
        if (!_set) {
            return;
        }
        if (search.programFound) {
            _set->programs.push_back(search.program);
        }
        if (!isUnquotedWithSpaces(search)) {
            return;
        }
        const std::wstring name = clippedLine(registration);
        if (!search.programFound) {
            notGuarded(NotGuardedWhy::NoProgram, search.triedBefore.empty() ? L"" : search.triedBefore[0], name);
            return;
        }
        const bool usersText = ordinaryUsersMaySet(registration);
        for (const std::wstring& path : search.triedBefore) {
            if (!check.onLocalFixedDrive(path)) {
                notGuarded(NotGuardedWhy::NotLocal, path, name);
            } else if (usersText && !check.factsOf(path, search).usersCanCreate) {
                notGuarded(NotGuardedWhy::UsersText, path, name);
            } else if (_set->paths.size() >= kMaxGuardedPaths) {
                notGuarded(NotGuardedWhy::TooMany, path, name);
            } else {
                _set->paths.push_back({path, name, search.program});
            }
        }
        if (search.triedNotListed) {
            notGuarded(NotGuardedWhy::NotListed, L"", name);
        }
    }

private:
    static std::wstring clippedLine(const Registration& registration)
    {
        size_t rest = 0;
        return clipped(L"\"" + registration.name + L"\" (" + placeOf(registration) + L")",
                       kMaxGuardedRegistrationChars, rest);
    }

    // Each reason is kept once, with its first path: the guard says once what it leaves.
    void notGuarded(NotGuardedWhy why, const std::wstring& path, const std::wstring& name)
    {
        for (const NotGuarded& known : _set->notGuarded) {
            if (known.why == why) {
                return;
            }
        }
        _set->notGuarded.push_back({why, path, name});
    }

    GuardedSet* _set;
};

class ScanVisitor : public RegistrationVisitor {
public:
    ScanVisitor(const ReportScanPorts& ports, const std::function<bool()>& stopRequested,
                const std::unordered_set<std::wstring>& reportedBefore, bool withRecords, GuardedSet* guarded)
        : _ports(ports), _check(ports), _stopRequested(stopRequested), _reportedBefore(reportedBefore),
          _withRecords(withRecords), _guarded(guarded)
    {
    }

    bool visit(const Registration& registration) override
    {
        if (_stopRequested()) {
            stopped = true;
            return false;
        }
        ++counts.checked;
        // A value that holds a list gives one registration per command line.
        std::wstring key = placeOf(registration) + L'\n' + registration.name + L'\n' + registration.value + L'\n' +
                           std::to_wstring(registration.before.size());
        const bool reportedBefore = _reportedBefore.count(key) != 0;
        // One registration's failure is its own: recorded once, and the scan goes on.
        bool isNew = false;
        try {
            ProgramSearch search = _check.search(registration);
            _guarded.add(registration, search, _check);
            if (!isUnquotedWithSpaces(search)) {
                return true;
            }
            // A key listed while it changes can be visited twice in one scan: once is enough.
            isNew = found.insert(key).second;
            if (!isNew) {
                return true;
            }
            ++counts.found;
            if (!reportedBefore && _withRecords) {
                report(_check.finding(registration, std::move(search)));
                ++counts.reported;
            }
        } catch (const std::exception&) {
            checkFailed = true;
            if ((found.insert(std::move(key)).second || isNew) && !reportedBefore && _withRecords) {
                _ports.report(messageString(IDS_REPORT_CANNOT_CHECK) + registrationLine(registration),
                              EVENTLOG_WARNING_TYPE, 0);
            }
        }
        return true;
    }

    ReportScan::Counts counts;
    std::unordered_set<std::wstring> found;
    bool stopped = false;
    bool checkFailed = false;

private:
    void report(const Finding& finding)
    {
        const Registration& registration = finding.registration;
        const ProgramSearch& search = finding.search;
        std::wstring text = messageString(IDS_REPORT_UNQUOTED) + registrationLine(registration) + L"\r\n" +
                            messageString(IDS_REPORT_COMMAND_LINE) + shown(registration.value, kMaxShownValue) +
                            L"\r\n" +
                            messageString(search.programFound ? IDS_REPORT_TRIED_BEFORE : IDS_REPORT_TRIED);
        for (size_t i = 0; i < search.triedBefore.size(); ++i) {
            text += pathLine(search.triedBefore[i], finding.tried[i]) + L"\r\n";
        }
        if (search.triedNotListed) {
            text += messageString(IDS_REPORT_MORE) + std::to_wstring(search.triedNotListed) +
                    messageString(IDS_REPORT_MORE_PATHS) + L"\r\n";
        }
        if (!search.programFound) {
            text += messageString(IDS_REPORT_NO_PROGRAM);
        } else if (!finding.command.empty() && finding.command.size() <= kMaxShownCommand) {
            text += messageString(IDS_REPORT_HOW_TO_QUOTE) + finding.command;
        } else {
            const bool task = registration.kind == RegistrationKind::ScheduledTask;
            text += messageString(task ? IDS_REPORT_TASK_VALUE_TO_SET : IDS_REPORT_VALUE_TO_SET) +
                    shown(finding.value, kMaxShownCommand);
        }
        _ports.report(shown(text, kMaxRecordChars - 64), EVENTLOG_INFORMATION_TYPE, 0);

        for (size_t i = 0; i < search.planted.size(); ++i) {
            if (!isGuardsCandidate(search.planted[i])) {
                _ports.report(messageString(IDS_REPORT_FILE_IN_FRONT) + pathLine(search.planted[i], finding.planted[i]) +
                                  L"\r\n" + registrationLine(registration),
                              EVENTLOG_WARNING_TYPE, 0);
            }
        }
    }

    const ReportScanPorts& _ports;
    RegistrationCheck _check;
    const std::function<bool()>& _stopRequested;
    const std::unordered_set<std::wstring>& _reportedBefore;
    bool _withRecords;
    GuardedSetBuilder _guarded;
};
} // namespace

bool ReportScan::scan(const std::function<bool()>& stopRequested, bool withSummary, GuardedSet* guarded)
{
    const ReportScanPorts& ports = reportScanPorts();
    if (guarded) {
        *guarded = GuardedSet();
    }
    ScanVisitor visitor(ports, stopRequested, _reported, _withRecords, guarded);
    DWORD error = ERROR_SUCCESS;
    try {
        error = ports.enumerateRegistrations(visitor);
        if (error == ERROR_SUCCESS) {
            error = ports.enumerateScheduledTasks(visitor);
        }
    } catch (const std::exception&) {
        error = ERROR_OUTOFMEMORY; // the listing itself ran out (it raises nothing else)
    }
    _counts = visitor.counts;
    if (visitor.stopped || error != ERROR_SUCCESS) {
        // Cut short: what it reported is remembered, and nothing else is forgotten.
        for (const std::wstring& key : visitor.found) {
            _reported.insert(key);
        }
        if (visitor.stopped) {
            return false;
        }
        if (!_failing) {
            _failing = true; // said once, until a scan succeeds
            if (_withRecords) {
                ports.report(messageString(IDS_REPORT_SCAN_FAILED) + messageString(IDS_MESSAGE_ERROR_CODE) +
                                 std::to_wstring(error),
                             EVENTLOG_WARNING_TYPE, 0);
            }
        }
        return false;
    }
    _failing = false;
    _unsettled = visitor.checkFailed;
    _reported = std::move(visitor.found);
    if (withSummary && _withRecords) {
        ports.report(messageString(IDS_REPORT_SUMMARY) + messageString(IDS_REPORT_CHECKED) +
                         std::to_wstring(_counts.checked) + L"\r\n" + messageString(IDS_REPORT_FOUND) +
                         std::to_wstring(_counts.found),
                     EVENTLOG_INFORMATION_TYPE, 0);
    }
    return true;
}

}}} // namespace tamselsvc::model::service
