// The service end to end under Wine's service control manager, installed in the product
// folder of a fresh 32-bit or 64-bit Windows: what it does to files planted before and
// after its start, the records it writes, the dialog it starts, and how it stops.
#include "DbwinListener.h"
#include "InstalledServiceTest.h"
#include "MessageBoxProbe.h"
#include "ProgramFilesOverride.h"
#include "TestPaths.h"
#include "TestProcess.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::chrono_literals;
using namespace brimlock_test;

using EndToEnd = InstalledServiceTest;

TEST_F(EndToEnd, FilesPresentAtStartAndPlantedLaterAreRenamedAndRecorded)
{
    InstalledService installed(L"launch_standin_dialog.exe");
    ASSERT_TRUE(installed.ok()) << installed.error();
    const std::wstring maker = makerFolder();
    ASSERT_TRUE(createFile(L"C:\\Program"));

    startService(installed);
    // The first check handles what was there before the start.
    EXPECT_TRUE(waitUntil([] { return fileExists(L"C:\\Program1"); }, 5s));
    EXPECT_FALSE(fileExists(L"C:\\Program"));
    EXPECT_TRUE(log.waitFor(renamedRecord(L"C:\\Program", L"C:\\Program1"), 5000)) << log.fresh();

    // Files planted while it runs are renamed about a second later. (The watchers read
    // during the first check, so its own rename is a change too: the pass it starts a
    // second later comes first.)
    Sleep(1500);
    const DWORD planted = GetTickCount();
    ASSERT_TRUE(createFile(L"C:\\Program"));
    ASSERT_TRUE(createFile(maker + L"\\Quarrow"));
    ASSERT_TRUE(createFile(maker + L"\\Quarrox")); // as long as the stem, another name: stays
    EXPECT_TRUE(waitUntil([&] { return fileExists(L"C:\\Program2") && fileExists(maker + L"\\Quarrow1"); }, 10s));
    const DWORD took = GetTickCount() - planted;
    EXPECT_GE(took, 900u) << "a pass follows a change after one second's pause";
    EXPECT_LT(took, 5000u);
    EXPECT_FALSE(fileExists(L"C:\\Program"));
    EXPECT_FALSE(fileExists(maker + L"\\Quarrow"));
    EXPECT_TRUE(fileExists(maker + L"\\Quarrox"));
    EXPECT_FALSE(fileExists(maker + L"\\Quarrox1"));
    EXPECT_TRUE(log.waitFor(renamedRecord(L"C:\\Program", L"C:\\Program2"), 5000));
    EXPECT_TRUE(log.waitFor(renamedRecord(maker + L"\\Quarrow", maker + L"\\Quarrow1"), 5000));

    // "C:\Program Files" is a candidate on 64-bit Windows only.
    ASSERT_TRUE(createFile(L"C:\\Program Files.txt"));
    if (isWow64()) {
        EXPECT_TRUE(waitUntil([] { return fileExists(L"C:\\Program Files1.txt"); }, 10s));
        EXPECT_TRUE(log.waitFor(renamedRecord(L"C:\\Program Files.txt", L"C:\\Program Files1.txt"), 5000));
    } else {
        Sleep(2500);
        EXPECT_TRUE(fileExists(L"C:\\Program Files.txt"));
        EXPECT_FALSE(fileExists(L"C:\\Program Files1.txt"));
    }

    SERVICE_STATUS_PROCESS final{};
    EXPECT_LT(stopService(installed, &final), 2000u);
    EXPECT_EQ(0u, final.dwWin32ExitCode);
    EXPECT_EQ(0u, final.dwServiceSpecificExitCode);
}

TEST_F(EndToEnd, FileHeldOpenIsScheduledAndTheDialogGetsTheExactCommandLine)
{
    InstalledService installed(L"launch_standin_dialog.exe");
    ASSERT_TRUE(installed.ok()) << installed.error();
    ASSERT_TRUE(createFile(L"C:\\Program"));
    // Held without delete sharing: the rename fails now and is scheduled for the restart.
    HeldFile held(L"C:\\Program");
    ASSERT_TRUE(held.held()) << GetLastError();

    startService(installed);
    EXPECT_TRUE(log.waitFor(scheduledRecord(L"C:\\Program", L"C:\\Program1"), 10000)) << log.fresh();
    ASSERT_TRUE(waitUntil([] { return !standInCommandLines().empty(); }, 10s));
    EXPECT_EQ(L"\"" + productFolder() + L"\\brimlockdlg.exe\" /restart \"C:\\Program\"", standInCommandLines().at(0));
    const auto pending = readPendingOperations().entries;
    ASSERT_GE(pending.size(), 2u);
    EXPECT_EQ(L"\\??\\C:\\Program", pending[0]);
    EXPECT_EQ(L"\\??\\C:\\Program1", pending[1]) << "scheduled without replacing: no \"!\" in front";

    held.release();
    stopService(installed);
}

