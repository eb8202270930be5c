// The report of unquoted registrations in this process, under Wine:
// - the paths it lists are the ones the real CreateProcessW tries, in that order;
// - the access decision on security descriptors built here from SDDL, and on a folder's
//   real access list;
// - the records of a scan, word for word, on a machine played through the seam;
// - the reporting thread on the prefix's real registry: what is there at its start, a
//   value added while it runs (seen within seconds, once), the command it gives, a stop;
// - the guard of registrations it feeds: files in front moved, real programs never.
#include "ConfigKey.h"
#include "CountermeasureTesting.h"
#include "HostShell.h"
#include "ProcessCounts.h"
#include "RegistrationsTesting.h"
#include "TestPaths.h"
#include "ServiceInstall.h"
#include "TestProcess.h"
#include "Wait.h"

#include "_model/_service/CandidateTable.h"
#include "_model/_service/MessageStrings.h"
#include "_model/_service/Paths.h"
#include "_model/_service/_report/FolderAccess.h"
#include "_model/_service/_report/RegistrationScan.h"
#include "_model/_service/_report/ReportScan.h"
#include "_model/_service/_report/ReportThread.h"
#include "_model/_service/_guard/RegistrationGuard.h"
#include "_win32/Configuration.h"
#include "_win32/OutputSettings.h"
#include "_win32/UniqueHandle.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using brimlock_test::Record;
using brimlock_test::RecordSink;
using Corvane::Orlin::UniqueLocalMem;
namespace svc = tamselsvc::model::service;

namespace {

const std::wstring kRoot = brimlock_test::kRegistrationsRoot;
using brimlock_test::RunValue;
using brimlock_test::TestFolder;

const std::wstring kFindingHead = L"A program is registered with an unquoted path that contains spaces.\r\n\r\n";
const std::wstring kFileHead = L"A file exists that Windows would start in place of a registered program.\r\n\r\n";
const std::wstring kSummaryHead = L"Program registrations were checked for unquoted paths with spaces.\r\n\r\n";
const std::wstring kUsersCanCreate = L" (ordinary users can create files in this folder)";

bool plant(const std::wstring& program, const std::wstring& path)
{
    SHCreateDirectoryExW(nullptr, svc::parentOf(path).c_str(), nullptr);
    return CopyFileW(program.c_str(), path.c_str(), FALSE) != FALSE;
}

// What the planted probe that CreateProcessW started for `line` wrote: its path, then a line
// per argument; "" when none was started.
std::wstring probeOutput(const std::wstring& line)
{
    const brimlock_test::ProcessResult result = brimlock_test::runProcess(line, 15000, true);
    if (!result.started) {
        return std::wstring();
    }
    std::wstring path(result.output.size(), L'\0');
    path.resize(MultiByteToWideChar(CP_UTF8, 0, result.output.data(), static_cast<int>(result.output.size()), &path[0],
                                    static_cast<int>(path.size())));
    return path;
}

std::wstring startedBy(const std::wstring& line)
{
    const std::wstring output = probeOutput(line);
    return output.substr(0, output.find(L'\n'));
}

std::vector<Record> recordsContaining(const std::vector<Record>& records, const std::wstring& fragment)
{
    std::vector<Record> matching;
    for (const Record& record : records) {
        if (record.text.find(fragment) != std::wstring::npos) {
            matching.push_back(record);
        }
    }
    return matching;
}

} // namespace

// Each tried path is planted with a program that names itself; CreateProcessW with no
// application name must start them one after the other as they are removed, then the real
// program, then nothing.
TEST(UnquotedCommandLine, CreateProcessStartsEachTriedPathInTurnThenTheProgram)
{
    TestFolder folder;
    const std::wstring probe = brimlock_test::builtProgram(L"registrations_probe.exe");
    const struct {
        const wchar_t* line;
        bool programCanExist;
    } cases[] = {
        {L"C:\\brimlock-reg\\A B\\c.exe -x y", true},
        {L"C:\\brimlock-reg\\D  E\\c.exe  ", true},  // two blanks in a row, trailing blanks
        {L"C:\\brimlock-reg\\v1.2 x\\c.exe", true},  // a dot: no ".exe" added
        {L"C:\\brimlock-reg\\P% Q\\c.exe", true},    // "%" is an ordinary character
        {L"C:\\brimlock-reg\\N O\\tool -k", true},   // found with ".exe" added, quoted without
        {L"C:\\brimlock-reg\\S R\\saver.scr /s", true}, // any extension
        {L"C:/brimlock-reg/F W/c.exe", true},           // slashes
        {L"C:\\brimlock-reg\\T\tU\\c.exe", false},   // a tab ends a prefix; no file name holds one
    };
    // The name ".exe" would give to "v1.2" if it were added: never started.
    ASSERT_TRUE(plant(probe, kRoot + L"\\v1.2.exe"));
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "line [" << c.line << "]");
        const svc::ProgramSearch search = svc::searchProgram(c.line, [](const std::wstring& path) {
            return svc::fileNameOf(path) == L"c.exe" || svc::fileNameOf(path) == L"tool.exe" || svc::fileNameOf(path) == L"saver.scr";
        });
        std::vector<std::wstring> order = search.triedBefore;
        ASSERT_FALSE(order.empty());
        ASSERT_EQ(c.programCanExist, search.programFound);
        if (c.programCanExist) {
            order.push_back(search.program);
        }
        for (const std::wstring& path : order) {
            ASSERT_TRUE(plant(probe, path)) << "cannot plant " << path << ": " << GetLastError();
        }
        if (c.programCanExist) {
            EXPECT_EQ(search.program, startedBy(svc::withProgramQuoted(c.line, search)))
                << "quoted, the line starts its program whatever is planted in front of it";
        }
        for (const std::wstring& path : order) {
            EXPECT_EQ(path, startedBy(c.line));
            ASSERT_TRUE(DeleteFileW(path.c_str())) << path;
        }
        EXPECT_EQ(L"", startedBy(c.line)) << "nothing else is tried";
    }
}

