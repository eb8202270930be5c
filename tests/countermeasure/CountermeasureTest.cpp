// The check against real files in the prefix's drive C, with its records and notices
// caught by recorders. Every record text is compared in full.
#include "CountermeasureTesting.h"
#include "EventLogSeams.h"
#include "TestPaths.h"
#include "TestProcess.h"
#include "Wait.h"

#include "_model/_service/MessageStrings.h"
#include "_model/_service/Paths.h"
#include "_model/_service/_guard/Countermeasure.h"
#include "_model/_service/_guard/FolderListing.h"
#include "_model/_service/_guard/OffendingEntry.h"
#include "_model/_service/_guard/RenameError.h"
#include "_model/_service/_guard/RestartList.h"
#include "_process/NotificationLaunch.h"
#include "_win32/ReportAppEvent.h"
#include "_win32/UniqueHandle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <system_error>
#include <thread>
#include <tuple>

using namespace brimlock_test;
using namespace tamselsvc::model::service;
namespace process = tamselsvc::process;
using Corvane::Orlin::UniqueHandle;
using Override = Corvane::Orlin::Ports<CountermeasurePorts>::Override;

namespace {

bool startsWith(const std::wstring& text, const std::wstring& head)
{
    return text.compare(0, head.size(), head) == 0;
}
// Stand-ins for the rename through a handle and for MoveFileExW, each call noted.
struct Call {
    std::wstring what; // "handle" or "move"
    std::wstring from, to;
    DWORD flags;
};
std::mutex s_callLock;
std::vector<Call> s_calls;
DWORD s_failNowWith = 0;   // 0: the immediate rename "succeeds" without touching the disk
DWORD s_failLaterWith = 0; // 0: the scheduling "succeeds" without touching the registry

void noteCall(const wchar_t* what, LPCWSTR from, LPCWSTR to, DWORD flags)
{
    std::lock_guard<std::mutex> guard(s_callLock);
    s_calls.push_back({what, from ? from : L"", to ? to : L"<null>", flags});
}

std::wstring renameTarget(LPVOID info)
{
    const FILE_RENAME_INFO* rename = static_cast<const FILE_RENAME_INFO*>(info);
    return std::wstring(rename->FileName, rename->FileNameLength / sizeof(wchar_t));
}

BOOL WINAPI fakeRenameNow(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID info, DWORD)
{
    noteCall(L"handle", L"", renameTarget(info).c_str(), 0);
    if (s_failNowWith) {
        SetLastError(s_failNowWith);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI fakeSchedule(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    noteCall(L"move", from, to, flags);
    if (s_failLaterWith) {
        SetLastError(s_failLaterWith);
        return FALSE;
    }
    return TRUE;
}

// The immediate rename fails with s_failNowWith and the scheduling with s_failLaterWith
// (or "succeeds"), and nothing reaches the disk or the registry.
void fakeRenames(CountermeasurePorts& ports)
{
    ports.setFileInformationByHandle = &fakeRenameNow;
    ports.moveFileEx = &fakeSchedule;
}

// The race the immediate rename must survive: an entry appears under the new name after
// the listing and before the rename (once).
std::atomic<bool> s_raced{false};
BOOL WINAPI racingRename(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID info, DWORD size)
{
    const std::wstring target = renameTarget(info);
    noteCall(L"handle", L"", target.c_str(), 0);
    if (!s_raced.exchange(true)) {
        createFileWithText(target.substr(4), "appeared meanwhile"); // without its "\\??\\"
    }
    return ::SetFileInformationByHandle(file, infoClass, info, size);
}

// A file system without a rename through a handle.
BOOL WINAPI unsupportedRename(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID info, DWORD)
{
    noteCall(L"handle", L"", renameTarget(info).c_str(), 0);
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

// C:\Program becomes a folder between the listing and its open.
std::atomic<int> s_swaps{0};
HANDLE WINAPI swapToFolderThenOpen(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                   DWORD creation, DWORD flags, HANDLE templateFile)
{
    if (std::wstring(path) == L"\\\\?\\C:\\Program" && s_swaps++ == 0) {
        DeleteFileW(L"C:\\Program");
        CreateDirectoryW(L"C:\\Program", nullptr);
        createFileWithText(L"C:\\Program\\keep.txt", "keep");
    }
    return ::CreateFileW(path, access, share, security, creation, flags, templateFile);
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
        {
            std::lock_guard<std::mutex> guard(s_callLock);
            s_calls.clear();
        }
        s_failNowWith = s_failLaterWith = 0;
        process::g_restartPending = false;
        g_fatalGate.release();
        _wow64 = isWow64();
        g_activeCandidates = _wow64 ? &wow64CandidateTable : &nativeCandidateTable;
    }

    void TearDown() override
    {
        NoticeRecorder::releaseFatal();
        RecordSink::uninstall();
        cleanDriveC();
        restorePendingOperations(_pendingBefore);
    }

    std::vector<Call> calls()
    {
        std::lock_guard<std::mutex> guard(s_callLock);
        return s_calls;
    }

    PendingOperations _pendingBefore;
    bool _wow64 = false;
};

} // namespace

TEST_F(Countermeasure, ProgramBecomesProgram1WithOneRecordAndANormalNoticeAndDecoysStay)
{
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "payload")) << GetLastError();
    // As long as the stem, but another name: never a candidate, and no numbered name.
    ASSERT_TRUE(createFileWithText(L"C:\\Progrxm", "decoy"));
    ASSERT_TRUE(createFileWithText(L"C:\\Progrxm.exe", "decoy exe"));
    ASSERT_EQ(0, checkAllCandidates());

