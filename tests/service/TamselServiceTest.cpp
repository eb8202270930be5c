// The service object: its control table, the logon replay of a deferred notice, and the
// service's work on the worker thread.
#include "CountermeasureTesting.h"
#include "DbwinListener.h"
#include "StandInDialogFolder.h"
#include "TestPaths.h"
#include "Wait.h"

#include "_model/_service/CandidateTable.h"
#include "_model/_service/LogonReplay.h"
#include "_model/_service/SelfStop.h"
#include "_model/_service/ServicePaths.h"
#include "_model/_service/StartCheck.h"
#include "_model/_service/TamselService.h"
#include "_model/_service/_guard/Countermeasure.h"
#include "_model/_service/_guard/DirectoryWatcher.h"
#include "_process/NotificationLaunch.h"
#include "_win32/LogDebug.h"

#include <gtest/gtest.h>

#include <wtsapi32.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

using namespace std::chrono_literals;
using tamselsvc::model::service::TamselService;
namespace model = tamselsvc::model::service;
namespace launch = tamselsvc::process;

namespace {

SERVICE_STATUS runningStatus()
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_RUNNING;
    status.dwControlsAccepted = 0x5C1;
    status.dwCheckPoint = 7;
    status.dwWaitHint = 5;
    return status;
}

bool sameStatus(const SERVICE_STATUS& a, const SERVICE_STATUS& b)
{
    return memcmp(&a, &b, sizeof a) == 0;
}

struct ControlCase {
    DWORD control;
    DWORD eventType;
    const char* line; // nullptr: no diagnostic line
    DWORD result;
    DWORD stateAfter;  // 0: unchanged
};

} // namespace

TEST(TamselService, AcceptsItsControlsAndAlwaysNamesItselfTamselsvc)
{
    auto service = std::make_shared<TamselService>(L"tamselsvc");
    EXPECT_EQ(0x5C1u, service->GetControlsAccepted());
    EXPECT_EQ(DWORD(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_POWEREVENT | SERVICE_ACCEPT_SESSIONCHANGE |
                    SERVICE_ACCEPT_PRESHUTDOWN | SERVICE_ACCEPT_TRIGGEREVENT),
              service->GetControlsAccepted());
    wchar_t other[] = L"othername";
    wchar_t extra[] = L"/install";
    LPWSTR argv[] = {other, extra};
    EXPECT_EQ(L"tamselsvc", service->GenerateName(2, argv));
    EXPECT_EQ(L"tamselsvc", service->GenerateName(0, nullptr));
}

TEST(TamselService, HandleControlFollowsItsTableWithOneDiagnosticLinePerKnownControl)
{
    brimlock_test::DbwinListener listener;
    ASSERT_TRUE(listener.start());
    Corvane::Orlin::g_outputToDebugView = true;
    auto service = std::make_shared<TamselService>(L"tamselsvc");

    const ControlCase cases[] = {
        {SERVICE_CONTROL_INTERROGATE, 0, "SERVICE_CONTROL_INTERROGATE\n", NO_ERROR, 0},
        {SERVICE_CONTROL_DEVICEEVENT, 0x8000, "SERVICE_CONTROL_DEVICEEVENT\n", NO_ERROR, 0},
        {SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_UNLOCK, "SERVICE_CONTROL_SESSIONCHANGE\n", NO_ERROR, 0},
        {SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMESUSPEND, nullptr, ERROR_CALL_NOT_IMPLEMENTED, 0},
        {32 /* SERVICE_CONTROL_TRIGGEREVENT */, 0, nullptr, ERROR_CALL_NOT_IMPLEMENTED, 0},
        {200, 0, nullptr, ERROR_CALL_NOT_IMPLEMENTED, 0},
        {SERVICE_CONTROL_PAUSE, 0, "SERVICE_CONTROL_PAUSE\n", NO_ERROR, SERVICE_PAUSED},
        {SERVICE_CONTROL_STOP, 0, "SERVICE_CONTROL_STOP\n", NO_ERROR, SERVICE_STOP_PENDING},
        {SERVICE_CONTROL_PRESHUTDOWN, 0, "SERVICE_CONTROL_PRESHUTDOWN\n", NO_ERROR, SERVICE_STOP_PENDING},
    };
    std::vector<std::string> expectedLines;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control);
        SERVICE_STATUS status = runningStatus();
        EXPECT_EQ(c.result, service->HandleControl(c.control, c.eventType, nullptr, status));
        if (c.stateAfter == 0) {
            EXPECT_TRUE(sameStatus(runningStatus(), status)) << "the status is left alone";
        } else {
            EXPECT_EQ(c.stateAfter, status.dwCurrentState);
            if (c.stateAfter == SERVICE_STOP_PENDING) {
                EXPECT_EQ(0u, status.dwCheckPoint);
                EXPECT_EQ(0u, status.dwWaitHint);
            }
        }
        if (c.line) {
            expectedLines.push_back(c.line);
        }
    }
    Corvane::Orlin::LogDebugA("--end--");
    ASSERT_TRUE(listener.waitForText(GetCurrentProcessId(), "--end--", 5s));
    Corvane::Orlin::g_outputToDebugView = false;

    std::vector<std::string> seen;
    for (const auto& line : listener.linesOf(GetCurrentProcessId())) {
        if (line.find("--end--") == std::string::npos) {
            // "<pid>:[Tamsel] YYYY/MM/DD hh:mm:ss <message>": the message starts 20 after "] ".
            seen.push_back(line.substr(line.find("] ") + 2 + 20));
        }
    }
    std::vector<std::string> expected;
    for (const auto& l : expectedLines) {
        expected.push_back(l + "\n"); // the message's own line feed, then the line's
    }
    EXPECT_EQ(expected, seen);
}

