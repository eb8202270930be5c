// The notification launch: the dialog's command line as the dialog receives it (from a
// stand-in dialog program), the launch gate, the notice kept for the next logon, and the
// session query through a substitute where Wine cannot answer it.
#include "FakeChildProcessApi.h"
#include "LogCapture.h"
#include "StandInDialogFolder.h"
#include "TestPaths.h"
#include "Wait.h"

#include "_dialog/CommandLine.h"
#include "_process/ChildProcess.h"
#include "_process/NotificationLaunch.h"
#include "_process/SessionInfoApi.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace launch = tamselsvc::process;
using brimlock_test::FakeChildProcessApi;
using brimlock_test::LogCapture;
using namespace std::chrono_literals;

namespace {

class FakeSessionInfoApi : public launch::ISessionInfoApi {
public:
    DWORD activeSession = 1;
    bool queryFails = false;
    WTS_CONNECTSTATE_CLASS state = WTSActive;
    DWORD queriedSession = 0xFFFFFFFF;
    bool askedRightThing = false;
    int allocated = 0;
    int freed = 0;

    DWORD WTSGetActiveConsoleSessionId() override { return activeSession; }
    BOOL WTSQuerySessionInformationW(HANDLE server, DWORD sessionId, WTS_INFO_CLASS infoClass, LPWSTR* buffer,
                                     DWORD* bytesReturned) override
    {
        queriedSession = sessionId;
        askedRightThing = server == WTS_CURRENT_SERVER_HANDLE && infoClass == WTSSessionInfo;
        if (queryFails) {
            SetLastError(ERROR_NOT_SUPPORTED);
            return FALSE;
        }
        auto* info = new WTSINFOW{};
        info->State = state;
        info->SessionId = sessionId;
        *buffer = reinterpret_cast<LPWSTR>(info);
        *bytesReturned = sizeof(WTSINFOW);
        ++allocated;
        return TRUE;
    }
    void WTSFreeMemory(PVOID memory) override
    {
        ++freed;
        delete static_cast<WTSINFOW*>(memory);
    }
};

// The launches' ports with the given stand-ins (nullptr: the system's) for a scope.
class Substitutes {
public:
    Substitutes(launch::ISessionInfoApi* session, Corvane::Orlin::IChildProcessApi* child)
        : _set{session ? session : launch::notificationLaunchPorts.real().sessionInfo,
               child ? child : launch::notificationLaunchPorts.real().childProcess},
          _scope(launch::notificationLaunchPorts, _set)
    {
    }

private:
    const launch::NotificationLaunchPorts _set;
    Corvane::Orlin::Ports<launch::NotificationLaunchPorts>::Override _scope;
};

// As the dialog program splits its command line.
std::vector<std::wstring> splitCommandLine(const std::wstring& line)
{
    return brimlockdlg::splitCommandLine(line.c_str()).items;
}

// A launch on its own thread, as the service makes it; finished() tells when it returned.
class LaunchThread {
public:
    template <typename F>
    explicit LaunchThread(F work) : _thread([this, work] { work(); _done = true; }) {}
    ~LaunchThread()
    {
        if (_thread.joinable()) {
            _thread.join();
        }
    }
    bool finished() const { return _done; }
    bool waitFinished(std::chrono::milliseconds limit)
    {
        return brimlock_test::waitUntil([this] { return finished(); }, limit);
    }

private:
    std::atomic<bool> _done{false};
    std::thread _thread;
};

class NotificationLaunchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dialogs.ready()) << GetLastError();
        launch::g_serviceDirectory = dialogs.path();
        launch::g_restartPending = false;
    }
    void TearDown() override
    {
        dialogs.release();
        // Every stand-in that started has ended before its folder goes.
        EXPECT_TRUE(dialogs.waitAllEnded(20s));
        launch::g_restartPending = false;
    }

    brimlock_test::StandInDialogFolder dialogs{L"launch"};
};