    EXPECT_FALSE(exists(L"C:\\Program"));
    EXPECT_EQ("payload", readFileText(L"C:\\Program1"));
    EXPECT_EQ("decoy", readFileText(L"C:\\Progrxm"));
    EXPECT_EQ("decoy exe", readFileText(L"C:\\Progrxm.exe"));
    EXPECT_EQ((std::vector<Record>{{L"The file was renamed as follows.\r\n\r\n\"C:\\Program\" -> \"C:\\Program1\"",
                                    EVENTLOG_WARNING_TYPE, 0}}),
              RecordSink::take());

    // The session notice takes the current switch; the old path, never the new one.
    EXPECT_EQ(std::vector<Notice>{sessionNotice(L"/normal", L"C:\\Program")}, NoticeRecorder::waitForNotices(1));
    EXPECT_TRUE(addedOperations(_pendingBefore).empty());

    // The renamed file is no candidate: a second pass finds nothing.
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_TRUE(RecordSink::take().empty());
    EXPECT_TRUE(exists(L"C:\\Program1"));
    EXPECT_EQ("decoy", readFileText(L"C:\\Progrxm"));
}

// The event log cannot be reached: each record is dropped, and the renames, the scheduling
// and the notices go on as if it had been written.
TEST_F(Countermeasure, AnUnavailableEventSourceDropsTheRecordsAndTheActionsGoOn)
{
    PortsInForce realRecords([](CountermeasurePorts& ports) { ports.report = countermeasurePorts.real().report; });
    RefusedEventSources refused;
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "one"));
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_EQ("one", readFileText(L"C:\\Program1"));
    EXPECT_EQ(1, refused.registrationsTried()) << "one record tried";
    EXPECT_EQ(std::vector<Notice>{sessionNotice(L"/normal", L"C:\\Program")}, NoticeRecorder::waitForNotices(1));

    // A held file: the error record and the scheduling record are both lost, the rename is
    // scheduled all the same and the first restart notice is given.
    NoticeRecorder::clear();
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "two"));
    HeldFile held(L"C:\\Program");
    ASSERT_TRUE(held.held()) << GetLastError();
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_EQ(3, refused.registrationsTried());
    const auto added = addedOperations(_pendingBefore);
    ASSERT_EQ(1u, added.size());
    EXPECT_EQ(L"\\??\\C:\\Program2", added[0].second);
    EXPECT_EQ(std::vector<Notice>{dialogNotice(L"/restart", L"C:\\Program")}, NoticeRecorder::waitForNotices(1));
}

TEST_F(Countermeasure, CaseAndExtensionAreKeptAndNumbersTakenByAnyExtensionAreSkipped)
{
    ASSERT_TRUE(createFileWithText(L"C:\\PROGRAM.EXE", "exe"));
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_EQ("exe", readFileText(L"C:\\PROGRAM1.EXE"));
    EXPECT_EQ(std::vector<std::wstring>{renamedText(L"C:\\PROGRAM.EXE", L"C:\\PROGRAM1.EXE")}, RecordSink::takeTexts());
    cleanDriveC();

    ASSERT_TRUE(createFileWithText(L"C:\\program1.txt", "taken"));
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "mine"));
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_EQ("mine", readFileText(L"C:\\Program2"));
    EXPECT_EQ("taken", readFileText(L"C:\\program1.txt"));
    EXPECT_FALSE(exists(L"C:\\Program"));
    EXPECT_EQ(std::vector<std::wstring>{renamedText(L"C:\\Program", L"C:\\Program2")}, RecordSink::takeTexts());
}