namespace {

// Resets the shared notification state around each logon test.
class LogonReplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dialogs.ready());
        launch::g_serviceDirectory = dialogs.path();
        launch::g_restartPending = false;
        launch::takePendingNoticeFile();
        service = std::make_shared<TamselService>(L"tamselsvc");
    }
    void TearDown() override
    {
        dialogs.release();
        launch::g_restartPending = false;
        launch::takePendingNoticeFile();
        // Wait until every replay's dialog has ended, so the gate is free for the next test.
        dialogs.waitAllEnded(5s);
        brimlock_test::waitUntil([] {
            if (!launch::g_launchGate.try_lock()) {
                return false;
            }
            launch::g_launchGate.unlock();
            return true;
        }, 5s);
    }

    DWORD logon()
    {
        SERVICE_STATUS status = runningStatus();
        return service->HandleControl(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, nullptr, status);
    }

    brimlock_test::StandInDialogFolder dialogs{L"logon"};
    std::shared_ptr<TamselService> service;
};

} // namespace

TEST_F(LogonReplayTest, LogonShowsTheDeferredNoticeOnceAndStopIsAnsweredWhileItIsOpen)
{
    launch::deferNotice(L"C:\\Program");
    const DWORD start = GetTickCount();
    EXPECT_EQ(DWORD(NO_ERROR), logon());
    EXPECT_LT(GetTickCount() - start, 1000u) << "the control handler does not wait for the dialog";
    ASSERT_TRUE(brimlock_test::waitUntil([&] { return dialogs.startedCommandLines().size() == 1; }, 10s));
    EXPECT_EQ(dialogs.commandLineFor(L"/normal", L"C:\\Program"), dialogs.startedCommandLines()[0]);
    EXPECT_EQ(L"", launch::pendingNoticeFile());
    EXPECT_TRUE(launch::noticePending()) << "the flag stays set";

    // The dialog is still open: a stop is answered at once.
    SERVICE_STATUS status = runningStatus();
    const DWORD stopAt = GetTickCount();
    EXPECT_EQ(DWORD(NO_ERROR), service->HandleControl(SERVICE_CONTROL_STOP, 0, nullptr, status));
    EXPECT_LT(GetTickCount() - stopAt, 500u);
    EXPECT_EQ(DWORD(SERVICE_STOP_PENDING), status.dwCurrentState);
    EXPECT_EQ(0u, dialogs.endedCount()) << "the dialog was still open during the stop";

    dialogs.release();
    ASSERT_TRUE(brimlock_test::waitUntil([&] { return dialogs.endedCount() == 1; }, 10s));
    EXPECT_EQ(DWORD(NO_ERROR), logon());
    Sleep(1000);
    EXPECT_EQ(1u, dialogs.startedCommandLines().size()) << "a second logon shows nothing";
}

TEST_F(LogonReplayTest, SwitchIsTheOneOfTheMomentOfTheLogon)
{
    launch::deferNotice(L"C:\\Program Files (x86)\\Corvane\\Quarrow");
    launch::g_restartPending = true; // a restart became pending after the notice was deferred
    logon();
    ASSERT_TRUE(brimlock_test::waitUntil([&] { return dialogs.startedCommandLines().size() == 1; }, 10s));
    EXPECT_EQ(dialogs.commandLineFor(L"/restart", L"C:\\Program Files (x86)\\Corvane\\Quarrow"),
              dialogs.startedCommandLines()[0]);
}