TEST_F(EndToEnd, RealDialogShowsTheRestartNoticeForTheOldPath)
{
    InstalledService installed;
    ASSERT_TRUE(installed.ok()) << installed.error();
    ASSERT_TRUE(createFile(L"C:\\Program"));
    HeldFile held(L"C:\\Program");
    ASSERT_TRUE(held.held()) << GetLastError();
    startService(installed);

    DWORD dialog = 0;
    ASSERT_TRUE(waitUntil([&] { return (dialog = findProcessByImagePath(installedDialogPath())) != 0; }, 10s));
    const HWND box = waitForDialogWindow(dialog, 10000);
    ASSERT_NE(nullptr, box) << "no message box";
    const MessageBoxView view = readMessageBox(box);
    EXPECT_EQ(L"Information from Corvane", view.caption);
    EXPECT_NE(std::wstring::npos, view.text.find(L"\r\n\"C:\\Program\"\r\n")) << toUtf8(view.text);
    EXPECT_NE(std::wstring::npos, view.text.find(L"Please restart now to complete the process.")) << toUtf8(view.text);
    EXPECT_TRUE(pressReturn(box));
    EXPECT_TRUE(waitUntil([] { return findProcessByImagePath(installedDialogPath()) == 0; }, 10s));
    held.release();
    stopService(installed);

    // The clean-up after a test ends the installed copy's dialogs only: the built program,
    // which the dialog tests start in the same prefix meanwhile, goes on showing.
    const std::wstring line = L" /normal C:\\Program";
    const StartedProcess installedCopy = startProcess(quoteArgument(installedDialogPath()) + line);
    const StartedProcess builtCopy = startProcess(quoteArgument(builtProgram(L"brimlockdlg.exe")) + line);
    ASSERT_NE(nullptr, waitForDialogWindow(installedCopy.processId, 10000));
    ASSERT_NE(nullptr, waitForDialogWindow(builtCopy.processId, 10000));
    endProcesses(installedDialogPath());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(installedCopy.process.get(), 5000));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(builtCopy.process.get(), 0)) << "another copy was ended";
    TerminateProcess(builtCopy.process.get(), 0xDEAD);
}

TEST_F(EndToEnd, StopDuringTheFirstCheckEndsWithinTwoSeconds)
{
    InstalledService installed(L"launch_standin_dialog.exe");
    ASSERT_TRUE(installed.ok()) << installed.error();
    // Enough entries in the watched folders that the first check is still running when
    // the stop arrives.
    const std::wstring maker = makerFolder();
    for (int i = 0; i < 2000; ++i) {
        createFile(maker + L"\\unrelated-" + std::to_wstring(i) + L".dat");
    }
    ASSERT_TRUE(createFile(L"C:\\Program"));
    startService(installed);
    SERVICE_STATUS_PROCESS final{};
    const DWORD took = stopService(installed, &final);
    EXPECT_LT(took, 2000u);
    EXPECT_EQ(0u, final.dwWin32ExitCode);
    // The stop ends the first check before its next file: C:\Program is renamed in full or
    // left as it was, never cut short into a scheduled rename.
    EXPECT_NE(fileExists(L"C:\\Program1"), fileExists(L"C:\\Program"));
    EXPECT_TRUE(readPendingOperations().entries.empty());
}

TEST_F(EndToEnd, SwitchesTurnOnDiagnosticLinesAndTheServicesOwnRecords)
{
    DbwinListener listener;
    ASSERT_TRUE(listener.start());
    InstalledService installed(L"launch_standin_dialog.exe");
    ASSERT_TRUE(installed.ok()) << installed.error();

    // Both switches missing: no diagnostic line, no record of the service's own.
    startService(installed);
    stopService(installed);
    Sleep(300);
    EXPECT_TRUE(listener.linesOf(pid).empty());
    EXPECT_EQ(0u, log.count("Error ReadDirectoryChangesW"));

    ASSERT_TRUE(setServiceSwitch(L"ShouldOutputToDebugView", true));
    ASSERT_TRUE(setServiceSwitch(L"ShouldOutputToEventlog", true));
    log.mark();
    startService(installed);
    stopService(installed);
    ASSERT_TRUE(listener.waitForText(pid, "CheckPoint 1, waiting 10000 sec...", 5s));
    const auto lines = listener.linesOf(pid);
    char head[32];
    std::snprintf(head, sizeof head, "%lu:[Tamsel] ", pid);
    bool sawStop = false;
    for (const auto& line : lines) {
        EXPECT_EQ(0u, line.find(head)) << line;
        EXPECT_EQ('\n', line.back()) << line;
        sawStop = sawStop || line.find(" SERVICE_CONTROL_STOP\n\n") != std::string::npos;
    }
    EXPECT_TRUE(sawStop);
    // One record per watcher at the stop, stored unformatted.
    EXPECT_TRUE(log.waitFor("trace:eventlog:ReportEventW L\"Error ReadDirectoryChangesW (%d)\\n\"", 5000)) << log.fresh();
    EXPECT_EQ(2u, log.count("ReportEventW L\"Error ReadDirectoryChangesW (%d)\\n\""));
}