TEST(DialogCommandLineTest, QuotedProgramFromTheServiceFolderSwitchAndQuotedFile)
{
    struct Case {
        const wchar_t* directory;
        const wchar_t* program;
    } cases[] = {
        {L"C:\\Tools", L"C:\\Tools\\brimlockdlg.exe"},
        {L"C:\\Tools\\", L"C:\\Tools\\brimlockdlg.exe"},
        {L"C:\\", L"C:\\brimlockdlg.exe"},
        {L"C:\\Program Files (x86)\\Corvane\\Tamsel", L"C:\\Program Files (x86)\\Corvane\\Tamsel\\brimlockdlg.exe"},
    };
    for (const Case& c : cases) {
        launch::g_serviceDirectory = c.directory;
        EXPECT_EQ(c.program, launch::dialogProgramPath());
    }
    launch::g_serviceDirectory = L"C:\\Tools";
    Corvane::Orlin::ChildProcess dialog(launch::dialogProgramPath(), launch::dialogArguments(L"/normal", L"C:\\Program"));
    EXPECT_EQ(L"\"C:\\Tools\\brimlockdlg.exe\" /normal \"C:\\Program\"", dialog.commandLine());
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\Tools\\brimlockdlg.exe", L"/normal", L"C:\\Program"}),
              splitCommandLine(dialog.commandLine()));

    launch::g_serviceDirectory = L"C:\\Program Files (x86)\\Corvane\\Tamsel\\";
    const std::wstring file = L"C:\\Program Files (x86)\\Corvane\\Quarrow";
    Corvane::Orlin::ChildProcess spaced(launch::dialogProgramPath(), launch::dialogArguments(L"/restart", file));
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\Program Files (x86)\\Corvane\\Tamsel\\brimlockdlg.exe", L"/restart", file}),
              splitCommandLine(spaced.commandLine()));
}

TEST(DialogCommandLineTest, CurrentSwitchFollowsTheRestartFlag)
{
    launch::g_restartPending = false;
    EXPECT_EQ(L"/normal", launch::currentMessageSwitch());
    launch::g_restartPending = true;
    EXPECT_EQ(L"/restart", launch::currentMessageSwitch());
    launch::g_restartPending = false;
}

TEST_F(NotificationLaunchTest, LaunchDialogWaitsForTheDialogWhichGetsItsCommandLine)
{
    const std::wstring file = L"C:\\Program Files";
    LaunchThread launcher([&] { launch::launchDialog(L"/fatal", file); });
    ASSERT_TRUE(dialogs.waitStarted(1));
    const auto started = dialogs.startedCommandLines();
    ASSERT_EQ(1u, started.size());
    const std::wstring received = started[0];
    EXPECT_EQ(dialogs.commandLineFor(L"/fatal", file), received);
    EXPECT_EQ(3u, splitCommandLine(received).size());
    Sleep(300);
    EXPECT_FALSE(launcher.finished()) << "the launch must wait for the dialog's end";
    dialogs.release();
    EXPECT_TRUE(launcher.waitFinished(20s));
    EXPECT_EQ(1u, dialogs.endedCount());
}

TEST_F(NotificationLaunchTest, SecondExclusiveLaunchIsDroppedWhileTheFirstRunsAndLaunchDialogIsNotGated)
{
    LaunchThread first([&] { launch::launchDialogExclusive(L"/normal", L"C:\\first"); });
    ASSERT_TRUE(dialogs.waitStarted(1));

    const DWORD begin = GetTickCount();
    launch::launchDialogExclusive(L"/normal", L"C:\\second");
    EXPECT_LT(GetTickCount() - begin, 2000u) << "the second launch must not wait for the gate";
    EXPECT_FALSE(launch::g_launchGate.try_lock()) << "the first launch holds the gate until its dialog ends";

    LaunchThread ungated([&] { launch::launchDialog(L"/fatal", L"C:\\third"); });
    ASSERT_TRUE(dialogs.waitStarted(2)) << "launchDialog is not gated";
    Sleep(500);
    const auto started = dialogs.startedCommandLines();
    ASSERT_EQ(2u, started.size());
    const std::set<std::wstring> lines(started.begin(), started.end());
    EXPECT_EQ((std::set<std::wstring>{dialogs.commandLineFor(L"/normal", L"C:\\first"),
                                      dialogs.commandLineFor(L"/fatal", L"C:\\third")}),
              lines);

    dialogs.release();
    EXPECT_TRUE(first.waitFinished(20s));
    EXPECT_TRUE(ungated.waitFinished(20s));
    Sleep(500);
    EXPECT_EQ(2u, dialogs.startedCommandLines().size()) << "a dropped launch is not queued";
    ASSERT_TRUE(launch::g_launchGate.try_lock()) << "the gate is free again";
    launch::g_launchGate.unlock();
}

TEST_F(NotificationLaunchTest, ExclusiveLaunchOnTheThreadThatHoldsTheGateIsDropped)
{
    FakeChildProcessApi api;
    api.reallyCreate = false;
    int nestedCalls = 0;
    api.onCreateAsUser = [&] {
        if (++nestedCalls == 1) {
            launch::launchDialogExclusive(L"/normal", L"C:\\nested");
        }
    };
    Substitutes substitutes(nullptr, &api);
    launch::launchDialogExclusive(L"/normal", L"C:\\outer");
    EXPECT_EQ(1, api.createCalls) << "the nested launch started something";
    ASSERT_TRUE(launch::g_launchGate.try_lock());
    launch::g_launchGate.unlock();
}