// A planted file is renamed at once while any numbered name is free, whatever holds the
// others: a folder, a file that appears between the listing and the rename. Nothing is
// replaced.
TEST_F(Countermeasure, OccupiedNumbersNeverStopTheRenameAndNothingIsReplaced)
{
    ASSERT_TRUE(CreateDirectoryW(L"C:\\Program1.exe", nullptr)) << GetLastError();
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "offending"));
    s_raced = false;
    {
        PortsInForce racing([](CountermeasurePorts& ports) { ports.setFileInformationByHandle = &racingRename; });
        ASSERT_EQ(0, checkAllCandidates());
    }
    EXPECT_FALSE(exists(L"C:\\Program"));
    EXPECT_EQ("offending", readFileText(L"C:\\Program3"));
    EXPECT_EQ("appeared meanwhile", readFileText(L"C:\\Program2")) << "the rename must not replace it";
    EXPECT_TRUE(isDirectory(L"C:\\Program1.exe"));
    std::vector<Call> seen = calls();
    ASSERT_EQ(2u, seen.size()) << "the folder's number is never tried";
    EXPECT_EQ(L"\\??\\C:\\Program2", seen[0].to);
    EXPECT_EQ(L"\\??\\C:\\Program3", seen[1].to);
    EXPECT_EQ(std::vector<std::wstring>{renamedText(L"C:\\Program", L"C:\\Program3")}, RecordSink::takeTexts());
    EXPECT_TRUE(addedOperations(_pendingBefore).empty());
    EXPECT_EQ(1u, NoticeRecorder::waitForNotices(1).size());

    // Where the system cannot rename through a handle, nothing is done by path (a path could
    // name an entry swapped since the check): the rename waits for the restart.
    ASSERT_TRUE(createFileWithText(L"C:\\Program.dat", "not by path"));
    {
        std::lock_guard<std::mutex> guard(s_callLock);
        s_calls.clear();
    }
    {
        PortsInForce byPath([](CountermeasurePorts& ports) {
            ports.setFileInformationByHandle = &unsupportedRename;
            ports.moveFileEx = &fakeSchedule;
        });
        ASSERT_EQ(0, checkAllCandidates());
    }
    EXPECT_EQ("not by path", readFileText(L"C:\\Program.dat"));
    seen = calls();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(DWORD(MOVEFILE_DELAY_UNTIL_REBOOT), seen[1].flags) << "only the restart's rename";
    EXPECT_EQ(scheduledText(L"C:\\Program.dat", L"C:\\Program4.dat"), RecordSink::takeTexts().at(1));
}

TEST_F(Countermeasure, FoldersAndOtherStemsAreLeftAloneAlsoWhenAFileBecomesAFolder)
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
    EXPECT_TRUE(NoticeRecorder::waitForNotices(0).empty());
    ASSERT_TRUE(RemoveDirectoryW(L"C:\\Program"));

    // Listed as a file, a folder with contents by the time it is opened: left alone.
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "file first"));
    s_swaps = 0;
    {
        PortsInForce swapping([](CountermeasurePorts& ports) { ports.createFile = &swapToFolderThenOpen; });
        ASSERT_EQ(0, checkAllCandidates());
    }
    EXPECT_EQ(1, s_swaps.load()) << "opened once";
    EXPECT_TRUE(isDirectory(L"C:\\Program"));
    EXPECT_EQ("keep", readFileText(L"C:\\Program\\keep.txt"));
    EXPECT_FALSE(exists(L"C:\\Program1"));
    EXPECT_TRUE(RecordSink::take().empty()) << "no rename record for a folder";
    EXPECT_TRUE(addedOperations(_pendingBefore).empty());
    EXPECT_TRUE(NoticeRecorder::waitForNotices(0).empty());
    DeleteFileW(L"C:\\Program\\keep.txt");
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
        EXPECT_EQ(1u, NoticeRecorder::waitForNotices(1).size());
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
    EXPECT_TRUE(NoticeRecorder::waitForNotices(0).empty());
}

namespace {
// Random bytes as the n-th draw of a test gives them: every byte n - 1.
std::atomic<int> s_draws{0};
bool countedBytes(void* bytes, ULONG count)
{
    std::memset(bytes, s_draws++, count);
    return true;
}
ULONGLONG WINAPI elevenMinutesOn()
{
    return GetTickCount64() + 11 * 60 * 1000;
}
} // namespace

// No numbered name can be had (any extension takes a number, and so does a folder): the
// file is renamed at once to a name nobody can take in advance, drawn anew when that one is
// taken. Only a file that cannot be moved to any name is scheduled for deletion, once.
TEST_F(Countermeasure, NoFreeNumberRenamesAtOnceToARandomNameAndOnlyAnUnmovableFileIsDeleted)
{
    for (int n = 1; n <= 100; ++n) {
        const std::wstring name =
            n == 1 ? L"C:\\Program1" : L"C:\\Program" + std::to_wstring(n) + (n % 3 ? L".txt" : L"");
        if (n == 1) {
            ASSERT_TRUE(CreateDirectoryW(name.c_str(), nullptr)) << GetLastError();
        } else {
            ASSERT_TRUE(createFileWithText(name, "n")) << n;
        }
    }
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "victim"));
    ASSERT_TRUE(createFileWithText(L"C:\\Program-0000000000000000", "the first draw"));
    s_draws = 0;
    PortsInForce draws([](CountermeasurePorts& ports) { ports.randomBytes = &countedBytes; });
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_FALSE(exists(L"C:\\Program"));
    EXPECT_EQ("victim", readFileText(L"C:\\Program-0101010101010101"));
    EXPECT_EQ("the first draw", readFileText(L"C:\\Program-0000000000000000"));
    EXPECT_EQ(std::vector<std::wstring>{renamedText(L"C:\\Program", L"C:\\Program-0101010101010101")},
              RecordSink::takeTexts());
    EXPECT_EQ(std::vector<Notice>{sessionNotice(L"/normal", L"C:\\Program")}, NoticeRecorder::waitForNotices(1));
    EXPECT_TRUE(addedOperations(_pendingBefore).empty());

    ASSERT_TRUE(createFileWithText(L"C:\\Program", "unmovable"));
    PortsInForce failing(&fakeRenames);
    s_failNowWith = ERROR_SHARING_VIOLATION;
    for (int pass = 1; pass <= 3; ++pass) {
        ASSERT_EQ(0, checkAllCandidates());
    }
    EXPECT_EQ((std::vector<Record>{{L"The following file will be deleted on restart.\r\n\r\n\"C:\\Program\"",
                                    EVENTLOG_WARNING_TYPE, 0}}),
              RecordSink::take())
        << "recorded once, however many passes find it";
    std::vector<Call> moves = calls();
    moves.erase(std::remove_if(moves.begin(), moves.end(), [](const Call& c) { return c.what != L"move"; }),
                moves.end());
    ASSERT_EQ(1u, moves.size()) << "scheduled once";
    EXPECT_EQ(L"<null>", moves[0].to) << "an empty target is a deletion";
    EXPECT_EQ(DWORD(MOVEFILE_DELAY_UNTIL_REBOOT), moves[0].flags);
    EXPECT_EQ(dialogNotice(L"/restart", L"C:\\Program"), NoticeRecorder::waitForNotices(2).at(1))
        << "the first restart notice of the process, without the gate";
}

