// The check against real files in the prefix's drive C, with its records and notices
// caught by recorders. Every record text is compared in full.
#include "CountermeasureTesting.h"
#include "TestPaths.h"
#include "TestProcess.h"
#include "Wait.h"

#include "_model/_service/Countermeasure.h"
#include "_model/_service/MessageStrings.h"
#include "_model/_service/RenameError.h"
#include "_process/NotificationLaunch.h"
#include "_win32/ReportAppEvent.h"
#include "_win32/UniqueHandle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <system_error>
#include <thread>
#include <tuple>

using namespace brimlock_test;
using namespace tamselsvc::model::service;
namespace process = tamselsvc::process;
using Corvane::Orlin::UniqueHandle;

namespace {

RecordingLauncher s_launcher; // outlives the detached notification threads

const std::wstring kRenamedHead = L"The file was renamed as follows.\r\n\r\n";
const std::wstring kScheduledHead = L"The file will be renamed as follows on restart.\r\n\r\n";
const std::wstring kDeleteHead = L"The following file will be deleted on restart.\r\n\r\n";
const std::wstring kErrorCodeHead = L"Error code= ";

std::wstring renamedText(const std::wstring& from, const std::wstring& to)
{
    return kRenamedHead + L"\"" + from + L"\" -> \"" + to + L"\"";
}
std::wstring scheduledText(const std::wstring& from, const std::wstring& to)
{
    return kScheduledHead + L"\"" + from + L"\" -> \"" + to + L"\"";
}
std::wstring renameErrorText(DWORD code, const std::wstring& from, const std::wstring& to)
{
    std::wstring message = systemMessageW(code);
    if (message.empty()) {
        message = L"unknown error";
    }
    return L"rename: " + message + L": \"" + from + L"\", \"" + to + L"\"";
}

// MoveFileExW stand-ins.
std::mutex s_moveLock;
std::vector<std::tuple<std::wstring, std::wstring, DWORD>> s_moves;
DWORD s_failNowWith = 0;   // 0: the immediate rename "succeeds" without touching the disk
DWORD s_failLaterWith = 0; // 0: the scheduling "succeeds" without touching the registry

void noteMove(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    std::lock_guard<std::mutex> guard(s_moveLock);
    s_moves.emplace_back(from, to ? to : L"<null>", flags);
}

BOOL WINAPI fakeMove(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    noteMove(from, to, flags);
    const DWORD error = (flags & MOVEFILE_DELAY_UNTIL_REBOOT) ? s_failLaterWith : s_failNowWith;
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

// The race the immediate rename must survive: a file appears under the new name after
// the name search and before the rename.
BOOL WINAPI racingMove(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    noteMove(from, to, flags);
    if (!(flags & MOVEFILE_DELAY_UNTIL_REBOOT)) {
        createFileWithText(to, "appeared meanwhile");
    }
    return ::MoveFileExW(from, to, flags);
}

std::atomic<int> s_registrations{0};
HANDLE WINAPI refuseRegistration(LPCWSTR, LPCWSTR)
{
    ++s_registrations;
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return nullptr;
}

void failingThreadStart(std::function<void()>)
{
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again), "no thread");
}


class Countermeasure : public ::testing::Test {
protected:
    void SetUp() override
    {
        loadMessageStrings(GetModuleHandleW(nullptr));
        ASSERT_EQ(kRenamedHead, messageString(102)) << "the tests compare with the English texts";
        cleanDriveC();
        _pendingBefore = readPendingOperations();
        RecordSink::install();
        s_launcher.clear();
        s_launcher.holdFatal(false);
        setNoticeLauncherForTesting(&s_launcher);
        {
            std::lock_guard<std::mutex> guard(s_moveLock);
            s_moves.clear();
        }
        s_failNowWith = s_failLaterWith = 0;
        process::g_restartPending = false;
        g_fatalGate.release();
        _wow64 = isWow64();
        g_activeCandidates = _wow64 ? &wow64CandidateTable : &nativeCandidateTable;
    }