TEST_F(NotificationLaunchTest, ExceptionInsideAnExclusiveLaunchIsSwallowedAndTheGateFreed)
{
    FakeChildProcessApi api;
    api.failAt = brimlock_test::Step::CreateProcessAsUser;
    api.throwInsteadOfFailing = true;
    Substitutes substitutes(nullptr, &api);
    EXPECT_THROW(launch::launchDialog(L"/normal", L"C:\\x"), std::runtime_error);
    EXPECT_NO_THROW(launch::launchDialogExclusive(L"/normal", L"C:\\x"));
    EXPECT_EQ(2, api.createCalls);
    EXPECT_EQ(api.environmentsCreated, api.environmentsDestroyed);
    ASSERT_TRUE(launch::g_launchGate.try_lock());
    launch::g_launchGate.unlock();
    // And the next exclusive launch runs.
    api.throwInsteadOfFailing = false;
    launch::launchDialogExclusive(L"/normal", L"C:\\x");
    EXPECT_EQ(3, api.createCalls);
}

TEST_F(NotificationLaunchTest, MissingDialogProgramIsLoggedAndTheLaunchEnds)
{
    LogCapture log;
    ASSERT_TRUE(log.start()) << "DBWIN listener busy, error " << GetLastError();
    ASSERT_TRUE(DeleteFileW((dialogs.path() + L"\\brimlockdlg.exe").c_str())) << GetLastError();
    EXPECT_NO_THROW(launch::launchDialog(L"/normal", L"C:\\Program"));
    EXPECT_NO_THROW(launch::launchDialogExclusive(L"/normal", L"C:\\Program"));
    const auto lines = log.messages();
    EXPECT_EQ(2u, LogCapture::count(lines, "CreateProcessAsUser failed")) << ::testing::PrintToString(lines);
    EXPECT_EQ(brimlock_test::errorLine(ERROR_FILE_NOT_FOUND), LogCapture::after(lines, "CreateProcessAsUser failed"));
    EXPECT_EQ(2u, LogCapture::count(lines, "ChildProcess::waitProcessEnd: Any child processes not started."));
    const std::string program(dialogs.path().begin(), dialogs.path().end());
    EXPECT_TRUE(LogCapture::contains(lines, "ChildProcess::startProcessAsUser: \"" + program +
                                                "\\brimlockdlg.exe\" /normal \"C:\\Program\""));
    ASSERT_TRUE(launch::g_launchGate.try_lock());
    launch::g_launchGate.unlock();
}

TEST_F(NotificationLaunchTest, UnderWineTheSessionQueryFailsAndTheNoticeIsDropped)
{
    // The system's own calls: Wine cannot answer the query.
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    const DWORD session = WTSGetActiveConsoleSessionId();
    const BOOL answered =
        WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSSessionInfo, &buffer, &bytes);
    const DWORD error = GetLastError();
    std::printf("WTSGetActiveConsoleSessionId() = %lu; WTSQuerySessionInformationW(WTSSessionInfo) = %d, error %lu\n",
                static_cast<unsigned long>(session), answered, static_cast<unsigned long>(error));
    if (answered) {
        WTSFreeMemory(buffer);
        GTEST_SKIP() << "this system answers the session query";
    }
    launch::notifyActiveUser(L"C:\\Program", L"");
    Sleep(500);
    EXPECT_EQ(0u, dialogs.startedCommandLines().size());
    EXPECT_FALSE(launch::noticePending());
    EXPECT_EQ(L"", launch::pendingNoticeFile());
}

TEST_F(NotificationLaunchTest, FailedSessionQueryDropsTheNotice)
{
    FakeSessionInfoApi session;
    session.queryFails = true;
    FakeChildProcessApi api;
    Substitutes substitutes(&session, &api);
    launch::notifyActiveUser(L"C:\\Program", L"/normal");
    EXPECT_TRUE(session.askedRightThing);
    EXPECT_EQ(1u, session.queriedSession);
    EXPECT_EQ(0, api.createCalls);
    EXPECT_FALSE(launch::noticePending());
    EXPECT_EQ(L"", launch::pendingNoticeFile());
    EXPECT_EQ(session.allocated, session.freed);
}