// What an ordinary user can do to the numbers and to a scheduled rename never keeps a
// planted file in place, nor floods the log: each row plants, passes, and says what it left.
TEST_F(Countermeasure, HostileNumbersStaleTargetsAndChurnNeverKeepAPlantedFileInPlace)
{
    struct Row {
        const char* what;
        std::function<void(HeldFile*&)> before; // may hold a file (kept until the row ends)
        int passes;
        std::function<void()> between;          // after each pass but the last
        bool renamesFail;                       // every immediate rename fails (access denied)
        std::function<void(const std::vector<Record>&, const std::vector<std::pair<std::wstring, std::wstring>>&)> check;
    };
    std::wstring payload;
    const auto takeNumbers = [](int last) {
        for (int n = 1; n <= last; ++n) {
            CreateDirectoryW((L"C:\\Program" + std::to_wstring(n)).c_str(), nullptr);
        }
    };
    const std::vector<Row> rows = {
        {"a number a held file could not take goes to the next file",
         [&](HeldFile*& held) {
             takeNumbers(99);
             createFileWithText(L"C:\\Program.A", "a");
             createFileWithText(L"C:\\Program.exe", "b");
             // The one the pass meets first is held; the other is the payload.
             const auto listed = listMatchingFiles(L"C:\\", [](const std::wstring& path) {
                 return path == L"C:\\Program.A" || path == L"C:\\Program.exe";
             });
             held = new HeldFile(listed.at(0));
             payload = listed.at(1);
         },
         1, nullptr, false,
         [&](const std::vector<Record>&, const std::vector<std::pair<std::wstring, std::wstring>>&) {
             EXPECT_FALSE(exists(payload));
             EXPECT_TRUE(exists(L"C:\\Program100" + extensionOf(fileNameOf(payload))));
         }},
        {"a scheduled target taken later is scheduled anew to a free name",
         [](HeldFile*& held) {
             createFileWithText(L"C:\\Program.exe", "held");
             held = new HeldFile(L"C:\\Program.exe");
         },
         2, [] { CreateDirectoryW(L"C:\\Program1.exe", nullptr); }, false,
         [](const std::vector<Record>& records, const std::vector<std::pair<std::wstring, std::wstring>>& added) {
             ASSERT_EQ(2u, added.size());
             EXPECT_EQ(L"\\??\\C:\\Program1.exe", added[0].second);
             EXPECT_EQ(L"\\??\\C:\\Program2.exe", added[1].second) << "the boot's rename can still succeed";
             EXPECT_EQ(scheduledText(L"C:\\Program.exe", L"C:\\Program2.exe"), records.back().text);
         }},
        {"a file made anew again and again under a name it cannot leave writes its records once",
         [](HeldFile*&) { createFileWithText(L"C:\\Program.bat", "1"); },
         6,
         [] {
             DeleteFileW(L"C:\\Program.bat");
             createFileWithText(L"C:\\Program.bat", "a new file");
         },
         true,
         [](const std::vector<Record>& records, const std::vector<std::pair<std::wstring, std::wstring>>&) {
             EXPECT_EQ(2u, records.size()) << "the rename error and the scheduled rename, once in ten minutes";
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        cleanDriveC();
        restorePendingOperations(_pendingBefore);
        RecordSink::take();
        HeldFile* held = nullptr;
        row.before(held);
        std::unique_ptr<HeldFile> holding(held);
        std::optional<PortsInForce> failing;
        if (row.renamesFail) {
            failing.emplace(&fakeRenames);
            s_failNowWith = ERROR_ACCESS_DENIED;
        }
        for (int pass = 1; pass <= row.passes; ++pass) {
            ASSERT_EQ(0, checkAllCandidates());
            if (row.between && pass < row.passes) {
                row.between();
            }
        }
        holding.reset();
        failing.reset();
        s_failNowWith = 0;
        row.check(RecordSink::take(), addedOperations(_pendingBefore));
    }
}

// A held file: recorded, scheduled and notified once however many passes find it; an
// identical operation already in the restart list (left by an earlier service process) is
// not added again. A file that a complete listing no longer shows is forgotten: put back
// under the same name ten minutes on, it is a new file, recorded and notified again.
TEST_F(Countermeasure, FileInUseIsRecordedAndScheduledOnceAndRenamedAtRestart)
{
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "held"));
    ASSERT_TRUE(MoveFileExW(L"C:\\Program", L"C:\\Program1", MOVEFILE_DELAY_UNTIL_REBOOT)) << GetLastError();
    ASSERT_EQ(1u, addedOperations(_pendingBefore).size());
    UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, L"brimlock-cm-holder-ready"));
    UniqueHandle quit(CreateEventW(nullptr, TRUE, FALSE, L"brimlock-cm-holder-quit"));
    ASSERT_TRUE(ready && quit);
    ProcessResult holder;
    std::thread holderThread([&] {
        holder = runProcess(quoteArgument(builtProgram(L"file_holder.exe")) +
                                L" C:\\Program brimlock-cm-holder-ready brimlock-cm-holder-quit",
                            90000);
    });
    struct Joiner {
        std::thread& t;
        HANDLE quit;
        ~Joiner() { SetEvent(quit); t.join(); }
    } joiner{holderThread, quit.get()};
    ASSERT_EQ(DWORD(WAIT_OBJECT_0), WaitForSingleObject(ready.get(), 30000)) << "the holder did not open the file";

    for (int pass = 1; pass <= 3; ++pass) {
        ASSERT_EQ(0, checkAllCandidates());
    }
    EXPECT_EQ((std::vector<Record>{
                  {renameErrorText(ERROR_SHARING_VIOLATION, L"C:\\Program", L"C:\\Program1"), EVENTLOG_ERROR_TYPE, 0},
                  {L"The file will be renamed as follows on restart.\r\n\r\n\"C:\\Program\" -> \"C:\\Program1\"",
                   EVENTLOG_WARNING_TYPE, 0}}),
              RecordSink::take())
        << "once, not once per pass";
    EXPECT_TRUE(exists(L"C:\\Program"));
    EXPECT_FALSE(exists(L"C:\\Program1")) << "the scheduled name does not exist before the restart";
    auto added = addedOperations(_pendingBefore);
    ASSERT_EQ(1u, added.size()) << "the identical pair is there already";
    EXPECT_EQ(L"\\??\\C:\\Program", added[0].first);
    EXPECT_EQ(L"\\??\\C:\\Program1", added[0].second);
    const Notice firstRestart = dialogNotice(L"/restart", L"C:\\Program");
    EXPECT_EQ(std::vector<Notice>{firstRestart}, NoticeRecorder::waitForNotices(1)) << "one notice";

    // Gone: a pass forgets it. Back, held again: a new file, with its records and notice.
    SetEvent(quit.get());
    ASSERT_TRUE(waitUntil([&] { return holder.started && holder.finished; }, std::chrono::seconds(30)));
    EXPECT_EQ(0u, holder.exitCode);
    ASSERT_TRUE(DeleteFileW(L"C:\\Program")) << GetLastError();
    ASSERT_EQ(0, checkAllCandidates());
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "held"));
    {
        // Ten minutes on: a new file at a path recorded before is recorded again.
        PortsInForce later([](CountermeasurePorts& ports) { ports.tickCount = &elevenMinutesOn; });
        HeldFile heldAgain(L"C:\\Program");
        ASSERT_TRUE(heldAgain.held());
        ASSERT_EQ(0, checkAllCandidates());
        ASSERT_EQ(0, checkAllCandidates());
    }
    const std::vector<Record> records = RecordSink::take();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(scheduledText(L"C:\\Program", L"C:\\Program1"), records[1].text);
    EXPECT_EQ((std::vector<Notice>{firstRestart, sessionNotice(L"/restart", L"C:\\Program")}),
              NoticeRecorder::waitForNotices(2))
        << "(the gate is free) a later restart notice";
    EXPECT_EQ(1u, addedOperations(_pendingBefore).size());

    ASSERT_TRUE(runWinebootRestart());
    EXPECT_TRUE(waitUntil([] { return exists(L"C:\\Program1"); }, std::chrono::seconds(10)));
    EXPECT_FALSE(exists(L"C:\\Program"));
    EXPECT_EQ("held", readFileText(L"C:\\Program1"));
}