    void TearDown() override
    {
        s_launcher.releaseFatal();
        setMoveFileExForTesting(nullptr);
        setThreadStartForTesting(nullptr);
        Corvane::Orlin::SetRegisterEventSourceForTesting(nullptr);
        RecordSink::uninstall();
        cleanDriveC();
        restorePendingOperations(_pendingBefore);
    }

    std::vector<std::tuple<std::wstring, std::wstring, DWORD>> moves()
    {
        std::lock_guard<std::mutex> guard(s_moveLock);
        return s_moves;
    }

    PendingOperations _pendingBefore;
    bool _wow64 = false;
};

} // namespace

TEST_F(Countermeasure, ProgramBecomesProgram1WithOneRecordAndANormalNotice)
{
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "payload")) << GetLastError();
    ASSERT_EQ(0, checkAllCandidates());

    EXPECT_FALSE(exists(L"C:\\Program"));
    EXPECT_EQ("payload", readFileText(L"C:\\Program1"));
    const std::vector<Record> records = RecordSink::take();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(L"The file was renamed as follows.\r\n\r\n\"C:\\Program\" -> \"C:\\Program1\"", records[0].text);
    EXPECT_EQ(WORD(EVENTLOG_WARNING_TYPE), records[0].type);
    EXPECT_EQ(0u, records[0].id);

    const std::vector<Notice> notices = s_launcher.waitForNotices(1);
    ASSERT_EQ(1u, notices.size());
    EXPECT_EQ(NoticeKind::ViaSession, notices[0].kind);
    EXPECT_EQ(L"", notices[0].noticeSwitch) << "the session notice takes the current switch";
    EXPECT_EQ(L"/normal", notices[0].effectiveSwitch);
    EXPECT_EQ(L"C:\\Program", notices[0].path) << "the old path, never the new one";
    EXPECT_TRUE(addedOperations(_pendingBefore).empty());

    // The renamed file is no candidate: a second pass finds nothing.
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_TRUE(RecordSink::take().empty());
    EXPECT_TRUE(exists(L"C:\\Program1"));
}

// The event log cannot be reached: each record is dropped, and the renames, the scheduling
// and the notices go on as if it had been written.
TEST_F(Countermeasure, AnUnavailableEventSourceDropsTheRecordsAndTheActionsGoOn)
{
    RecordSink::uninstall(); // the real record writer, whose registration fails
    Corvane::Orlin::SetRegisterEventSourceForTesting(&refuseRegistration);
    s_registrations = 0;
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "one"));
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_EQ("one", readFileText(L"C:\\Program1"));
    EXPECT_EQ(1, s_registrations.load()) << "one record tried";
    std::vector<Notice> notices = s_launcher.waitForNotices(1);
    ASSERT_EQ(1u, notices.size());
    EXPECT_EQ(L"C:\\Program", notices[0].path);

    // A held file: the error record and the scheduling record are both lost, the rename is
    // scheduled all the same and the first restart notice is given.
    s_launcher.clear();
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "two"));
    UniqueHandle held(CreateFileW(L"C:\\Program", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid()) << GetLastError();
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_EQ(3, s_registrations.load());
    const auto added = addedOperations(_pendingBefore);
    ASSERT_EQ(1u, added.size());
    EXPECT_EQ(L"\\??\\C:\\Program2", added[0].second);
    notices = s_launcher.waitForNotices(1);
    ASSERT_EQ(1u, notices.size());
    EXPECT_EQ(NoticeKind::Dialog, notices[0].kind);
    EXPECT_EQ(L"/restart", notices[0].noticeSwitch);
}

TEST_F(Countermeasure, CaseAndExtensionAreKeptAndNumbersTakenByAnyExtensionAreSkipped)
{
    ASSERT_TRUE(createFileWithText(L"C:\\PROGRAM.EXE", "exe"));
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_EQ("exe", readFileText(L"C:\\PROGRAM1.EXE"));
    std::vector<Record> records = RecordSink::take();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(renamedText(L"C:\\PROGRAM.EXE", L"C:\\PROGRAM1.EXE"), records[0].text);
    cleanDriveC();

    ASSERT_TRUE(createFileWithText(L"C:\\program1.txt", "taken"));
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "mine"));
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_EQ("mine", readFileText(L"C:\\Program2"));
    EXPECT_EQ("taken", readFileText(L"C:\\program1.txt"));
    EXPECT_FALSE(exists(L"C:\\Program"));
    records = RecordSink::take();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(renamedText(L"C:\\Program", L"C:\\Program2"), records[0].text);
}