TEST(FolderAccess, TheDecisionOnRealDescriptorsAndOnAFoldersAccessList)
{
    using svc::FolderAccess;
    const struct {
        const wchar_t* sddl;
        FolderAccess expected;
    } cases[] = {
        {L"O:BAG:BA", FolderAccess::UsersCanCreateFiles}, // no DACL at all
        {L"D:", FolderAccess::UsersCannotCreateFiles},    // an empty one
        // A program folder: administrators and the system may write, users only read.
        {L"D:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)", FolderAccess::UsersCannotCreateFiles},
        // The root of drive C: users may make folders there; file rights are inherit-only.
        {L"D:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;;0x4;;;AU)(A;OICIIO;SDGWGR;;;AU)",
         FolderAccess::UsersCannotCreateFiles},
        // Each of the four groups, by the add-file right, by generic write or by generic all.
        {L"D:(A;;0x100116;;;BU)", FolderAccess::UsersCanCreateFiles},
        {L"D:(A;;FA;;;WD)", FolderAccess::UsersCanCreateFiles},
        {L"D:(A;;GW;;;IU)", FolderAccess::UsersCanCreateFiles},
        {L"D:(A;;GA;;;AU)", FolderAccess::UsersCanCreateFiles},
        // Another user or group only.
        {L"D:(A;;FA;;;BA)(A;;FA;;;S-1-5-21-1-2-3-1000)", FolderAccess::UsersCannotCreateFiles},
        // In order: a deny before the allow wins, after it loses.
        {L"D:(D;;0x2;;;WD)(A;;FA;;;BU)", FolderAccess::UsersCannotCreateFiles},
        {L"D:(A;;FA;;;BU)(D;;0x2;;;WD)", FolderAccess::UsersCanCreateFiles},
        // Entries that do not speak for the right: inherit-only, another right denied.
        {L"D:(A;OICIIO;FA;;;BU)", FolderAccess::UsersCannotCreateFiles},
        {L"D:(D;OICIIO;FA;;;WD)(A;;0x2;;;BU)", FolderAccess::UsersCanCreateFiles},
        {L"D:(D;;0x4;;;WD)(A;;0x2;;;BU)", FolderAccess::UsersCanCreateFiles},
    };
    for (const auto& c : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, SDDL_REVISION_1, &descriptor, nullptr))
            << c.sddl;
        UniqueLocalMem owner(descriptor);
        EXPECT_EQ(c.expected, svc::decideFolderAccess(descriptor)) << c.sddl;
    }
    EXPECT_EQ(FolderAccess::Unknown, svc::decideFolderAccess(nullptr));
    // A null DACL, made by hand: Wine reads "D:NO_ACCESS_CONTROL" as an empty DACL.
    SECURITY_DESCRIPTOR nullDacl;
    ASSERT_TRUE(InitializeSecurityDescriptor(&nullDacl, SECURITY_DESCRIPTOR_REVISION));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&nullDacl, TRUE, nullptr, FALSE));
    EXPECT_EQ(FolderAccess::UsersCanCreateFiles, svc::decideFolderAccess(&nullDacl));

    // The real read. Wine does not keep a folder's access list: it makes one from the Unix
    // mode (everyone may read) and turns a DACL it is given into a mode, a null DACL into
    // one that lets everyone write.
    if (brimlock_test::unixPathOf(L"C:\\").empty()) {
        GTEST_SKIP() << "the folder part relies on how Wine keeps access lists";
    }
    TestFolder folder;
    {
        UniqueLocalMem descriptor(svc::readFolderSecurity(kRoot.c_str()));
        ASSERT_TRUE(descriptor) << GetLastError();
        EXPECT_EQ(FolderAccess::UsersCannotCreateFiles, svc::decideFolderAccess(descriptor.get()));
    }
    std::wstring path = kRoot;
    ASSERT_EQ(DWORD(ERROR_SUCCESS),
              SetNamedSecurityInfoW(&path[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr));
    {
        UniqueLocalMem descriptor(svc::readFolderSecurity(kRoot.c_str()));
        ASSERT_TRUE(descriptor) << GetLastError();
        EXPECT_EQ(FolderAccess::UsersCanCreateFiles, svc::decideFolderAccess(descriptor.get()));
    }
    EXPECT_EQ(nullptr, svc::readFolderSecurity((kRoot + L"\\missing").c_str()));
}

namespace {

// A machine played through the seam: its registrations (listed up to `listed`), its files (C:\Boom.exe
// throws), its folders' access lists; drive C is fixed, every other drive a network drive.
struct PlayedMachine {
    static std::vector<svc::Registration> registrations;
    static size_t listed;
    static std::set<std::wstring> files;
    static std::map<std::wstring, std::wstring> folderSddl;
    static std::vector<std::wstring> lookedAt;