TEST_F(LogonReplayTest, LogonWhileAGatedDialogIsOpenShowsNothingAndEmptiesThePendingFile)
{
    std::atomic<bool> gateHeld{false}, releaseGate{false};
    std::thread holder([&] {
        std::lock_guard<Corvane::Orlin::SrwLock> lock(launch::g_launchGate);
        gateHeld = true;
        while (!releaseGate) {
            Sleep(10);
        }
    });
    ASSERT_TRUE(brimlock_test::waitUntil([&] { return gateHeld.load(); }, 5s));
    launch::deferNotice(L"C:\\Program");
    EXPECT_EQ(DWORD(NO_ERROR), logon());
    EXPECT_EQ(L"", launch::pendingNoticeFile());
    Sleep(1000);
    EXPECT_TRUE(dialogs.startedCommandLines().empty());
    releaseGate = true;
    holder.join();
}

TEST_F(LogonReplayTest, OtherSessionEventsLeaveThePendingNoticeAlone)
{
    launch::deferNotice(L"C:\\Program");
    for (DWORD type : {DWORD(WTS_CONSOLE_CONNECT), DWORD(WTS_CONSOLE_DISCONNECT), DWORD(WTS_SESSION_LOCK),
                       DWORD(WTS_SESSION_UNLOCK), DWORD(WTS_SESSION_LOGOFF)}) {
        SERVICE_STATUS status = runningStatus();
        EXPECT_EQ(DWORD(NO_ERROR), service->HandleControl(SERVICE_CONTROL_SESSIONCHANGE, type, nullptr, status));
    }
    Sleep(500);
    EXPECT_EQ(L"C:\\Program", launch::pendingNoticeFile());
    EXPECT_TRUE(dialogs.startedCommandLines().empty());
}

TEST_F(LogonReplayTest, NoticeDeferredWhileTheReplayedDialogIsOpenWaitsForTheNextLogon)
{
    launch::deferNotice(L"C:\\Program");
    logon();
    ASSERT_TRUE(brimlock_test::waitUntil([&] { return dialogs.startedCommandLines().size() == 1; }, 10s));
    launch::deferNotice(L"C:\\Program Files.txt");
    dialogs.release();
    ASSERT_TRUE(brimlock_test::waitUntil([&] { return dialogs.endedCount() == 1; }, 10s));
    Sleep(200);
    EXPECT_EQ(L"C:\\Program Files.txt", launch::pendingNoticeFile()) << "the newer notice is not lost";
}

TEST_F(LogonReplayTest, ThreadThatCannotStartDropsTheNoticeAndTheHandlerStillAnswers)
{
    const model::LogonReplayPorts noThreads{[](std::function<void()>) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }};
    {
        Corvane::Orlin::Ports<model::LogonReplayPorts>::Override scope(model::logonReplayPorts, noThreads);
        launch::deferNotice(L"C:\\Program");
        EXPECT_EQ(DWORD(NO_ERROR), logon());
    }
    EXPECT_EQ(L"", launch::pendingNoticeFile());
    Sleep(500);
    EXPECT_TRUE(dialogs.startedCommandLines().empty());
}

// ---- The service's work ----