TEST_F(Countermeasure, FoldersAndOtherStemsAreLeftAlone)
{
    ASSERT_TRUE(CreateDirectoryW(L"C:\\Program", nullptr)) << GetLastError();
    ASSERT_TRUE(createFileWithText(L"C:\\Programs", "s"));
    ASSERT_TRUE(createFileWithText(L"C:\\Program Files (x86).txt", "x"));
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_TRUE(isDirectory(L"C:\\Program"));
    EXPECT_EQ("s", readFileText(L"C:\\Programs"));
    EXPECT_EQ("x", readFileText(L"C:\\Program Files (x86).txt"));
    EXPECT_FALSE(exists(L"C:\\Program1"));
    EXPECT_TRUE(RecordSink::take().empty());
    EXPECT_TRUE(s_launcher.waitForNotices(0).empty());
}

TEST_F(Countermeasure, ProgramFilesTxtIsACandidateOn64BitWindowsOnly)
{
    ASSERT_TRUE(createFileWithText(L"C:\\Program Files.txt", "pf"));
    ASSERT_EQ(0, checkAllCandidates());
    const std::vector<Record> records = RecordSink::take();
    if (_wow64) {
        EXPECT_FALSE(exists(L"C:\\Program Files.txt"));
        EXPECT_EQ("pf", readFileText(L"C:\\Program Files1.txt"));
        ASSERT_EQ(1u, records.size());
        EXPECT_EQ(renamedText(L"C:\\Program Files.txt", L"C:\\Program Files1.txt"), records[0].text);
        EXPECT_EQ(1u, s_launcher.waitForNotices(1).size());
    } else {
        EXPECT_EQ("pf", readFileText(L"C:\\Program Files.txt"));
        EXPECT_TRUE(records.empty());
    }
}

TEST_F(Countermeasure, MissingFolderGivesNoErrorAndNoRecord)
{
    // The product folder of either table does not exist in the test prefix.
    ASSERT_FALSE(exists(g_activeCandidates.load()->at(1).folder));
    EXPECT_EQ(0, checkAllCandidates());
    EXPECT_TRUE(RecordSink::take().empty());

    const PathPredicate all = [](const std::wstring&) { return true; };
    EXPECT_TRUE(listMatchingFiles(L"C:\\brimlock-no-such-folder\\", all).empty());
    EXPECT_TRUE(listMatchingFiles(L"C:\\brimlock-no-such-folder\\below\\", all).empty());
    EXPECT_TRUE(listMatchingFiles(L"C:\\windows\\win.ini", all).empty()) << "a file is no folder";
    try {
        listMatchingFiles(L"C:\\bad<name\\", all);
        ADD_FAILURE() << "an unusable folder name must raise";
    } catch (const std::system_error& e) {
        EXPECT_EQ(ERROR_INVALID_NAME, e.code().value());
    }
}

TEST_F(Countermeasure, NoChosenTableChecksNothing)
{
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "p"));
    g_activeCandidates = nullptr;
    EXPECT_EQ(1, checkAllCandidates());
    EXPECT_TRUE(exists(L"C:\\Program"));
    EXPECT_TRUE(RecordSink::take().empty());
    EXPECT_TRUE(s_launcher.waitForNotices(0).empty());
}