    static DWORD enumerate(svc::RegistrationVisitor& visitor)
    {
        for (size_t i = 0; i < registrations.size(); ++i) {
            if (i == listed) {
                return ERROR_ACCESS_DENIED;
            }
            if (!visitor.visit(registrations[i])) {
                return ERROR_CANCELLED;
            }
        }
        return ERROR_SUCCESS;
    }
    static DWORD none(svc::RegistrationVisitor&) { return ERROR_SUCCESS; }
    static UINT WINAPI driveType(LPCWSTR root) { return root[0] == L'c' || root[0] == L'C' ? DRIVE_FIXED : DRIVE_REMOTE; }
    static DWORD WINAPI attributes(LPCWSTR path)
    {
        lookedAt.push_back(path);
        if (lookedAt.back() == L"C:\\Boom.exe") {
            throw std::bad_alloc();
        }
        return files.count(path) ? FILE_ATTRIBUTE_ARCHIVE : INVALID_FILE_ATTRIBUTES;
    }
    static PSECURITY_DESCRIPTOR security(const wchar_t* folder)
    {
        lookedAt.push_back(folder);
        const auto sddl = folderSddl.find(folder);
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (sddl != folderSddl.end()) {
            ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl->second.c_str(), SDDL_REVISION_1, &descriptor,
                                                                 nullptr);
        }
        return descriptor;
    }
};
std::vector<svc::Registration> PlayedMachine::registrations;
size_t PlayedMachine::listed = SIZE_MAX;
std::set<std::wstring> PlayedMachine::files;
std::map<std::wstring, std::wstring> PlayedMachine::folderSddl;
std::vector<std::wstring> PlayedMachine::lookedAt;
const svc::ReportScanPorts kPlayed{&PlayedMachine::enumerate, &PlayedMachine::none, &PlayedMachine::driveType,
                                   &PlayedMachine::attributes, &PlayedMachine::security, &RecordSink::report};

svc::Registration registration(svc::RegistrationKind kind, const std::wstring& name, const std::wstring& key,
                               svc::RegistryView view, const std::wstring& value, const std::wstring& commandLine)
{
    svc::Registration r;
    r.kind = kind;
    r.name = name;
    r.key = key;
    r.view = view;
    r.value = value;
    r.expandable = value != commandLine;
    r.commandLine = commandLine;
    return r;
}

} // namespace

