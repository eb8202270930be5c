#include "_model/_service/_report/ReportScan.h"

#include "_model/_service/CandidateTable.h"
#include "_model/_service/MessageStrings.h"
#include "_model/_service/Paths.h"
#include "_model/_service/_report/FolderAccess.h"
#include "_win32/ReportAppEvent.h"
#include "_win32/UniqueHandle.h"

#include <algorithm>
#include <exception>
#include <initializer_list>
#include <unordered_map>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

namespace {

// File-system redirection off for the calling thread while it lives (64-bit Windows; on
// 32-bit Windows the call fails and there is nothing to turn off), restored at its end, so
// that a path under System32 is looked at in System32 as the 64-bit system starts it.
class NativeFileSystem {
public:
    NativeFileSystem() : _off(Wow64DisableWow64FsRedirection(&_previous) != FALSE) {}
    ~NativeFileSystem()
    {
        if (_off) {
            const DWORD error = GetLastError(); // the look-up's, for its caller
            Wow64RevertWow64FsRedirection(_previous);
            SetLastError(error);
        }
    }
    NativeFileSystem(const NativeFileSystem&) = delete;
    NativeFileSystem& operator=(const NativeFileSystem&) = delete;

private:
    PVOID _previous = nullptr;
    bool _off;
};

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
    &enumerateRegistrations, &::GetDriveTypeW, &nativeFileAttributes, &nativeFolderSecurity,
    &Corvane::Orlin::ReportAppEvent}};

namespace {

constexpr size_t kMaxShownName = 1024;    // of a value's name (up to 16,383 characters)
constexpr size_t kMaxShownValue = 2048;   // of the stored text
constexpr size_t kMaxShownCommand = 16384; // a longer command is not given: the value instead

// What a scan learns about one tried path.
struct PathFacts {
    bool isFile = false;
    bool usersCanCreate = false;
};

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

class ScanVisitor : public RegistrationVisitor {
public:
    ScanVisitor(const ReportScanPorts& ports, const std::function<bool()>& stopRequested,
                const std::unordered_set<std::wstring>& reportedBefore)
        : _ports(ports), _stopRequested(stopRequested), _reportedBefore(reportedBefore)
    {
        wchar_t folder[MAX_PATH];
        for (UINT (WINAPI* get)(LPWSTR, UINT) : {&::GetSystemDirectoryW, &::GetWindowsDirectoryW}) {
            const UINT length = get(folder, MAX_PATH);
            if (length > 0 && length < MAX_PATH) {
                _searchFolders.emplace_back(folder, length);
            }
        }
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
            const ProgramSearch search =
                searchProgram(registration.commandLine, [this](const std::wstring& path) { return isFile(path); });
            if (!isUnquotedWithSpaces(search)) {
                return true;
            }
            // A key listed while it changes can be visited twice in one scan: once is enough.
            isNew = found.insert(key).second;
            if (!isNew) {
                return true;
            }
            ++counts.found;
            if (!reportedBefore) {
                report(registration, search);
                ++counts.reported;
            }
        } catch (const std::exception&) {
            if ((found.insert(std::move(key)).second || isNew) && !reportedBefore) {
                _ports.report(messageString(IDS_REPORT_CANNOT_CHECK) + registrationLine(registration),
                              EVENTLOG_WARNING_TYPE, 0);
            }
        }
        return true;
    }

    ReportScan::Counts counts;
    std::unordered_set<std::wstring> found;
    bool stopped = false;

private:
    void report(const Registration& registration, const ProgramSearch& search)
    {
        std::vector<PathFacts> facts;
        std::wstring text = messageString(IDS_REPORT_UNQUOTED) + registrationLine(registration) + L"\r\n" +
                            messageString(IDS_REPORT_COMMAND_LINE) + shown(registration.value, kMaxShownValue) +
                            L"\r\n" +
                            messageString(search.programFound ? IDS_REPORT_TRIED_BEFORE : IDS_REPORT_TRIED);
        for (const std::wstring& path : search.triedBefore) {
            facts.push_back(factsOf(path, search));
            text += pathLine(path, facts.back()) + L"\r\n";
        }
        if (search.triedNotListed) {
            text += messageString(IDS_REPORT_MORE) + std::to_wstring(search.triedNotListed) +
                    messageString(IDS_REPORT_MORE_PATHS) + L"\r\n";
        }
        const std::wstring command = quotingCommand(registration, search);
        if (!search.programFound) {
            text += messageString(IDS_REPORT_NO_PROGRAM);
        } else if (!command.empty() && command.size() <= kMaxShownCommand) {
            text += messageString(IDS_REPORT_HOW_TO_QUOTE) + command;
        } else {
            text += messageString(IDS_REPORT_VALUE_TO_SET) + shown(quotedValue(registration, search), kMaxShownCommand);
        }
        _ports.report(shown(text, kMaxRecordChars - 64), EVENTLOG_INFORMATION_TYPE, 0);

        for (const std::wstring& path : search.planted) {
            if (!isGuardsCandidate(path)) {
                _ports.report(messageString(IDS_REPORT_FILE_IN_FRONT) + pathLine(path, factsOf(path, search)) +
                                  L"\r\n" + registrationLine(registration),
                              EVENTLOG_WARNING_TYPE, 0);
            }
        }
    }