TEST_F(Countermeasure, SchedulingFailureGivesTwoErrorRecordsAndOneFatalDialogAtATime)
{
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "a"));
    ASSERT_TRUE(createFileWithText(L"C:\\Program.txt", "b"));
    PortsInForce failing(&fakeRenames);
    s_failNowWith = ERROR_SHARING_VIOLATION;
    s_failLaterWith = ERROR_ACCESS_DENIED;
    NoticeRecorder::holdFatal(true);

    ASSERT_EQ(0, checkAllCandidates());
    std::vector<Record> records = RecordSink::take();
    ASSERT_EQ(4u, records.size()) << "two records for each of the two files";
    for (size_t i = 0; i < records.size(); i += 2) {
        EXPECT_EQ(WORD(EVENTLOG_ERROR_TYPE), records[i].type);
        EXPECT_EQ(WORD(EVENTLOG_ERROR_TYPE), records[i + 1].type);
        EXPECT_EQ(L"Error code= 5", records[i + 1].text);
    }
    EXPECT_TRUE(records[0].text == renameErrorText(32, L"C:\\Program", L"C:\\Program1") ||
                records[0].text == renameErrorText(32, L"C:\\Program.txt", L"C:\\Program1.txt"))
        << std::string(records[0].text.begin(), records[0].text.end());
    EXPECT_TRUE(exists(L"C:\\Program") && exists(L"C:\\Program.txt"));

    std::vector<Notice> notices = NoticeRecorder::waitForNotices(1);
    ASSERT_EQ(1u, notices.size()) << "one fatal dialog while it is open";
    EXPECT_TRUE(notices[0] == dialogNotice(L"/fatal", L"C:\\Program") ||
                notices[0] == dialogNotice(L"/fatal", L"C:\\Program.txt"))
        << notices[0];
    EXPECT_TRUE(g_fatalGate.held());

    // Later passes try both renames and their scheduling again, and stay silent while the
    // outcome stays the same.
    const size_t callsBefore = calls().size();
    ASSERT_EQ(0, checkAllCandidates());
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_EQ(callsBefore + 8, calls().size()) << "a rename and a scheduling per file and pass";
    EXPECT_TRUE(RecordSink::take().empty());

    // The dialog ends: its thread frees the gate, and a new failing file shows one again.
    NoticeRecorder::releaseFatal();
    ASSERT_TRUE(waitUntil([] { return !g_fatalGate.held(); }, std::chrono::seconds(5)));
    NoticeRecorder::holdFatal(true);
    ASSERT_TRUE(createFileWithText(L"C:\\Program.new", "c"));
    ASSERT_EQ(0, checkAllCandidates());
    records = RecordSink::take();
    ASSERT_EQ(2u, records.size()) << "only the new file's";
    EXPECT_TRUE(startsWith(records[0].text, L"rename: " + systemMessageW(32) + L": \"C:\\Program.new\", \"C:\\Program"))
        << "the numbers the other two took in this pass are not used again";
    notices = NoticeRecorder::waitForNotices(2);
    ASSERT_EQ(2u, notices.size());
    EXPECT_EQ(dialogNotice(L"/fatal", L"C:\\Program.new"), notices[1]);
    EXPECT_TRUE(addedOperations(_pendingBefore).empty());
    EXPECT_FALSE(process::g_restartPending.load()) << "nothing was scheduled";

    // The scheduling works again: a new outcome for the same files, recorded and notified
    // (their rename errors were recorded within ten minutes).
    s_failLaterWith = 0;
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_EQ(3u, RecordSink::take().size()) << "the scheduled rename of each file";
}