TEST_F(Countermeasure, NoFreeNameSchedulesTheDeletionAndRestartRemovesTheFile)
{
    for (int n = 1; n <= 100; ++n) {
        // Any extension takes the number.
        const std::wstring name = L"C:\\Program" + std::to_wstring(n) + (n % 3 ? L".txt" : L"");
        ASSERT_TRUE(createFileWithText(name, "n")) << n;
    }
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "victim"));
    ASSERT_EQ(0, checkAllCandidates());

    const std::vector<Record> records = RecordSink::take();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(L"The following file will be deleted on restart.\r\n\r\n\"C:\\Program\"", records[0].text);
    EXPECT_EQ(WORD(EVENTLOG_WARNING_TYPE), records[0].type);
    const auto added = addedOperations(_pendingBefore);
    ASSERT_EQ(1u, added.size());
    EXPECT_EQ(L"\\??\\C:\\Program", added[0].first);
    EXPECT_EQ(L"", added[0].second) << "an empty target is a deletion";
    EXPECT_FALSE(exists(L"C:\\Program101"));

    // The first restart notice of the process: a dialog, without the gate.
    const std::vector<Notice> notices = s_launcher.waitForNotices(1);
    ASSERT_EQ(1u, notices.size());
    EXPECT_EQ(NoticeKind::Dialog, notices[0].kind);
    EXPECT_EQ(L"/restart", notices[0].noticeSwitch);
    EXPECT_EQ(L"C:\\Program", notices[0].path);
    EXPECT_TRUE(process::g_restartPending.load());

    ASSERT_TRUE(runWinebootRestart());
    EXPECT_TRUE(waitUntil([] { return !exists(L"C:\\Program"); }, std::chrono::seconds(10)));
    EXPECT_TRUE(exists(L"C:\\Program99")) << "only the scheduled file goes";
}

TEST_F(Countermeasure, FileInUseIsScheduledForRenameOnEveryPassAndRenamedAtRestart)
{
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "held"));
    UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, L"brimlock-cm-holder-ready"));
    UniqueHandle quit(CreateEventW(nullptr, TRUE, FALSE, L"brimlock-cm-holder-quit"));
    ASSERT_TRUE(ready && quit);
    ProcessResult holder;
    std::thread holderThread([&] {
        holder = runProcess(quoteArgument(builtProgram(L"cm_file_holder.exe")) +
                                L" C:\\Program brimlock-cm-holder-ready brimlock-cm-holder-quit",
                            90000);
    });
    struct Joiner {
        std::thread& t;
        HANDLE quit;
        ~Joiner() { SetEvent(quit); t.join(); }
    } joiner{holderThread, quit.get()};
    ASSERT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(ready.get(), 30000)) << "the holder did not open the file";

    const std::wstring expectedError = renameErrorText(ERROR_SHARING_VIOLATION, L"C:\\Program", L"C:\\Program1");
    for (int pass = 1; pass <= 2; ++pass) {
        SCOPED_TRACE(pass);
        ASSERT_EQ(0, checkAllCandidates());
        const std::vector<Record> records = RecordSink::take();
        ASSERT_EQ(2u, records.size());
        EXPECT_EQ(expectedError, records[0].text);
        EXPECT_EQ(WORD(EVENTLOG_ERROR_TYPE), records[0].type);
        EXPECT_EQ(0u, records[0].id);
        EXPECT_EQ(L"The file will be renamed as follows on restart.\r\n\r\n\"C:\\Program\" -> \"C:\\Program1\"",
                  records[1].text);
        EXPECT_EQ(WORD(EVENTLOG_WARNING_TYPE), records[1].type);
        EXPECT_TRUE(exists(L"C:\\Program"));
        EXPECT_FALSE(exists(L"C:\\Program1")) << "the scheduled name does not exist before the restart";
    }
    const auto added = addedOperations(_pendingBefore);
    ASSERT_EQ(2u, added.size()) << "one scheduled rename per pass";
    for (const auto& operation : added) {
        EXPECT_EQ(L"\\??\\C:\\Program", operation.first);
        EXPECT_EQ(L"\\??\\C:\\Program1", operation.second);
    }
    // First a dialog without the gate, then (gate free) a notice through the session.
    const std::vector<Notice> notices = s_launcher.waitForNotices(2);
    ASSERT_EQ(2u, notices.size());
    const auto first = std::find_if(notices.begin(), notices.end(),
                                    [](const Notice& n) { return n.kind == NoticeKind::Dialog; });
    ASSERT_NE(notices.end(), first);
    EXPECT_EQ(L"/restart", first->noticeSwitch);
    EXPECT_EQ(L"C:\\Program", first->path);
    const auto second = std::find_if(notices.begin(), notices.end(),
                                     [](const Notice& n) { return n.kind == NoticeKind::ViaSession; });
    ASSERT_NE(notices.end(), second);
    EXPECT_EQ(L"/restart", second->effectiveSwitch);
    EXPECT_EQ(L"C:\\Program", second->path);

    SetEvent(quit.get());
    ASSERT_TRUE(waitUntil([&] { return holder.started && holder.finished; }, std::chrono::seconds(30)));
    EXPECT_EQ(0u, holder.exitCode);
    ASSERT_TRUE(runWinebootRestart());
    EXPECT_TRUE(waitUntil([] { return exists(L"C:\\Program1"); }, std::chrono::seconds(10)));
    EXPECT_FALSE(exists(L"C:\\Program"));
    EXPECT_EQ("held", readFileText(L"C:\\Program1"));
}