TEST(ReportScan, RecordsOfAScanWordForWordAndOnlyNewOrChangedOnesLater)
{
    svc::loadMessageStrings(GetModuleHandleW(nullptr));
    svc::g_activeCandidates = &svc::nativeCandidateTable;
    const std::wstring services = L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\";
    const std::wstring run = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    const svc::Registration foo =
        registration(svc::RegistrationKind::Service, L"Foo Svc", services + L"Foo Svc", svc::RegistryView::Single,
                     L"C:\\Program Files\\Foo Bar\\foo.exe -k", L"C:\\Program Files\\Foo Bar\\foo.exe -k");
    svc::Registration net = registration(svc::RegistrationKind::StartupValue, L"Net", run, svc::RegistryView::Redirected32,
                                         L"%NETDIR%\\Net Tool\\n.exe", L"D:\\Shares\\Net Tool\\n.exe");
    PlayedMachine::registrations = {
        foo,
        registration(svc::RegistrationKind::StartupValue, L"Quoted", run, svc::RegistryView::Native,
                     L"\"C:\\Program Files\\Q R\\q.exe\" /s", L"\"C:\\Program Files\\Q R\\q.exe\" /s"),
        net,
        registration(svc::RegistrationKind::Service, L"Plain", services + L"Plain", svc::RegistryView::Single,
                     L"C:\\Windows\\system32\\svchost.exe -k x", L"C:\\Windows\\system32\\svchost.exe -k x"),
    };
    // C:\Program.exe is the guard's (a candidate's stem in a candidate folder): no warning.
    PlayedMachine::files = {L"C:\\Program.exe", L"C:\\Program Files\\Foo.exe", L"C:\\Program Files\\Foo Bar\\foo.exe",
                            L"C:\\Windows\\system32\\svchost.exe"};
    PlayedMachine::folderSddl = {{L"C:\\", L"D:(A;;0x1200a9;;;BU)"}, {L"C:\\Program Files", L"D:(A;;0x100116;;;BU)"}};
    PlayedMachine::lookedAt.clear();
    RecordSink::take();
    Corvane::Orlin::Ports<svc::ReportScanPorts>::Override scope(svc::reportScanPorts, kPlayed);
    const auto never = [] { return false; };

    const std::wstring fooFinding =
        kFindingHead + L"Registration: \"Foo Svc\" (HKLM\\SYSTEM\\CurrentControlSet\\Services\\Foo Svc)\r\n" +
        L"Command line: C:\\Program Files\\Foo Bar\\foo.exe -k\r\n" +
        L"Windows tries these paths before the program:\r\n" + L"\"C:\\Program.exe\"\r\n" +
        L"\"C:\\Program Files\\Foo.exe\"" + kUsersCanCreate + L"\r\n" + L"To quote the path, run:\r\n" +
        L"sc config \"Foo Svc\" binPath= \"\\\"C:\\Program Files\\Foo Bar\\foo.exe\\\" -k\"";
    const std::wstring fooFile = kFileHead + L"\"C:\\Program Files\\Foo.exe\"" + kUsersCanCreate + L"\r\n" +
                                 L"Registration: \"Foo Svc\" (HKLM\\SYSTEM\\CurrentControlSet\\Services\\Foo Svc)";
    const std::wstring netFinding =
        kFindingHead + L"Registration: \"Net\" (HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run)\r\n" +
        L"Command line: %NETDIR%\\Net Tool\\n.exe\r\n" + L"Windows tries these paths, in this order:\r\n" +
        L"\"D:\\Shares\\Net.exe\"\r\n\"D:\\Shares\\Net Tool\\n.exe\"\r\n" +
        L"None of these paths exists, so the program cannot be told. No command is given.";
    const std::wstring summary = kSummaryHead + L"Registrations checked: 4\r\nUnquoted paths with spaces: 2";

    svc::ReportScan reporter;
    ASSERT_TRUE(reporter.scan(never, true));
    EXPECT_EQ((std::vector<Record>{{fooFinding, EVENTLOG_INFORMATION_TYPE, 0},
                                   {fooFile, EVENTLOG_WARNING_TYPE, 0},
                                   {netFinding, EVENTLOG_INFORMATION_TYPE, 0},
                                   {summary, EVENTLOG_INFORMATION_TYPE, 0}}),
              RecordSink::take());
    for (const std::wstring& looked : PlayedMachine::lookedAt) {
        EXPECT_NE(L'D', looked[0]) << "a network drive is never looked at: " << looked;
    }

    // Nothing changed: nothing to say.
    ASSERT_TRUE(reporter.scan(never, false));
    EXPECT_TRUE(RecordSink::take().empty());
    EXPECT_EQ(4u, reporter.counts().checked);
    EXPECT_EQ(2u, reporter.counts().found);
    EXPECT_EQ(0u, reporter.counts().reported);

    // A changed text is reported once; a registration gone and back is reported again, and
    // once even when the listing meets it twice (a key listed while it changes).
    PlayedMachine::registrations[2].value = L"%NETDIR%\\Net Tool\\n.exe /quiet";
    PlayedMachine::registrations[2].commandLine = L"D:\\Shares\\Net Tool\\n.exe /quiet";
    ASSERT_TRUE(reporter.scan(never, false));
    const std::vector<Record> changed = RecordSink::take();
    ASSERT_EQ(1u, changed.size());
    EXPECT_NE(std::wstring::npos, changed[0].text.find(L"Command line: %NETDIR%\\Net Tool\\n.exe /quiet\r\n"));
    ASSERT_TRUE(reporter.scan(never, false));
    EXPECT_TRUE(RecordSink::take().empty());
    PlayedMachine::registrations.erase(PlayedMachine::registrations.begin());
    ASSERT_TRUE(reporter.scan(never, false));
    EXPECT_TRUE(RecordSink::take().empty());
    PlayedMachine::registrations.insert(PlayedMachine::registrations.begin(), 2, foo);
    ASSERT_TRUE(reporter.scan(never, false));
    EXPECT_EQ((std::vector<Record>{{fooFinding, EVENTLOG_INFORMATION_TYPE, 0}, {fooFile, EVENTLOG_WARNING_TYPE, 0}}),
              RecordSink::take());

    // A stop asked for between two registrations ends the scan there, without a summary.
    svc::ReportScan fresh;
    int asked = 0;
    EXPECT_FALSE(fresh.scan([&] { return ++asked > 1; }, true));
    EXPECT_EQ(2, asked);
    EXPECT_EQ((std::vector<Record>{{fooFinding, EVENTLOG_INFORMATION_TYPE, 0}, {fooFile, EVENTLOG_WARNING_TYPE, 0}}),
              RecordSink::take());

    // A failed listing: no summary, what it reported kept, said once; one registration that
    // fails is said once and the scan goes on; a 32 KB line fits a record.
    const std::wstring longLine = L"C:\\Long Dir\\l.exe" + std::wstring(32000, L' ') + L"b";
    PlayedMachine::registrations = {
        foo, registration(svc::RegistrationKind::Service, L"Boom", services + L"Boom", svc::RegistryView::Single,
                          L"C:\\Boom Dir\\b.exe", L"C:\\Boom Dir\\b.exe"),
        registration(svc::RegistrationKind::StartupValue, L"Long", run, svc::RegistryView::Native, longLine, longLine),
        registration(svc::RegistrationKind::StartupValue, L"Rel", run, svc::RegistryView::Native, L"rundll32.exe a b", L"rundll32.exe a b")};
    wchar_t system[MAX_PATH]; // a name alone is found in the system folder: no finding
    PlayedMachine::files.insert(svc::joinPath(std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)), L"rundll32.exe"));
    PlayedMachine::listed = 1;
    svc::ReportScan failing;
    EXPECT_TRUE(!failing.scan(never, true) && !failing.scan(never, true) && failing.failed());
    std::vector<Record> records = RecordSink::take();
    ASSERT_EQ(3u, records.size()) << "foo's two, and the failure once";
    EXPECT_EQ(WORD(EVENTLOG_WARNING_TYPE), records[2].type);
    PlayedMachine::listed = SIZE_MAX;
    ASSERT_TRUE(failing.scan(never, true));
    records = RecordSink::take();
    ASSERT_EQ(3u, records.size()) << "Boom once, Long's finding, the summary; not foo again";
    EXPECT_EQ(1u, recordsContaining(records, L"\"Boom\"").size());
    EXPECT_EQ(kSummaryHead + L"Registrations checked: 4\r\nUnquoted paths with spaces: 2", records[2].text);
    EXPECT_GT(svc::kMaxRecordChars, recordsContaining(records, L"\"Long\"").at(0).text.size());
    PlayedMachine::listed = 1;
    EXPECT_FALSE(failing.scan(never, false));
    PlayedMachine::listed = SIZE_MAX;
    ASSERT_TRUE(failing.scan(never, false));
    EXPECT_EQ(1u, RecordSink::take().size()) << "the failure only: what was reported before it stays reported";
    svc::g_activeCandidates = nullptr;
}