TEST_F(Countermeasure, FatalGateIsReleasedWhenItsThreadCannotStart)
{
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "a"));
    PortsInForce failing(&fakeRenames);
    s_failNowWith = ERROR_SHARING_VIOLATION;
    s_failLaterWith = ERROR_ACCESS_DENIED;
    {
        PortsInForce noThreads([](CountermeasurePorts& ports) { ports.startThread = &failingThreadStart; });
        EXPECT_EQ(0, checkAllCandidates()) << "a notice that cannot start does not end the pass";
    }
    EXPECT_EQ(2u, RecordSink::take().size()) << "the file's records come before the notice";
    EXPECT_FALSE(g_fatalGate.held()) << "no thread is left to release it";

    // The notice was not given: the next pass gives it, without recording the file again.
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_TRUE(RecordSink::take().empty());
    const std::vector<Notice> notices = NoticeRecorder::waitForNotices(1);
    ASSERT_EQ(1u, notices.size());
    EXPECT_EQ(L"/fatal", notices[0].noticeSwitch);
    EXPECT_TRUE(waitUntil([] { return !g_fatalGate.held(); }, std::chrono::seconds(5)));
}

TEST_F(Countermeasure, RestartNoticesAfterTheFirstOnlyTestTheLaunchGate)
{
    PortsInForce failing(&fakeRenames);
    s_failNowWith = ERROR_SHARING_VIOLATION; // scheduling "succeeds" (fake)

    // The first notice ignores a held gate.
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "a"));
    process::g_launchGate.lock();
    ASSERT_EQ(0, checkAllCandidates());
    const Notice first = dialogNotice(L"/restart", L"C:\\Program");
    EXPECT_EQ(std::vector<Notice>{first}, NoticeRecorder::waitForNotices(1));

    // Later ones are not given while the gate is held ...
    ASSERT_TRUE(createFileWithText(L"C:\\Program.b", "b"));
    ASSERT_EQ(0, checkAllCandidates());
    EXPECT_EQ(1u, NoticeRecorder::waitForNotices(1).size());
    process::g_launchGate.unlock();

    // ... but stay due, and are given through the session once it is free; the pass leaves
    // the gate free.
    ASSERT_TRUE(createFileWithText(L"C:\\Program.c", "c"));
    ASSERT_EQ(0, checkAllCandidates());
    std::vector<Notice> notices = NoticeRecorder::waitForNotices(3);
    ASSERT_EQ(3u, notices.size());
    EXPECT_EQ(first, notices[0]);
    std::sort(notices.begin() + 1, notices.end(), [](const Notice& a, const Notice& b) { return a.path < b.path; });
    EXPECT_EQ(sessionNotice(L"/restart", L"C:\\Program.b"), notices[1]);
    EXPECT_EQ(sessionNotice(L"/restart", L"C:\\Program.c"), notices[2]);
    EXPECT_TRUE(process::g_launchGate.try_lock());
    process::g_launchGate.unlock();

    const auto records = RecordSink::take();
    ASSERT_EQ(6u, records.size()) << "each file once";
    EXPECT_TRUE(startsWith(records[5].text, kScheduledHead + L"\"C:\\Program.c\" -> \"C:\\Program"));
}