TEST_F(Countermeasure, AFileThatAppearsUnderTheNewNameIsNotOverwritten)
{
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "offending"));
    setMoveFileExForTesting(&racingMove);
    ASSERT_EQ(0, checkAllCandidates());

    EXPECT_EQ("appeared meanwhile", readFileText(L"C:\\Program1")) << "the rename must not replace it";
    EXPECT_EQ("offending", readFileText(L"C:\\Program"));
    const auto calls = moves();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(DWORD(MOVEFILE_COPY_ALLOWED), std::get<2>(calls[0])) << "no MOVEFILE_REPLACE_EXISTING";
    EXPECT_EQ(DWORD(MOVEFILE_DELAY_UNTIL_REBOOT), std::get<2>(calls[1]));

    const std::vector<Record> records = RecordSink::take();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(renameErrorText(ERROR_ALREADY_EXISTS, L"C:\\Program", L"C:\\Program1"), records[0].text);
    EXPECT_EQ(scheduledText(L"C:\\Program", L"C:\\Program1"), records[1].text);
    EXPECT_EQ(1u, addedOperations(_pendingBefore).size());
}

TEST_F(Countermeasure, SchedulingFailureGivesTwoErrorRecordsAndOneFatalDialogAtATime)
{
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "a"));
    ASSERT_TRUE(createFileWithText(L"C:\\Program.txt", "b"));
    setMoveFileExForTesting(&fakeMove);
    s_failNowWith = ERROR_SHARING_VIOLATION;
    s_failLaterWith = ERROR_ACCESS_DENIED;
    s_launcher.holdFatal(true);

    ASSERT_EQ(0, checkAllCandidates());
    std::vector<Record> records = RecordSink::take();
    ASSERT_EQ(4u, records.size()) << "two records for each of the two files";
    std::set<std::wstring> failedPaths;
    for (size_t i = 0; i < records.size(); i += 2) {
        EXPECT_EQ(WORD(EVENTLOG_ERROR_TYPE), records[i].type);
        EXPECT_EQ(WORD(EVENTLOG_ERROR_TYPE), records[i + 1].type);
        EXPECT_EQ(L"Error code= 5", records[i + 1].text);
    }
    EXPECT_TRUE(records[0].text == renameErrorText(32, L"C:\\Program", L"C:\\Program1") ||
                records[0].text == renameErrorText(32, L"C:\\Program.txt", L"C:\\Program1.txt"))
        << std::string(records[0].text.begin(), records[0].text.end());
    EXPECT_TRUE(exists(L"C:\\Program") && exists(L"C:\\Program.txt"));

    std::vector<Notice> notices = s_launcher.waitForNotices(1);
    ASSERT_EQ(1u, notices.size()) << "one fatal dialog while it is open";
    EXPECT_EQ(NoticeKind::Dialog, notices[0].kind);
    EXPECT_EQ(L"/fatal", notices[0].noticeSwitch);
    EXPECT_TRUE(g_fatalGate.held());

    // A later pass while the dialog is open: records, but no dialog.
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_EQ(4u, RecordSink::take().size());
    EXPECT_EQ(1u, s_launcher.waitForNotices(1).size());

    // The dialog ends: its thread frees the gate, and the next failure shows a dialog again.
    s_launcher.releaseFatal();
    ASSERT_TRUE(waitUntil([] { return !g_fatalGate.held(); }, std::chrono::seconds(5)));
    s_launcher.holdFatal(true);
    ASSERT_EQ(0, checkAllCandidates());
    notices = s_launcher.waitForNotices(2);
    ASSERT_EQ(2u, notices.size());
    EXPECT_EQ(L"/fatal", notices[1].noticeSwitch);
    EXPECT_TRUE(addedOperations(_pendingBefore).empty());
    EXPECT_FALSE(process::g_restartPending.load()) << "nothing was scheduled";
}