    // Only "X:\..." on a fixed (or RAM) drive; the drive's type is asked once per scan.
    bool onLocalFixedDrive(const std::wstring& path)
    {
        if (path.size() < 3 || path[1] != L':' || path[2] != L'\\') {
            return false;
        }
        const wchar_t letter = lowerAsciiOnly(path.substr(0, 1))[0];
        if (letter < L'a' || letter > L'z') {
            return false;
        }
        auto known = _driveTypes.find(letter);
        if (known == _driveTypes.end()) {
            const wchar_t root[] = {letter, L':', L'\\', L'\0'};
            known = _driveTypes.emplace(letter, _ports.getDriveType(root)).first;
        }
        return known->second == DRIVE_FIXED || known->second == DRIVE_RAMDISK;
    }

    // A name without a drive or root is searched for; among the folders searched are the
    // system and Windows folders, where the programs named that way (rundll32.exe,
    // explorer.exe) live. Elsewhere only fixed local drives are looked at.
    bool isFile(const std::wstring& path)
    {
        if (path.size() > 1 && path[0] != L'\\' && path[1] != L':') {
            return std::any_of(_searchFolders.begin(), _searchFolders.end(),
                               [&](const std::wstring& folder) { return isFile(joinPath(folder, path)); });
        }
        if (!onLocalFixedDrive(path)) {
            return false;
        }
        const DWORD attributes = _ports.getFileAttributes(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    PathFacts factsOf(const std::wstring& path, const ProgramSearch& search)
    {
        PathFacts facts;
        if (!onLocalFixedDrive(path)) {
            return facts;
        }
        facts.isFile = std::find(search.planted.begin(), search.planted.end(), path) != search.planted.end();
        // Asked once per folder and scan: "C:\" comes up for many registrations.
        const std::wstring folder = parentOf(path);
        const std::wstring folderKey = lowerAsciiOnly(folder);
        auto known = _folders.find(folderKey);
        if (known == _folders.end()) {
            Corvane::Orlin::UniqueLocalMem descriptor(_ports.readFolderSecurity(folder.c_str()));
            known = _folders.emplace(folderKey, decideFolderAccess(descriptor.get()) == FolderAccess::UsersCanCreateFiles)
                        .first;
        }
        facts.usersCanCreate = known->second;
        return facts;
    }

    const ReportScanPorts& _ports;
    const std::function<bool()>& _stopRequested;
    const std::unordered_set<std::wstring>& _reportedBefore;
    std::unordered_map<wchar_t, UINT> _driveTypes;
    std::unordered_map<std::wstring, bool> _folders;
    std::vector<std::wstring> _searchFolders; // the system folder and the Windows folder
};

} // namespace

bool ReportScan::scan(const std::function<bool()>& stopRequested, bool withSummary)
{
    const ReportScanPorts& ports = reportScanPorts();
    ScanVisitor visitor(ports, stopRequested, _reported);
    DWORD error = ERROR_SUCCESS;
    try {
        error = ports.enumerateRegistrations(visitor);
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
            ports.report(messageString(IDS_REPORT_SCAN_FAILED) + messageString(IDS_MESSAGE_ERROR_CODE) +
                             std::to_wstring(error),
                         EVENTLOG_WARNING_TYPE, 0);
        }
        return false;
    }
    _failing = false;
    _reported = std::move(visitor.found);
    if (withSummary) {
        ports.report(messageString(IDS_REPORT_SUMMARY) + messageString(IDS_REPORT_CHECKED) +
                         std::to_wstring(_counts.checked) + L"\r\n" + messageString(IDS_REPORT_FOUND) +
                         std::to_wstring(_counts.found),
                     EVENTLOG_INFORMATION_TYPE, 0);
    }
    return true;
}

}}} // namespace tamselsvc::model::service