namespace {
void raisingReport(const std::wstring&, WORD, DWORD)
{
    throw std::runtime_error("record failed");
}
} // namespace

// The file has moved: a record that raises afterwards changes nothing of that (no
// scheduled rename of a file that is no longer there, no restart notice).
TEST_F(Countermeasure, ARecordThatRaisesAfterARenameLeavesItARename)
{
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "a"));
    {
        PortsInForce raising([](CountermeasurePorts& ports) { ports.report = &raisingReport; });
        EXPECT_EQ(0, checkAllCandidates());
    }
    EXPECT_EQ("a", readFileText(L"C:\\Program1"));
    EXPECT_FALSE(exists(L"C:\\Program"));
    EXPECT_TRUE(addedOperations(_pendingBefore).empty());
    EXPECT_EQ(std::vector<Notice>{sessionNotice(L"/normal", L"C:\\Program")}, NoticeRecorder::waitForNotices(1));
    EXPECT_FALSE(process::g_restartPending.load());

    ASSERT_TRUE(createFileWithText(L"C:\\Program", "b"));
    {
        PortsInForce raising([](CountermeasurePorts& ports) { ports.report = &raisingReport; });
        EXPECT_EQ(RenameResult::Renamed, renameOffendingFile(L"C:\\Program").result);
    }
    EXPECT_EQ("b", readFileText(L"C:\\Program2"));
}

namespace {
std::atomic<ULONG> s_openOptions{0};
NTSTATUS NTAPI notedNtCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                 PIO_STATUS_BLOCK status, PLARGE_INTEGER size, ULONG fileAttributes, ULONG share,
                                 ULONG disposition, ULONG options, PVOID ea, ULONG eaLength)
{
    s_openOptions = options;
    return countermeasurePorts.real().ntCreateFile(handle, access, attributes, status, size, fileAttributes, share,
                                                   disposition, options, ea, eaLength);
}
} // namespace

// The open completes at once when another program holds an opportunistic lock on the file,
// so a lock whose break is never acknowledged cannot stall the pass (and every watcher and
// the stop behind it).
TEST_F(Countermeasure, AnOffendingEntryIsOpenedSoThatAnOplockCannotStallThePass)
{
    ASSERT_TRUE(createFileWithText(L"C:\\Program", "p"));
    s_openOptions = 0;
    {
        PortsInForce noted([](CountermeasurePorts& ports) { ports.ntCreateFile = &notedNtCreateFile; });
        ASSERT_EQ(0, checkAllCandidates());
    }
    EXPECT_EQ(kCompleteIfOplocked, s_openOptions.load() & kCompleteIfOplocked);
    EXPECT_EQ("p", readFileText(L"C:\\Program1"));
}

TEST_F(Countermeasure, RenameErrorDescriptionKeepsEveryCharacterOfTheNames)
{
    EXPECT_EQ(L"rename: unknown error: \"C:\\a\", \"C:\\b\"", renameErrorDescription(0x2000FFFF, L"C:\\a", L"C:\\b"));
    const std::wstring described = renameErrorDescription(ERROR_SHARING_VIOLATION, L"C:\\a", L"C:\\b");
    EXPECT_EQ(std::wstring::npos, described.find(L'\n'));
    EXPECT_EQ(std::wstring::npos, described.find(L'\r'));
    EXPECT_EQ(renameErrorText(ERROR_SHARING_VIOLATION, L"C:\\a", L"C:\\b"), described);

    // A held C:\Program.日本 (outside the ANSI code page): its record names it as it is.
    const std::wstring japanese = L"C:\\Program.\x65E5\x672C";
    ASSERT_TRUE(createFileWithText(japanese, "j"));
    HeldFile held(japanese);
    ASSERT_TRUE(held.held());
    EXPECT_EQ(RenameResult::RenameScheduled, renameOffendingFile(japanese).result);
    const std::vector<Record> records = RecordSink::take();
    ASSERT_EQ(2u, records.size());
    const std::wstring renamed = L"C:\\Program1.\x65E5\x672C";
    EXPECT_EQ(renameErrorText(ERROR_SHARING_VIOLATION, japanese, renamed), records[0].text);
    EXPECT_EQ(scheduledText(japanese, renamed), records[1].text);
    const auto added = addedOperations(_pendingBefore);
    ASSERT_EQ(1u, added.size());
    EXPECT_EQ(L"\\??\\C:\\Program1.\x65E5\x672C", added[0].second);
}