TEST_F(EndToEnd, RunByHandEndsWithExitCodeZeroWhateverItsArguments)
{
    for (const wchar_t* arguments : {L"", L" /install", L" tamselsvc --debug \"C:\\Program Files\""}) {
        const auto result =
            runProcess(quoteArgument(builtProgram(L"brimlock.exe")) + arguments, 30000);
        ASSERT_TRUE(result.started);
        EXPECT_TRUE(result.finished);
        EXPECT_EQ(0u, result.exitCode);
    }
}

TEST_F(EndToEnd, ProgramFolderOnDriveDRefusesTheStartWith1066AndCode2)
{
    InstalledService installed(L"launch_standin_dialog.exe");
    ASSERT_TRUE(installed.ok()) << installed.error();
    ProgramFilesOverride programFiles;
    ASSERT_TRUE(programFiles.mapDriveD());
    ASSERT_EQ(ERROR_SUCCESS, programFiles.setProgramFilesX86(L"D:\\Program Files (x86)"));
    ASSERT_TRUE(createFile(L"C:\\Program"));

    // Wine's StartService fails with 1053 when the first status the service reports is
    // already "stopped"; Windows lets it succeed. Either way the entry shows the refusal.
    if (!installed.scm().start()) {
        EXPECT_EQ(DWORD(ERROR_SERVICE_REQUEST_TIMEOUT), GetLastError());
    }
    ASSERT_TRUE(installed.scm().waitForState(SERVICE_STOPPED, 15000));
    std::string output;
    ASSERT_EQ(0u, runSc(L"query tamselsvc", &output));
    EXPECT_NE(std::string::npos, output.find("1066")) << output;
    const SERVICE_STATUS_PROCESS status = installed.scm().query();
    EXPECT_EQ(DWORD(ERROR_SERVICE_SPECIFIC_ERROR), status.dwWin32ExitCode);
    EXPECT_EQ(2u, status.dwServiceSpecificExitCode);
    Sleep(1500);
    EXPECT_TRUE(fileExists(L"C:\\Program")) << "no folder is checked when the start is refused";
}

// With ShouldGuardUnquotedPaths, a program planted in front of another maker's unquoted
// service is moved about a second later, and that service then starts its own program (the
// stand-in, which notes each start in its folder and ends at once there).
TEST_F(EndToEnd, ProgramPlantedInFrontOfAnotherServiceIsMovedAndThatServiceStartsItsOwn)
{
    const std::wstring folder = L"C:\\Acme Tools", standIn = builtProgram(L"launch_standin_dialog.exe");
    struct Cleanup {
        ~Cleanup()
        {
            runSc(L"delete acme-agent");
            setServiceSwitch(L"ShouldGuardUnquotedPaths", false);
            deleteFilesMatching(L"C:\\Acme Tools", L"*");
            RemoveDirectoryW(L"C:\\Acme Tools");
            deleteFilesMatching(L"C:", L"Acme*");
        }
    } cleanup;
    ASSERT_TRUE(setServiceSwitch(L"ShouldGuardUnquotedPaths", true));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) && createFile(folder + L"\\release"));
    ASSERT_TRUE(CopyFileW(standIn.c_str(), (folder + L"\\agent.exe").c_str(), FALSE));
    ASSERT_EQ(0u, runSc(L"create acme-agent binPath= \"" + folder + L"\\agent.exe -k\" type= own start= demand"));
    InstalledService installed(L"launch_standin_dialog.exe");
    ASSERT_TRUE(installed.ok()) << installed.error();
    startService(installed);
    Sleep(1500);

    ASSERT_TRUE(CopyFileW(standIn.c_str(), L"C:\\Acme.exe", FALSE));
    EXPECT_TRUE(waitUntil([] { return fileExists(L"C:\\Acme1.exe") && !fileExists(L"C:\\Acme.exe"); }, 10s));
    TestService agent(L"acme-agent");
    agent.start(); // the stand-in is no service: what counts is which program started
    EXPECT_TRUE(waitUntil([&] { return !readStandInRecords(folder, L"started-").empty(); }, 10s));
    EXPECT_TRUE(readStandInRecords(L"C:", L"started-").empty()) << "nothing started in front of it";
    stopService(installed);
}