namespace {

std::mutex g_orderLock;
std::vector<std::string> g_order;
void record(const char* what)
{
    std::lock_guard<std::mutex> lock(g_orderLock);
    g_order.push_back(what);
}
int recordingCheck(HANDLE)
{
    record("check");
    return 0;
}
int throwingCheck(HANDLE)
{
    record("check");
    throw std::runtime_error("folder cannot be read");
}
std::thread recordingWatcherStart(std::function<void()> body)
{
    record("watcher");
    return std::thread(std::move(body));
}

// GetModuleFileNameW as if the program were g_modulePath.
std::wstring g_modulePath;
DWORD WINAPI nameModulePath(HMODULE, LPWSTR name, DWORD size)
{
    const DWORD length = static_cast<DWORD>(std::min<size_t>(g_modulePath.size(), size - 1));
    std::copy_n(g_modulePath.c_str(), length, name);
    name[length] = L'\0';
    return length;
}

using WatcherOverride = Corvane::Orlin::Ports<model::WatcherPorts>::Override;
using ServiceWorkOverride = Corvane::Orlin::Ports<model::ServiceWorkPorts>::Override;

class ServiceWorkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        {
            std::lock_guard<std::mutex> lock(g_orderLock);
            g_order.clear();
        }
        GetCurrentDirectoryW(MAX_PATH, savedDirectory);
        watcherPorts = model::watcherPorts.real();
        watcherPorts.startThread = &recordingWatcherStart;
        watcherPorts.check = [](HANDLE) { return 0; };
        watchersInForce.emplace(model::watcherPorts, watcherPorts);
        model::ResetActiveCandidatesForTesting();
        stop = CreateEventW(nullptr, TRUE, TRUE, nullptr); // already set: Run returns after one round
    }
    void TearDown() override
    {
        firstCheckInForce.reset();
        watchersInForce.reset();
        model::ResetActiveCandidatesForTesting();
        SetCurrentDirectoryW(savedDirectory);
        CloseHandle(stop);
        RemoveDirectoryW(L"C:\\BrimlockTools");
    }
    std::vector<std::string> order()
    {
        std::lock_guard<std::mutex> lock(g_orderLock);
        return g_order;
    }
    void useFirstCheck(int (*check)(HANDLE))
    {
        firstCheckInForce.reset();
        servicePorts.firstCheck = check;
        firstCheckInForce.emplace(model::serviceWorkPorts, servicePorts);
    }

    wchar_t savedDirectory[MAX_PATH] = {};
    HANDLE stop = nullptr;
    model::WatcherPorts watcherPorts{};
    std::optional<WatcherOverride> watchersInForce;
    model::ServiceWorkPorts servicePorts{};
    std::optional<ServiceWorkOverride> firstCheckInForce;
};

} // namespace

TEST(ServicePaths, FolderOfTheProgramWithoutTrailingBackslashExceptAtTheRoot)
{
    EXPECT_EQ(L"C:\\Tools", model::serviceDirectoryOf(L"C:\\Tools\\brimlock.exe"));
    EXPECT_EQ(L"C:\\", model::serviceDirectoryOf(L"C:\\brimlock.exe"));
    EXPECT_EQ(L"C:\\Program Files (x86)\\Corvane\\Quarrow Link",
              model::serviceDirectoryOf(L"C:\\Program Files (x86)\\Corvane\\Quarrow Link\\brimlock.exe"));
    EXPECT_EQ(L"", model::serviceDirectoryOf(L""));
}