// Scheduled tasks' actions, played through the port (Wine 8 keeps no action of a registered
// task and lists no task): each finding names the task's place; the command for a task's only
// action, run by cmd with the probe standing in for schtasks, hands it exactly the task and the
// quoted line; one of two actions, or a line too long for schtasks, gets the value to set.
TEST(ReportScan, TaskActionsNamedByPlaceWithASchtasksCommandThroughCmdOrTheValue)
{
    svc::loadMessageStrings(GetModuleHandleW(nullptr));
    const std::wstring probe = brimlock_test::builtProgram(L"registrations_probe.exe");
    ASSERT_EQ(std::wstring::npos, probe.find(L' '));
    PlayedMachine::files = {L"C:\\A B\\c.exe"};
    PlayedMachine::registrations = {svc::scheduledTaskAction(L"\\Vendor\\Up date", 1, true, L"C:\\A B\\c.exe", L"-k \"q r\"&x"),
                                    svc::scheduledTaskAction(L"\\Two", 2, false, L"C:\\A B\\c.exe", L""),
                                    svc::scheduledTaskAction(L"\\Long", 1, true, L"C:\\A B\\c.exe", std::wstring(250, L'a')),
                                    svc::scheduledTaskAction(L"\\Env", 1, true, L"%SystemDrive%\\A B\\c.exe", L"")};
    const wchar_t* const expected[][2] = {
        {L"\"\\Vendor\\Up date\" (Task Scheduler Library\\Vendor\\Up date, action 1)",
         L"\n/change\n/tn\n\\Vendor\\Up date\n/tr\n\"C:\\A B\\c.exe\" -k \"q r\"&x"},
        {L"\"\\Two\" (Task Scheduler Library\\Two, action 2)", nullptr},
        {L"\"\\Long\" (Task Scheduler Library\\Long, action 1)", nullptr},
        {L"\"\\Env\" (Task Scheduler Library\\Env, action 1)", L"\n/change\n/tn\n\\Env\n/tr\n\"C:\\A B\\c.exe\""}};
    svc::ReportScanPorts tasksOnly = kPlayed;
    tasksOnly.enumerateRegistrations = &PlayedMachine::none;
    tasksOnly.enumerateScheduledTasks = &PlayedMachine::enumerate;
    Corvane::Orlin::Ports<svc::ReportScanPorts>::Override scope(svc::reportScanPorts, tasksOnly);
    RecordSink::take();
    svc::ReportScan reporter;
    ASSERT_TRUE(reporter.scan([] { return false; }, false));
    const std::vector<Record> records = RecordSink::take();
    ASSERT_EQ(4u, records.size());
    for (size_t i = 0; i < 4; ++i) {
        const std::wstring& text = records[i].text;
        EXPECT_NE(std::wstring::npos, text.find(L"Registration: " + std::wstring(expected[i][0]) + L"\r\n")) << text;
        const size_t run = text.find(L"To quote the path, run:\r\nschtasks ");
        ASSERT_EQ(expected[i][1] != nullptr, run != std::wstring::npos) << text;
        if (!expected[i][1]) {
            EXPECT_NE(std::wstring::npos, text.find(L":\r\n\"C:\\A B\\c.exe\"")) << "the value to set: " << text;
            continue;
        }
        EXPECT_EQ(probe + expected[i][1], probeOutput(L"cmd /c " + probe + text.substr(run + 33))) << text;
    }
}

// Each registration as the report's listing finds it (a Run value; an entry of a RunOnceEx
// section after "||", beside the section's title and settings, which are not listed), and
// the command its finding gives, run by cmd /c as an administrator would paste it: the value
// read back is exactly the line with its program quoted, whatever the arguments hold. Where
// no command can be typed, the value to set by hand is that line. The native view; Wine's
// sc.exe has no "config", so no service row.
TEST(ReportScan, EachListedRegistrationsCommandRunByCmdStoresExactlyTheQuotedLine)
{
    const std::wstring program = kRoot + L"\\A B\\x.exe";
    const std::wstring section = std::wstring(svc::kRunOnceExKey) + L"\\brimlock-001";
    const struct {
        const wchar_t* arguments;
        bool command; // false: the value to set by hand
    } rows[] = {
        {L" a&b", true},          {L" a|b <c >d", true},    {L" a^b (x)", true},      {L" a!b!", true},
        {L" a\"&echo x", true},   {L" a\"b\"c|d^e", true},  {L" \"a b\" c&d", true},  {L"  two  blanks", true},
        {L" a\"%b&c", true},      {L" 100%", false},        {L" %PATH%", false},      {L" a\"b%", false},
    };
    struct Listed : svc::RegistrationVisitor {
        std::wstring key;
        std::vector<svc::Registration> found;
        bool visit(const svc::Registration& r) override
        {
            if (r.key == key && r.view != svc::RegistryView::Redirected32) {
                found.push_back(r);
            }
            return true;
        }
    };
    const auto dropSection = [&] { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, section.c_str(), KEY_WOW64_64KEY, 0); };
    dropSection();
    const RunValue run(L"brimlock-reg-cmd");
    for (const std::wstring& key : {std::wstring(brimlock_test::kRunKey), section}) {
        const std::wstring head = key == section ? L"||" : L"";
        for (const auto& row : rows) {
            const std::wstring text = program + row.arguments;
            SCOPED_TRACE(key + L": " + text);
            ASSERT_EQ(ERROR_SUCCESS, brimlock_test::setMachineString(key, L"brimlock-reg-cmd", head + text));
            ASSERT_EQ(ERROR_SUCCESS, brimlock_test::setMachineString(section, L"", program + L" title"));
            ASSERT_EQ(ERROR_SUCCESS, brimlock_test::setMachineString(section, L"Title", program + L" t"));
            Listed listed;
            listed.key = L"HKLM\\" + key;
            ASSERT_EQ(0u, svc::enumerateRegistrations(listed));
            ASSERT_EQ(1u, listed.found.size()) << "listed, and alone in its key";
            const svc::Registration& value = listed.found[0];
            const svc::ProgramSearch search =
                svc::searchProgram(value.commandLine, [&](const std::wstring& p) { return p == program; });
            const std::wstring quoted = head + L"\"" + program + L"\"" + row.arguments;
            const std::wstring command = svc::quotingCommand(value, search);
            EXPECT_EQ(row.command, !command.empty()) << command;
            if (command.empty()) {
                EXPECT_EQ(quoted, svc::quotedValue(value, search));
                continue;
            }
            // Made anew by the command (reg.exe would ask before it overwrites a value).
            ASSERT_EQ(ERROR_SUCCESS, brimlock_test::deleteMachineValue(key, L"brimlock-reg-cmd"));
            const brimlock_test::ProcessResult result = brimlock_test::runProcess(L"cmd /c " + command, 30000, true);
            ASSERT_TRUE(result.finished) << result.output;
            EXPECT_EQ(quoted, brimlock_test::readMachineValue(key, L"brimlock-reg-cmd").text) << command << "\n"
                                                                                               << result.output;
        }
    }
    dropSection();
}

