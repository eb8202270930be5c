#include "_model/_service/_report/ReportScan.h"

#include "_model/_service/CandidateTable.h"
#include "_model/_service/MessageStrings.h"
#include "_model/_service/Paths.h"
#include "_model/_service/_report/FolderAccess.h"
#include "_win32/ReportAppEvent.h"
#include "_win32/UniqueHandle.h"

#include <unordered_map>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

Corvane::Orlin::Ports<ReportScanPorts> reportScanPorts{ReportScanPorts{
    &enumerateRegistrations, &::GetDriveTypeW, &::GetFileAttributesW, &readFolderSecurity,
    &Corvane::Orlin::ReportAppEvent}};

namespace {

// What a scan learns about one tried path.
struct PathFacts {
    bool isFile = false;
    bool usersCanCreate = false;
};

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
    return messageString(IDS_REPORT_REGISTRATION) + quoted(registration.name) + L" (" + placeOf(registration) + L")";
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
    }

    bool visit(const Registration& registration) override
    {
        if (_stopRequested()) {
            stopped = true;
            return false;
        }
        ++counts.checked;
        const ProgramSearch search = searchProgram(registration.commandLine);
        if (!isUnquotedWithSpaces(search)) {
            return true;
        }
        std::wstring key = placeOf(registration) + L'\n' + registration.name + L'\n' + registration.value;
        const bool reportedBefore = _reportedBefore.count(key) != 0;
        // A key listed while it changes can be visited twice in one scan: once is enough.
        if (!found.insert(std::move(key)).second) {
            return true;
        }
        ++counts.found;
        if (!reportedBefore) {
            report(registration, search);
            ++counts.reported;
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
                            messageString(IDS_REPORT_COMMAND_LINE) + registration.value + L"\r\n" +
                            messageString(IDS_REPORT_TRIED_BEFORE);
        for (const std::wstring& path : search.triedBefore) {
            facts.push_back(factsOf(path));
            text += pathLine(path, facts.back()) + L"\r\n";
        }
        text += messageString(IDS_REPORT_HOW_TO_QUOTE) + quotingCommand(registration, search);
        _ports.report(text, EVENTLOG_INFORMATION_TYPE, 0);

        for (size_t i = 0; i < search.triedBefore.size(); ++i) {
            const std::wstring& path = search.triedBefore[i];
            if (facts[i].isFile && !isGuardsCandidate(path)) {
                _ports.report(messageString(IDS_REPORT_FILE_IN_FRONT) + pathLine(path, facts[i]) + L"\r\n" +
                                  registrationLine(registration),
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

    PathFacts factsOf(const std::wstring& path)
    {
        PathFacts facts;
        if (!onLocalFixedDrive(path)) {
            return facts;
        }
        const DWORD attributes = _ports.getFileAttributes(path.c_str());
        facts.isFile = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
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
};

} // namespace

bool ReportScan::scan(const std::function<bool()>& stopRequested, bool withSummary)
{
    const ReportScanPorts& ports = reportScanPorts();
    ScanVisitor visitor(ports, stopRequested, _reported);
    ports.enumerateRegistrations(visitor);
    _counts = visitor.counts;
    if (visitor.stopped) {
        for (const std::wstring& key : visitor.found) {
            _reported.insert(key);
        }
        return false;
    }
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