TEST_F(ServiceWorkTest, RunSetsTheServiceFolderMakesItCurrentAndArmsTheWatchersBeforeTheFirstCheck)
{
    ASSERT_TRUE(CreateDirectoryW(L"C:\\BrimlockTools", nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    const model::ServicePathsPorts namingPath{&nameModulePath};
    Corvane::Orlin::Ports<model::ServicePathsPorts>::Override modulePath(model::servicePathsPorts, namingPath);
    g_modulePath = L"C:\\BrimlockTools\\brimlock.exe";
    useFirstCheck(&recordingCheck);
    model::g_activeCandidates = &model::nativeCandidateTable;
    auto service = std::make_shared<TamselService>(L"tamselsvc");

    EXPECT_EQ(0u, service->Run(stop));
    EXPECT_EQ(g_modulePath, model::g_servicePath);
    EXPECT_EQ(L"C:\\BrimlockTools", launch::g_serviceDirectory);
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_STREQ(L"C:\\BrimlockTools", current);
    EXPECT_EQ((std::vector<std::string>{"watcher", "watcher", "check"}), order());

    g_modulePath = L"C:\\brimlock.exe";
    EXPECT_EQ(0u, service->Run(stop));
    EXPECT_EQ(L"C:\\", launch::g_serviceDirectory);
    GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_STREQ(L"C:\\", current);
}

TEST_F(ServiceWorkTest, RunWithoutACandidateTableReturns3AndStartsNoWatcher)
{
    auto service = std::make_shared<TamselService>(L"tamselsvc");
    EXPECT_EQ(3u, service->Run(stop)); // the real check: no table chosen
    EXPECT_TRUE(order().empty());
}

TEST_F(ServiceWorkTest, ErrorRaisedByTheFirstCheckIsLoggedAndTheWatchersGoOn)
{
    useFirstCheck(&throwingCheck);
    model::g_activeCandidates = &model::wow64CandidateTable;
    auto service = std::make_shared<TamselService>(L"tamselsvc");
    EXPECT_EQ(0u, service->Run(stop));
    EXPECT_EQ((std::vector<std::string>{"watcher", "watcher", "check"}), order());
}

namespace {

std::atomic<int> g_stopRequests{0};
SC_HANDLE WINAPI fakeOpenManager(LPCWSTR, LPCWSTR, DWORD)
{
    return reinterpret_cast<SC_HANDLE>(1);
}
SC_HANDLE WINAPI fakeOpenService(SC_HANDLE, LPCWSTR, DWORD)
{
    return reinterpret_cast<SC_HANDLE>(2);
}
BOOL WINAPI countStop(SC_HANDLE, DWORD control, LPSERVICE_STATUS)
{
    if (control == SERVICE_CONTROL_STOP) {
        ++g_stopRequests;
    }
    return TRUE;
}
BOOL WINAPI closeNothing(SC_HANDLE)
{
    return TRUE;
}

} // namespace

// C:\ exists but cannot be watched (another user holds it): the service goes on. Run asks
// for no stop, makes its first check, and C:\ is checked every two seconds until the stop.
TEST_F(ServiceWorkTest, AFolderThatCannotBeWatchedNeverStopsTheServiceAndIsCheckedEveryTwoSeconds)
{
    useFirstCheck(&recordingCheck);
    watchersInForce.reset();
    brimlock_test::refuseToOpen(L"C:\\");
    watcherPorts.createFile = &brimlock_test::createFileRefusingOne;
    watcherPorts.check = &recordingCheck;
    watchersInForce.emplace(model::watcherPorts, watcherPorts);
    const model::SelfStopPorts scm{&fakeOpenManager, &fakeOpenService, &countStop, &closeNothing};
    Corvane::Orlin::Ports<model::SelfStopPorts>::Override countedStops(model::selfStopPorts, scm);
    g_stopRequests = 0;
    model::g_activeCandidates = &model::nativeCandidateTable;
    HANDLE running = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto service = std::make_shared<TamselService>(L"tamselsvc");

    DWORD result = 0xFFFFFFFF;
    std::thread worker([&] { result = service->Run(running); });
    Sleep(5500);
    SetEvent(running);
    worker.join();
    CloseHandle(running);
    brimlock_test::refuseToOpen(L"");
    EXPECT_EQ(0u, result);
    EXPECT_EQ(0, g_stopRequests.load()) << "the service does not ask to be stopped";
    const std::vector<std::string> seen = order();
    EXPECT_GE(std::count(seen.begin(), seen.end(), "check"), 3) << "the first check, then one every two seconds";
}

namespace {
std::atomic<bool> g_firstCheckSleeping{false};
std::atomic<DWORD> g_firstCheckEnded{0};
// A first check that is slow after its listing: what is created meanwhile it cannot see.
int slowFirstCheck(HANDLE stopEvent)
{
    const int result = model::checkAllCandidates(stopEvent);
    g_firstCheckSleeping = true;
    Sleep(2500);
    g_firstCheckEnded = GetTickCount();
    return result;
}
} // namespace

// A file created while the first check is still at work is handled right after its
// creation, with no further change: the watchers were reading before the check began.
TEST_F(ServiceWorkTest, AFileCreatedDuringTheFirstCheckIsHandledWithoutAFurtherChange)
{
    brimlock_test::RecordSink::install();
    brimlock_test::cleanDriveC();
    watchersInForce.reset(); // the real watchers and checks
    useFirstCheck(&slowFirstCheck);
    model::g_activeCandidates = brimlock_test::isWow64() ? &model::wow64CandidateTable : &model::nativeCandidateTable;
    HANDLE running = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto service = std::make_shared<TamselService>(L"tamselsvc");
    DWORD result = 0xFFFFFFFF;
    std::thread worker([&] { result = service->Run(running); });

    ASSERT_TRUE(brimlock_test::waitUntil([] { return g_firstCheckSleeping.load(); }, 10s));
    ASSERT_TRUE(brimlock_test::createFileWithText(L"C:\\Program", "planted meanwhile"));
    const DWORD planted = GetTickCount();
    const bool handled = brimlock_test::waitUntil([] { return brimlock_test::exists(L"C:\\Program1"); }, 6s);
    const DWORD handledAt = GetTickCount();
    SetEvent(running);
    worker.join();
    CloseHandle(running);
    EXPECT_TRUE(handled) << "never handled: the watchers were not reading during the first check";
    EXPECT_LE(handledAt - planted, 2500u) << "about a second after its creation";
    EXPECT_EQ(0u, result);
    EXPECT_EQ("planted meanwhile", brimlock_test::readFileText(L"C:\\Program1"));
    brimlock_test::NoticeRecorder::waitForNotices(1);
    brimlock_test::RecordSink::uninstall();
    brimlock_test::cleanDriveC();
}