// The thread on the prefix's real registry and drive C; only the records are caught.
TEST(ReportThread, ReportsAtStartThenEachNewRegistrationOnceAndStopsAtOnce)
{
    svc::loadMessageStrings(GetModuleHandleW(nullptr));
    brimlock_test::ConfigKey config;
    TestFolder folder;
    svc::ReportScanPorts catching = svc::reportScanPorts.real();
    catching.report = &RecordSink::report;
    Corvane::Orlin::Ports<svc::ReportScanPorts>::Override scope(svc::reportScanPorts, catching);
    Corvane::Orlin::UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    RecordSink::take();

    // Switched off: no thread, no record.
    Corvane::Orlin::ResetConfigurationCacheForTesting();
    {
        svc::ReportThread off(stop.get(), Corvane::Orlin::OutputSettings(L"tamselsvc"));
        EXPECT_FALSE(off.running());
        Sleep(1500);
    }
    EXPECT_TRUE(RecordSink::take().empty());

    // Switched on, with an unquoted value and a file planted in front of it.
    const std::wstring planted = kRoot + L"\\Unq.exe";
    ASSERT_TRUE(brimlock_test::createFileWithText(planted, "planted"));
    ASSERT_TRUE(plant(planted, kRoot + L"\\Unq Dir\\x.exe") && plant(planted, kRoot + L"\\Later Dir\\y.exe"));
    const RunValue before(L"brimlock-reg-before", KEY_WOW64_64KEY);
    ASSERT_EQ(ERROR_SUCCESS, before.set(kRoot + L"\\Unq Dir\\x.exe /y"));
    const bool wow64 = brimlock_test::isWow64();
    struct UserRun { // a value of this user's Run key, in the user's loaded hive
        const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
        UserRun() { RegSetKeyValueW(HKEY_CURRENT_USER, key, L"brimlock-reg-user", REG_SZ, L"C:\\U V\\u.exe", 26); }
        ~UserRun() { RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"brimlock-reg-user"); }
    } userRun;
    const RunValue later(L"brimlock-reg-later", KEY_WOW64_32KEY);
    ASSERT_EQ(ERROR_SUCCESS, config.setDword(Corvane::Orlin::kShouldReportUnquotedPaths, 1));
    Corvane::Orlin::ResetConfigurationCacheForTesting();
    const Corvane::Orlin::OutputSettings settings(L"tamselsvc");
    DWORD stopAt = 0;
    {
        svc::ReportThread report(stop.get(), settings);
        ASSERT_TRUE(report.running());
        ASSERT_TRUE(brimlock_test::waitUntil([] { return !recordsContaining(RecordSink::peek(), kSummaryHead).empty(); },
                                             10s));
        const std::vector<Record> first = RecordSink::take();
        const std::wstring nativeRun = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
        const auto beforeFindings = recordsContaining(first, L"Registration: \"brimlock-reg-before\" (" + nativeRun + L")\r\n");
        ASSERT_EQ(1u, beforeFindings.size());
        EXPECT_EQ(kFindingHead, beforeFindings[0].text.substr(0, kFindingHead.size()));
        EXPECT_NE(std::wstring::npos, beforeFindings[0].text.find(L"Windows tries these paths before the program:\r\n\"" +
                                                                  kRoot + L"\\Unq.exe\"\r\nTo quote the path, run:\r\n"));
        EXPECT_EQ(1u, recordsContaining(first, L"\"brimlock-reg-user\" (HKU\\S-1-5-").size()) << "a user's value, by its place";
        const auto fileWarnings = recordsContaining(first, kFileHead + L"\"" + planted + L"\"\r\n");
        ASSERT_EQ(1u, fileWarnings.size());
        EXPECT_EQ(WORD(EVENTLOG_WARNING_TYPE), fileWarnings[0].type);

        // A value added while it runs: reported about a second later, once.
        const DWORD added = GetTickCount();
        ASSERT_EQ(ERROR_SUCCESS, later.set(kRoot + L"\\Later Dir\\y.exe"));
        const std::wstring laterLine =
            L"Registration: \"brimlock-reg-later\" (" +
            std::wstring(wow64 ? L"HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run"
                               : L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run") +
            L")\r\n";
        ASSERT_TRUE(brimlock_test::waitUntil([&] { return !recordsContaining(RecordSink::peek(), laterLine).empty(); },
                                             10s));
        const DWORD took = GetTickCount() - added;
        EXPECT_GE(took, 900u) << "after the settle time";
        EXPECT_LT(took, 5000u);
        Sleep(2500);
        const std::vector<Record> afterAdd = RecordSink::take();
        const auto laterFindings = recordsContaining(afterAdd, laterLine);
        ASSERT_EQ(1u, laterFindings.size()) << "once";
        EXPECT_TRUE(recordsContaining(afterAdd, L"brimlock-reg-before").empty()) << "unchanged: not again";

        // The command the finding gives quotes the value, in its view.
        const std::wstring& text = laterFindings[0].text;
        const std::wstring command = text.substr(text.find(L"To quote the path, run:\r\n") + 25);
        EXPECT_EQ(L"reg add HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run /v brimlock-reg-later /t REG_SZ /d "
                  L"\"\\\"C:\\brimlock-reg\\Later Dir\\y.exe\\\"\" /f" +
                      std::wstring(wow64 ? L" /reg:32" : L""),
                  command);
        const brimlock_test::ProcessResult quoting = brimlock_test::runProcess(command, 30000, true);
        ASSERT_TRUE(quoting.finished) << quoting.output;
        EXPECT_EQ(L"\"C:\\brimlock-reg\\Later Dir\\y.exe\"", later.get());
        Sleep(2500);
        EXPECT_TRUE(recordsContaining(RecordSink::take(), L"brimlock-reg-later").empty()) << "quoted now";

        stopAt = GetTickCount();
        SetEvent(stop.get());
    } // joins the thread
    EXPECT_LT(GetTickCount() - stopAt, 1000u) << "the thread ends at once on the stop event";
    EXPECT_EQ("planted", brimlock_test::readFileText(planted)) << "the report never touches a file";
    EXPECT_FALSE(brimlock_test::exists(kRoot + L"\\Unq1.exe"));
}