TEST_F(Countermeasure, FatalGateIsReleasedWhenItsThreadCannotStart)
{
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "a"));
    setMoveFileExForTesting(&fakeMove);
    s_failNowWith = ERROR_SHARING_VIOLATION;
    s_failLaterWith = ERROR_ACCESS_DENIED;
    setThreadStartForTesting(&failingThreadStart);
    EXPECT_THROW(checkAllCandidates(), std::system_error);
    EXPECT_EQ(2u, RecordSink::take().size()) << "the file's records come before the notice";
    EXPECT_FALSE(g_fatalGate.held()) << "no thread is left to release it";

    setThreadStartForTesting(nullptr);
    ASSERT_EQ(0, checkAllCandidates());
    const std::vector<Notice> notices = s_launcher.waitForNotices(1);
    ASSERT_EQ(1u, notices.size());
    EXPECT_EQ(L"/fatal", notices[0].noticeSwitch);
    EXPECT_TRUE(waitUntil([] { return !g_fatalGate.held(); }, std::chrono::seconds(5)));
}

TEST_F(Countermeasure, RestartNoticesAfterTheFirstOnlyTestTheLaunchGate)
{
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "a"));
    setMoveFileExForTesting(&fakeMove);
    s_failNowWith = ERROR_SHARING_VIOLATION; // scheduling "succeeds" (fake)

    // The first notice ignores a held gate.
    process::g_launchGate.lock();
    ASSERT_EQ(0, checkAllCandidates());
    std::vector<Notice> notices = s_launcher.waitForNotices(1);
    ASSERT_EQ(1u, notices.size());
    EXPECT_EQ(NoticeKind::Dialog, notices[0].kind);
    EXPECT_EQ(L"/restart", notices[0].noticeSwitch);

    // Later ones are dropped while the gate is held ...
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_EQ(1u, s_launcher.waitForNotices(1).size());
    process::g_launchGate.unlock();

    // ... and given through the session when it is free; the pass leaves the gate free.
    ASSERT_EQ(0, checkAllCandidates());
    notices = s_launcher.waitForNotices(2);
    ASSERT_EQ(2u, notices.size());
    EXPECT_EQ(NoticeKind::ViaSession, notices[1].kind);
    EXPECT_EQ(L"/restart", notices[1].effectiveSwitch);
    EXPECT_TRUE(process::g_launchGate.try_lock());
    process::g_launchGate.unlock();

    const auto records = RecordSink::take();
    ASSERT_EQ(6u, records.size());
    EXPECT_EQ(scheduledText(L"C:\\Program", L"C:\\Program1"), records[5].text);
}

namespace {
int s_reportCalls = 0;
void failingFirstReport(const std::wstring& text, WORD type, DWORD id)
{
    if (++s_reportCalls == 1) {
        throw std::runtime_error("record failed");
    }
    RecordSink::report(text, type, id);
}
void failingFirstReportWithoutDescription(const std::wstring& text, WORD type, DWORD id)
{
    if (++s_reportCalls == 1) {
        throw 42;
    }
    RecordSink::report(text, type, id);
}
} // namespace