TEST_F(NotificationLaunchTest, InactiveSessionKeepsTheLatestFileForTheNextLogon)
{
    FakeSessionInfoApi session;
    FakeChildProcessApi api;
    Substitutes substitutes(&session, &api);
    // The id is used as it comes, even "no session".
    session.activeSession = 0xFFFFFFFF;
    for (WTS_CONNECTSTATE_CLASS state : {WTSDisconnected, WTSConnected, WTSListen}) {
        session.state = state;
        const std::wstring file = L"C:\\Program" + std::to_wstring(static_cast<int>(state));
        launch::notifyActiveUser(file, L"/fatal");
        EXPECT_EQ(0xFFFFFFFFu, session.queriedSession);
        EXPECT_TRUE(launch::noticePending());
        EXPECT_EQ(file, launch::pendingNoticeFile()) << "the latest file replaces the one held";
    }
    EXPECT_EQ(0, api.createCalls);
    EXPECT_EQ(3, session.allocated);
    EXPECT_EQ(3, session.freed);
    // The logon replay takes it once; the flag stays set.
    EXPECT_EQ(L"C:\\Program" + std::to_wstring(static_cast<int>(WTSListen)), launch::takePendingNoticeFile());
    EXPECT_EQ(L"", launch::pendingNoticeFile());
    EXPECT_TRUE(launch::noticePending());
}

TEST_F(NotificationLaunchTest, ActiveSessionLaunchesWithTheGivenOrTheCurrentSwitch)
{
    FakeSessionInfoApi session;
    session.activeSession = 3;
    struct Case {
        const wchar_t* given;
        bool restartPending;
        const wchar_t* used;
    } cases[] = {
        {L"/fatal", false, L"/fatal"},
        {L"/normal", true, L"/normal"},
        {L"", false, L"/normal"},
        {L"", true, L"/restart"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "switch '" << c.given << "', restart pending " << c.restartPending);
        FakeChildProcessApi api;
        api.reallyCreate = false;
        api.activeSession = 3;
        Substitutes substitutes(&session, &api);
        launch::g_restartPending = c.restartPending;
        launch::notifyActiveUser(L"C:\\Program Files", c.given);
        EXPECT_EQ(3u, session.queriedSession);
        EXPECT_EQ(1, api.createCalls);
        EXPECT_EQ(dialogs.commandLineFor(c.used, L"C:\\Program Files"), api.commandLine);
        EXPECT_EQ(3u, api.queriedSession) << "the user token comes from the active console session";
        EXPECT_EQ(L"winsta0\\default", api.desktop);
    }
    EXPECT_FALSE(launch::noticePending());
    EXPECT_EQ(session.allocated, session.freed);
}

TEST_F(NotificationLaunchTest, ActiveSessionShowsTheDialogAndDropsANoticeWhileItIsOpen)
{
    FakeSessionInfoApi session;
    Substitutes substitutes(&session, nullptr);
    LaunchThread first([&] { launch::notifyActiveUser(L"C:\\Program", L""); });
    ASSERT_TRUE(dialogs.waitStarted(1));
    EXPECT_EQ(dialogs.commandLineFor(L"/normal", L"C:\\Program"), dialogs.startedCommandLines().at(0));
    launch::notifyActiveUser(L"C:\\Program Files", L"");
    Sleep(500);
    EXPECT_EQ(1u, dialogs.startedCommandLines().size())
        << "the second notice is dropped while the first dialog is open";
    EXPECT_FALSE(first.finished());
    dialogs.release();
    EXPECT_TRUE(first.waitFinished(20s));
    EXPECT_FALSE(launch::noticePending());
}

TEST(NoticeStateTest, ConcurrentSettersAndAReaderThatEmptiesIt)
{
    std::set<std::wstring> written;
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 500; ++i) {
            written.insert(L"C:\\Program" + std::wstring(100 + t * 7, L'a' + t) + std::to_wstring(i));
        }
    }
    std::atomic<bool> stop{false};
    std::vector<std::wstring> taken;
    std::thread reader([&] {
        while (!stop) {
            std::wstring file = launch::takePendingNoticeFile();
            if (!file.empty()) {
                taken.push_back(std::move(file));
            }
        }
    });
    std::vector<std::thread> setters;
    for (int t = 0; t < 4; ++t) {
        setters.emplace_back([t] {
            for (int i = 0; i < 500; ++i) {
                launch::deferNotice(L"C:\\Program" + std::wstring(100 + t * 7, L'a' + t) + std::to_wstring(i));
                if (i % 50 == 0) {
                    launch::pendingNoticeFile();
                }
            }
        });
    }
    for (auto& s : setters) {
        s.join();
    }
    stop = true;
    reader.join();
    const std::wstring last = launch::takePendingNoticeFile();
    if (!last.empty()) {
        taken.push_back(last);
    }
    EXPECT_TRUE(launch::noticePending());
    ASSERT_FALSE(taken.empty());
    std::set<std::wstring> unique;
    for (const auto& file : taken) {
        EXPECT_EQ(1u, written.count(file)) << "a torn or invented file";
        EXPECT_TRUE(unique.insert(file).second) << "a file taken twice";
    }
    EXPECT_EQ(L"", launch::pendingNoticeFile());
}

} // namespace