namespace {

// The report's thread feeding the guard of registrations, with only the guard's switch on,
// on the prefix's real registry and drive C; records caught by the sink.
struct GuardRunning {
    explicit GuardRunning(brimlock_test::ConfigKey& config)
    {
        RecordSink::install();
        config.setDword(Corvane::Orlin::kShouldGuardUnquotedPaths, 1);
        Corvane::Orlin::ResetConfigurationCacheForTesting();
        settings.emplace(L"tamselsvc");
        guard.emplace(stop.get(), *settings);
        report.emplace(stop.get(), *settings, guard->feed());
    }
    ~GuardRunning()
    {
        report.reset();
        guard.reset();
        RecordSink::uninstall();
        Corvane::Orlin::ResetConfigurationCacheForTesting();
    }
    Corvane::Orlin::UniqueHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::optional<Corvane::Orlin::OutputSettings> settings;
    std::optional<svc::RegistrationGuard> guard;
    std::optional<svc::ReportThread> report;
};

bool movedTo(const std::wstring& from, const std::wstring& to)
{
    return brimlock_test::waitUntil([&] { return !brimlock_test::exists(from) && brimlock_test::exists(to); }, 8s);
}

} // namespace

// A file in front of an unquoted service or Run value is moved about a second after it
// appears, and the registration then starts its real program; a name Windows never starts
// there, and the real program, are left alone, also when a registration is changed to name
// the path or its program is gone; a registration removed is no longer guarded.
TEST(RegistrationGuard, MovesWhatStandsInFrontOfEachRegistrationAndNeverItsProgram)
{
    svc::loadMessageStrings(GetModuleHandleW(nullptr));
    brimlock_test::ConfigKey config;
    TestFolder folder;
    const std::wstring probe = brimlock_test::builtProgram(L"registrations_probe.exe");
    const std::wstring svcProgram = kRoot + L"\\Svc Dir\\probe.exe", runProgram = kRoot + L"\\Run Dir\\probe.exe";
    ASSERT_TRUE(plant(probe, svcProgram) && plant(probe, runProgram));
    struct Service {
        Service() { brimlock_test::runSc(L"delete brimlock-guard-svc"); }
        ~Service() { brimlock_test::runSc(L"delete brimlock-guard-svc"); }
    } service;
    ASSERT_EQ(0u, brimlock_test::runSc(L"create brimlock-guard-svc binPath= \"" + svcProgram +
                                       L" -k x\" type= own start= demand"));
    const RunValue run(L"brimlock-guard-run");
    ASSERT_EQ(ERROR_SUCCESS, run.set(runProgram + L" /x"));
    GuardRunning running(config);
    ASSERT_TRUE(running.guard->running() && running.report->running());

    ASSERT_TRUE(plant(probe, kRoot + L"\\Svc.exe") && plant(probe, kRoot + L"\\Svc.cfg"));
    ASSERT_TRUE(movedTo(kRoot + L"\\Svc.exe", kRoot + L"\\Svc1.exe"));
    EXPECT_EQ(svcProgram, startedBy(svcProgram + L" -k x")) << "the service starts its real program";
    ASSERT_TRUE(plant(probe, kRoot + L"\\Run.exe"));
    ASSERT_TRUE(movedTo(kRoot + L"\\Run.exe", kRoot + L"\\Run1.exe"));
    const std::vector<Record> moves = recordsContaining(RecordSink::take(), kRoot);
    ASSERT_EQ(2u, moves.size());
    EXPECT_NE(std::wstring::npos, moves[0].text.find(L"\"" + kRoot + L"\\Svc.exe\" -> \"" + kRoot + L"\\Svc1.exe\""));
    EXPECT_NE(std::wstring::npos, moves[0].text.find(L"\"brimlock-guard-svc\" (HKLM\\SYSTEM\\CurrentControlSet\\Services\\brimlock-guard-svc)"));
    EXPECT_NE(std::wstring::npos, moves[1].text.find(L"\"brimlock-guard-run\" (HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run)"));
    EXPECT_NE(moves[0].text.substr(0, 20), svc::messageString(IDS_MESSAGE_RENAMED).substr(0, 20)) << "its own head";
    EXPECT_TRUE(brimlock_test::exists(kRoot + L"\\Svc.cfg")) << "Windows never starts Svc.cfg for this line";

    // Changed to name the path: the path is its real program now.
    ASSERT_EQ(ERROR_SUCCESS, run.set(kRoot + L"\\Run.exe"));
    Sleep(200);
    ASSERT_TRUE(plant(probe, kRoot + L"\\Run.exe"));
    // The service's real program gone, no registry change: what is planted in front is the
    // longest prefix now, which only the look on the handle tells.
    Sleep(3000);
    ASSERT_TRUE(DeleteFileW(svcProgram.c_str()));
    ASSERT_TRUE(plant(probe, kRoot + L"\\Svc.exe"));
    Sleep(4000);
    EXPECT_TRUE(brimlock_test::exists(kRoot + L"\\Run.exe") && brimlock_test::exists(kRoot + L"\\Svc.exe"));
    EXPECT_TRUE(brimlock_test::exists(runProgram));
    for (const Record& r : recordsContaining(RecordSink::take(), kRoot)) ADD_FAILURE() << r;

    // Removed: no longer guarded, whatever is planted.
    ASSERT_TRUE(plant(probe, svcProgram) && DeleteFileW((kRoot + L"\\Svc.exe").c_str()));
    ASSERT_EQ(0u, brimlock_test::runSc(L"delete brimlock-guard-svc"));
    Sleep(2000);
    ASSERT_TRUE(plant(probe, kRoot + L"\\Svc.exe"));
    Sleep(4000);
    EXPECT_TRUE(brimlock_test::exists(kRoot + L"\\Svc.exe"));
    EXPECT_TRUE(recordsContaining(RecordSink::take(), kRoot).empty());
}