TEST_F(Countermeasure, ARecordThatRaisesIsHandledLikeAFailedRename)
{
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "a"));
    setMoveFileExForTesting(&fakeMove); // both calls "succeed"
    s_reportCalls = 0;
    setReportForTesting(&failingFirstReport);
    EXPECT_EQ(RenameResult::RenameScheduled, renameOffendingFile(L"C:\\Program").result);
    std::vector<Record> records = RecordSink::take();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(L"record failed", records[0].text);
    EXPECT_EQ(WORD(EVENTLOG_ERROR_TYPE), records[0].type);
    EXPECT_EQ(scheduledText(L"C:\\Program", L"C:\\Program1"), records[1].text);

    s_reportCalls = 0;
    setReportForTesting(&failingFirstReportWithoutDescription);
    EXPECT_EQ(RenameResult::RenameScheduled, renameOffendingFile(L"C:\\Program").result);
    records = RecordSink::take();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(L"Unknown exception", records[0].text);
}

TEST_F(Countermeasure, RenameErrorDescriptionFormat)
{
    EXPECT_EQ("rename: unknown error: \"C:\\a\", \"C:\\b\"", renameErrorDescription(0x2000FFFF, L"C:\\a", L"C:\\b"));
    const std::string described = renameErrorDescription(ERROR_SHARING_VIOLATION, L"C:\\a", L"C:\\b");
    EXPECT_EQ(std::string::npos, described.find('\n'));
    EXPECT_EQ(std::string::npos, described.find('\r'));
    const std::wstring expected = renameErrorText(ERROR_SHARING_VIOLATION, L"C:\\a", L"C:\\b");
    EXPECT_EQ(expected, descriptionToWide(described));
    EXPECT_EQ(L"", descriptionToWide(""));
}

TEST_F(Countermeasure, ConcurrentPassesRenameEveryFileOnce)
{
    constexpr int kFiles = 40;
    constexpr int kRounds = 4;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        cleanDriveC();
        s_launcher.clear();
        std::set<std::string> contents;
        for (int i = 0; i < kFiles; ++i) {
            const std::string text = "file " + std::to_string(i);
            ASSERT_TRUE(createFileWithText(L"C:\\Program.e" + std::to_wstring(i), text));
            contents.insert(text);
        }
        HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        int results[2] = {-1, -1};
        std::thread a([&] { WaitForSingleObject(go, 5000); results[0] = checkAllCandidates(); });
        std::thread b([&] { WaitForSingleObject(go, 5000); results[1] = checkAllCandidates(); });
        SetEvent(go);
        a.join();
        b.join();
        CloseHandle(go);
        EXPECT_EQ(0, results[0]);
        EXPECT_EQ(0, results[1]);

        // Every file under a numbered name, once, with its own content.
        std::multiset<std::string> found;
        for (int n = 1; n <= kFiles + 1; ++n) {
            for (int i = 0; i < kFiles; ++i) {
                const std::wstring path = L"C:\\Program" + std::to_wstring(n) + L".e" + std::to_wstring(i);
                if (exists(path)) {
                    found.insert(readFileText(path));
                }
            }
        }
        EXPECT_EQ(std::multiset<std::string>(contents.begin(), contents.end()), found);
        const std::vector<Record> records = RecordSink::take();
        EXPECT_EQ(size_t(kFiles), records.size());
        for (const Record& record : records) {
            EXPECT_EQ(WORD(EVENTLOG_WARNING_TYPE), record.type);
            EXPECT_EQ(0u, record.text.rfind(kRenamedHead, 0)) << "no error, scheduled or failed record";
        }
        // Every one of the forty detached notification threads delivers, once, the notice
        // of a rename done at once.
        const std::vector<Notice> notices = s_launcher.waitForNotices(kFiles, std::chrono::seconds(30));
        EXPECT_EQ(size_t(kFiles), notices.size());
        std::set<std::wstring> noticed;
        for (const Notice& notice : notices) {
            EXPECT_TRUE(noticed.insert(notice.path).second) << "twice: " << notice.path.size();
        }
        for (const Notice& notice : notices) {
            EXPECT_EQ(NoticeKind::ViaSession, notice.kind);
        }
    }
    EXPECT_TRUE(addedOperations(_pendingBefore).empty());
    EXPECT_FALSE(process::g_restartPending.load());
    EXPECT_FALSE(g_fatalGate.held());
}