// What the restart list counts as "there already": the same source and target in NT form,
// with or without the "!" of a replacing rename; a deletion only as a deletion.
TEST(RestartList, AnOperationIsThereOnlyWhenSourceAndTargetAreTheSame)
{
    EXPECT_EQ(L"\\\\?\\C:\\Program.", extendedPathOf(L"C:\\Program."));
    EXPECT_EQ(L"\\??\\C:\\Program.", ntPathOf(L"C:\\Program."));
    EXPECT_EQ(L"\\\\?\\UNC\\server\\share\\Program", extendedPathOf(L"\\\\server\\share/Program"));
    EXPECT_EQ(L"\\??\\UNC\\server\\share\\Program", ntPathOf(L"\\\\server\\share\\Program"));
    EXPECT_EQ(L"\\\\?\\C:\\x", extendedPathOf(L"\\\\?\\C:\\x")) << "already extended";

    // As the value holds them: pairs, then the list's own empty string.
    const auto operations = restartOperations({L"\\??\\C:\\a", L"!\\??\\C:\\a1", L"\\??\\C:\\b", L"", L""});
    ASSERT_EQ(2u, operations.size());
    EXPECT_TRUE(holdsRestartOperation(operations, L"\\??\\C:\\a", L"\\??\\C:\\a1")) << "a replacing rename";
    EXPECT_FALSE(holdsRestartOperation(operations, L"\\??\\C:\\a", L"\\??\\C:\\a2"));
    EXPECT_FALSE(holdsRestartOperation(operations, L"\\??\\C:\\a", L"")) << "a rename is no deletion";
    EXPECT_TRUE(holdsRestartOperation(operations, L"\\??\\C:\\b", L""));
    EXPECT_FALSE(holdsRestartOperation(operations, L"\\??\\C:\\b", L"\\??\\C:\\b1"));
    EXPECT_TRUE(holdsRestartOperation(operations, L"\\??\\C:\\B", L"")) << "names compare without regard to case";
    EXPECT_TRUE(holdsRestartOperation(restartOperations({L"\\??\\C:\\\u00e9", L"\\??\\C:\\\u00e91"}),
                                      L"\\??\\C:\\\u00c9", L"\\??\\C:\\\u00c91"))
        << "beyond A to Z, as Windows folds them";
}

namespace {
HANDLE s_stopAfterThird = nullptr;
std::atomic<int> s_recordsBeforeStop{0};
void stopAfterThirdRecord(const std::wstring& text, WORD type, DWORD id)
{
    RecordSink::report(text, type, id);
    if (++s_recordsBeforeStop == 3) {
        SetEvent(s_stopAfterThird);
    }
}
} // namespace

// A stop asked during a pass ends it before its next file; the file being renamed when it
// came is renamed in full.
TEST_F(Countermeasure, AStopEndsThePassBeforeItsNextFile)
{
    constexpr int kFiles = 30;
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_TRUE(createFileWithText(L"C:\\Program.s" + std::to_wstring(i), "s"));
    }
    UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    s_stopAfterThird = stop.get();
    s_recordsBeforeStop = 0;
    {
        PortsInForce stopping([](CountermeasurePorts& ports) { ports.report = &stopAfterThirdRecord; });
        EXPECT_EQ(0, checkAllCandidates(stop.get()));
    }
    const std::vector<Record> records = RecordSink::take();
    ASSERT_EQ(3u, records.size());
    for (const Record& record : records) {
        EXPECT_TRUE(startsWith(record.text, kRenamedHead));
    }
    int renamed = 0;
    for (int i = 0; i < kFiles; ++i) {
        renamed += exists(L"C:\\Program.s" + std::to_wstring(i)) ? 0 : 1;
    }
    EXPECT_EQ(3, renamed) << "the files after the stop are left for the next pass";
    EXPECT_EQ(3u, NoticeRecorder::waitForNotices(3).size());

    // Asked before the pass: nothing is done. Without it: the rest.
    EXPECT_EQ(0, checkAllCandidates(stop.get()));
    EXPECT_TRUE(RecordSink::take().empty());
    EXPECT_EQ(0, checkAllCandidates());
    EXPECT_EQ(size_t(kFiles - 3), RecordSink::take().size());
    EXPECT_TRUE(addedOperations(_pendingBefore).empty());
}

TEST_F(Countermeasure, ConcurrentPassesRenameEveryFileOnce)

{
    constexpr int kFiles = 40;
    constexpr int kRounds = 4;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        cleanDriveC();
        NoticeRecorder::clear();
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
        const std::vector<Notice> notices = NoticeRecorder::waitForNotices(kFiles, std::chrono::seconds(30));
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