// Two hundred guarded folders: one thread for all of them beside the report's, one record
// that says not all are watched, one for what it leaves alone, and a file in a folder past
// the bound moved by the pass.
TEST(RegistrationGuard, ManyFoldersTakeOneThreadAndTheOnesPastTheBoundAreStillChecked)
{
    svc::loadMessageStrings(GetModuleHandleW(nullptr));
    brimlock_test::ConfigKey config;
    TestFolder folder;
    PlayedMachine::registrations.clear();
    for (int i = 0; i < 200; ++i) {
        const std::wstring line = kRoot + L"\\D" + std::to_wstring(i) + L"\\A B\\p.exe";
        ASSERT_TRUE(plant(brimlock_test::builtProgram(L"registrations_probe.exe"), line));
        PlayedMachine::registrations.push_back(registration(svc::RegistrationKind::Service, L"s" + std::to_wstring(i),
                                                            L"HKLM\\x", svc::RegistryView::Single, line, line));
    }
    // Bad input beside them: two on a network share (said once: no program can be told there)
    // and a 32 KB line of blanks after the first folder's program (more paths than listed).
    for (const std::wstring& line : {std::wstring(L"\\\\srv\\s\\A B\\x.exe"), std::wstring(L"\\\\srv\\t\\C D\\y.exe"),
                                     kRoot + L"\\D0\\A B\\p.exe" + std::wstring(16000, L' ') + L"b"}) {
        PlayedMachine::registrations.push_back(
            registration(svc::RegistrationKind::Service, L"bad", L"HKLM\\x", svc::RegistryView::Single, line, line));
    }
    // A user's own Run values: guarded only where ordinary users can create files (U1), never
    // where only administrators can (U0): a user's text must not steer the guard at those.
    for (const wchar_t* user : {L"U0", L"U1"}) {
        const std::wstring line = kRoot + L"\\" + user + L"\\A B\\p.exe";
        ASSERT_TRUE(plant(brimlock_test::builtProgram(L"registrations_probe.exe"), line));
        PlayedMachine::registrations.push_back(registration(svc::RegistrationKind::StartupValue, user,
                                                            L"HKU\\S-1-5-21-7\\Run", svc::RegistryView::Single, line, line));
    }
    std::wstring open = kRoot + L"\\U1";
    ASSERT_EQ(DWORD(ERROR_SUCCESS),
              SetNamedSecurityInfoW(&open[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr));
    svc::ReportScanPorts played = svc::reportScanPorts.real();
    played.enumerateRegistrations = &PlayedMachine::enumerate;
    Corvane::Orlin::Ports<svc::ReportScanPorts>::Override scope(svc::reportScanPorts, played);
    const int threadsBefore = brimlock_test::threadCount(GetCurrentProcessId());
    GuardRunning running(config);
    Sleep(3000);
    EXPECT_LE(brimlock_test::threadCount(GetCurrentProcessId()), threadsBefore + 2);
    EXPECT_EQ(4u, RecordSink::take().size()) << "not every folder watched, a share's paths, the long line's last "
                                                 "ones and a user's text before an administrators' folder not "
                                                 "guarded: each said once";
    // Folders are watched in name order: D99 comes last.
    for (const wchar_t* folder : {L"D99", L"U0", L"U1"}) {
        ASSERT_TRUE(brimlock_test::createFile(kRoot + L"\\" + folder + L"\\A.exe"));
    }
    EXPECT_TRUE(movedTo(kRoot + L"\\D99\\A.exe", kRoot + L"\\D99\\A1.exe"));
    EXPECT_TRUE(movedTo(kRoot + L"\\U1\\A.exe", kRoot + L"\\U1\\A1.exe"));
    Sleep(2500);
    EXPECT_TRUE(brimlock_test::exists(kRoot + L"\\U0\\A.exe"));
    EXPECT_EQ(2u, RecordSink::take().size());
}
