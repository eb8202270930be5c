// The service frame against a stand-in SCM: registration, status reports, control routing
// and the stop sequence, without real 10-second waits.
#include "FakeScm.h"

#include "_service/CDefaultServiceNameGenerator.h"
#include "_service/CService.h"
#include "Wait.h"
#include "_win32/LogDebug.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using Corvane::Orlin::CService;
using Corvane::Orlin::IServiceImplement;
using brimlock_test::FakeScm;
using brimlock_test::StatusReport;

namespace {

class TestImplement : public IServiceImplement {
public:
    DWORD initializeResult = 0;
    DWORD initializeSpecific = 0;
    DWORD controlsAccepted = SERVICE_ACCEPT_STOP;
    DWORD runResult = 0;
    DWORD unhandledResult = ERROR_CALL_NOT_IMPLEMENTED;
    bool returnBeforeStop = false;
    DWORD workMs = 0; // with returnBeforeStop: how long Run works before it returns
    std::atomic<int> runCalls{0};
    std::atomic<bool> runEnded{false};
    std::atomic<int> initializeCalls{0};
    std::atomic<DWORD> lastControl{0};

    DWORD Initialize(DWORD& specific) override
    {
        ++initializeCalls;
        if (initializeResult) {
            specific = initializeSpecific;
        }
        return initializeResult;
    }
    DWORD GetControlsAccepted() override { return controlsAccepted; }
    DWORD HandleControl(DWORD control, DWORD, LPVOID, SERVICE_STATUS& status) override
    {
        lastControl = control;
        switch (control) {
        case SERVICE_CONTROL_STOP:
            status.dwCurrentState = SERVICE_STOP_PENDING;
            status.dwCheckPoint = 0;
            status.dwWaitHint = 0;
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE:
            return unhandledResult; // the host must answer NO_ERROR whatever this says
        default:
            return unhandledResult;
        }
    }
    DWORD Run(HANDLE stopEvent) override
    {
        ++runCalls;
        if (!returnBeforeStop) {
            ::WaitForSingleObject(stopEvent, 20000);
        }
        ::Sleep(workMs);
        runEnded = true;
        return runResult;
    }
};

class CServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        host().ResetForTesting();
        previous = host().SetWin32ApiForTesting(&scm);
    }
    void TearDown() override
    {
        if (dispatcher.joinable()) {
            dispatcher.join();
        }
        host().SetWin32ApiForTesting(previous);
        host().SetWorkerStarterForTesting(nullptr);
        host().SetAssertionReporterForTesting(nullptr);
        host().ResetForTesting();
    }
    static CService& host() { return CService::GetInstance(); }

    void runHost()
    {
        dispatcher = std::thread([this] { runResult = host().Run(); });
    }
    void joinHost()
    {
        ASSERT_TRUE(dispatcher.joinable());
        dispatcher.join();
    }
    // Hosts `impl` as "alpha" and runs the host.
    void runAlpha()
    {
        host().Register(L"alpha", impl);
        runHost();
    }
    // Stops `service` and waits for the host's end.
    void stopAndJoin(const std::wstring& service = L"alpha")
    {
        EXPECT_EQ(DWORD(NO_ERROR), scm.control(service, SERVICE_CONTROL_STOP));
        joinHost();
    }

    std::shared_ptr<TestImplement> impl = std::make_shared<TestImplement>();
    FakeScm scm;
    Corvane::Orlin::IWin32Api* previous = nullptr;
    std::thread dispatcher;
    DWORD runResult = 0xFFFFFFFF;
};

DWORD stateOf(const StatusReport& r) { return r.status.dwCurrentState; }

} // namespace

TEST_F(CServiceTest, OneServiceReportsOwnProcessTypeThroughRunningAndStopped)
{
    impl->controlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SESSIONCHANGE;
    runAlpha();
    ASSERT_TRUE(scm.waitForState(L"alpha", SERVICE_RUNNING, 5000));
    stopAndJoin();
    EXPECT_EQ(0u, runResult);

    const auto reports = scm.reportsOf(L"alpha");
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(SERVICE_RUNNING, stateOf(reports.front())) << "nothing is reported before the start check passed";
    for (const auto& r : reports) {
        EXPECT_EQ(DWORD(SERVICE_WIN32_OWN_PROCESS), r.status.dwServiceType);
        EXPECT_EQ(DWORD(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SESSIONCHANGE), r.status.dwControlsAccepted);
    }
    EXPECT_EQ(SERVICE_STOPPED, stateOf(reports.back()));
    EXPECT_EQ(0u, reports.back().status.dwWin32ExitCode);
    EXPECT_EQ(0u, reports.back().status.dwCheckPoint);
    EXPECT_EQ(0u, reports.back().status.dwWaitHint);
    EXPECT_EQ(1, impl->runCalls.load());
}

TEST_F(CServiceTest, TwoServicesReportShareProcessTypeAndEachGetsItsOwnStopEvent)
{
    auto first = std::make_shared<TestImplement>();
    auto second = std::make_shared<TestImplement>();
    host().Register(L"first", first);
    host().Register(L"second", second);
    runHost();
    ASSERT_TRUE(scm.waitForState(L"first", SERVICE_RUNNING, 5000));
    ASSERT_TRUE(scm.waitForState(L"second", SERVICE_RUNNING, 5000));
    EXPECT_EQ(2u, scm.tableNames().size());

    EXPECT_EQ(NO_ERROR, scm.control(L"first", SERVICE_CONTROL_STOP));
    ASSERT_TRUE(scm.waitForState(L"first", SERVICE_STOPPED, 5000));
    // Stopping one service leaves the other running.
    EXPECT_FALSE(scm.waitForState(L"second", SERVICE_STOPPED, 200));
    stopAndJoin(L"second");
    for (const auto& r : scm.reports()) {
        EXPECT_EQ(DWORD(SERVICE_WIN32_SHARE_PROCESS), r.status.dwServiceType);
    }
}

TEST_F(CServiceTest, SecondRegistrationUnderOneNameReplacesTheFirst)
{
    auto replaced = std::make_shared<TestImplement>();
    auto kept = std::make_shared<TestImplement>();
    host().Register(L"alpha", replaced);
    host().Register(L"alpha", kept);
    EXPECT_EQ(1, replaced.use_count()) << "the host let go of the first implementation";
    runHost();
    ASSERT_TRUE(scm.waitForState(L"alpha", SERVICE_RUNNING, 5000));
    stopAndJoin();
    EXPECT_EQ(std::vector<std::wstring>{L"alpha"}, scm.tableNames());
    EXPECT_EQ(0, replaced->initializeCalls.load());
    EXPECT_EQ(1, kept->initializeCalls.load());
    EXPECT_EQ(DWORD(SERVICE_WIN32_OWN_PROCESS), scm.reports().front().status.dwServiceType);
}

TEST_F(CServiceTest, InterrogateAnswersNoErrorAndReportsOnceAndUnhandledCodesGoBackUnchanged)
{
    runAlpha();
    ASSERT_TRUE(scm.waitForState(L"alpha", SERVICE_RUNNING, 5000));

    size_t before = scm.reports().size();
    EXPECT_EQ(DWORD(NO_ERROR), scm.control(L"alpha", SERVICE_CONTROL_INTERROGATE));
    EXPECT_EQ(before + 1, scm.reports().size());
    EXPECT_EQ(SERVICE_RUNNING, stateOf(scm.reports().back()));

    before = scm.reports().size();
    EXPECT_EQ(DWORD(ERROR_CALL_NOT_IMPLEMENTED), scm.control(L"alpha", SERVICE_CONTROL_POWEREVENT, 7));
    EXPECT_EQ(before + 1, scm.reports().size()) << "the status is reported after a refused control too";
    EXPECT_EQ(DWORD(SERVICE_CONTROL_POWEREVENT), impl->lastControl.load());
    EXPECT_EQ(DWORD(ERROR_CALL_NOT_IMPLEMENTED), scm.control(L"alpha", 200));
    EXPECT_EQ(0, scm.setEventCalls()) << "no stop event while the service stays running";

    stopAndJoin();
}

TEST_F(CServiceTest, StopLoopReportsRisingCheckPointsWithWaitHintThenStopped)
{
    Corvane::Orlin::g_outputToDebugView = false;
    scm.workerWaitTimeouts = 2; // the worker takes "25 seconds": two 10-second waits time out
    runAlpha();
    ASSERT_TRUE(scm.waitForState(L"alpha", SERVICE_RUNNING, 5000));
    stopAndJoin();

    std::vector<StatusReport> pending;
    for (const auto& r : scm.reportsOf(L"alpha")) {
        if (r.status.dwCurrentState == SERVICE_STOP_PENDING && r.status.dwWaitHint == 20000) {
            pending.push_back(r);
        }
    }
    ASSERT_EQ(3u, pending.size());
    EXPECT_EQ(1u, pending[0].status.dwCheckPoint);
    EXPECT_EQ(2u, pending[1].status.dwCheckPoint);
    EXPECT_EQ(3u, pending[2].status.dwCheckPoint);
    const auto timed = scm.timedWaits();
    ASSERT_EQ(3u, timed.size());
    for (DWORD ms : timed) {
        EXPECT_EQ(10000u, ms) << "each wait for the worker is half the wait hint";
    }
    const StatusReport last = scm.reports().back();
    EXPECT_EQ(SERVICE_STOPPED, stateOf(last));
    EXPECT_EQ(0u, last.status.dwCheckPoint);
    EXPECT_EQ(0u, last.status.dwWaitHint);
}

TEST_F(CServiceTest, RunResultBecomesServiceSpecificExitCodeOfTheFinalReport)
{
    impl->runResult = 3;
    runAlpha();
    ASSERT_TRUE(scm.waitForState(L"alpha", SERVICE_RUNNING, 5000));
    stopAndJoin();
    const StatusReport last = scm.reports().back();
    EXPECT_EQ(SERVICE_STOPPED, stateOf(last));
    EXPECT_EQ(DWORD(ERROR_SERVICE_SPECIFIC_ERROR), last.status.dwWin32ExitCode);
    EXPECT_EQ(3u, last.status.dwServiceSpecificExitCode);
}

TEST_F(CServiceTest, RunThatReturnsEarlyStaysRunningUntilStopAndThenCarriesItsCode)
{
    impl->returnBeforeStop = true;
    impl->runResult = 3;
    runAlpha();
    ASSERT_TRUE(scm.waitForState(L"alpha", SERVICE_RUNNING, 5000));
    ASSERT_TRUE(brimlock_test::waitUntil([&] { return impl->runCalls.load() == 1; }, std::chrono::seconds(5)));
    Sleep(50);
    EXPECT_FALSE(scm.waitForState(L"alpha", SERVICE_STOPPED, 100));
    stopAndJoin();
    EXPECT_EQ(DWORD(ERROR_SERVICE_SPECIFIC_ERROR), scm.reports().back().status.dwWin32ExitCode);
    EXPECT_EQ(3u, scm.reports().back().status.dwServiceSpecificExitCode);
}

TEST_F(CServiceTest, InitializeRefusalReportsStoppedWithItsCodesAndStartsNoWorker)
{
    impl->initializeResult = ERROR_SERVICE_SPECIFIC_ERROR;
    impl->initializeSpecific = 2;
    runAlpha();
    joinHost();
    const auto reports = scm.reportsOf(L"alpha");
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ(SERVICE_STOPPED, stateOf(reports[0]));
    EXPECT_EQ(DWORD(ERROR_SERVICE_SPECIFIC_ERROR), reports[0].status.dwWin32ExitCode);
    EXPECT_EQ(2u, reports[0].status.dwServiceSpecificExitCode);
    EXPECT_EQ(0, impl->runCalls.load());
}

TEST_F(CServiceTest, HandlerRegistrationFailureReportsNothing)
{
    scm.failHandlerRegistration = true;
    runAlpha();
    joinHost();
    EXPECT_TRUE(scm.reports().empty());
    EXPECT_EQ(0, impl->initializeCalls.load());
    EXPECT_EQ(0, impl->runCalls.load());
}

TEST_F(CServiceTest, FailedRunningReportStartsNoWorker)
{
    scm.failRunningReport = true;
    runAlpha();
    joinHost();
    EXPECT_EQ(0, impl->runCalls.load());
}

TEST_F(CServiceTest, WorkerThatCannotStartLeadsToStoppedAtOnce)
{
    host().SetWorkerStarterForTesting([](std::function<void()>) -> std::thread {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    runAlpha();
    ASSERT_TRUE(scm.waitForState(L"alpha", SERVICE_STOPPED, 5000)) << "no stop control is needed";
    joinHost();
    const auto reports = scm.reportsOf(L"alpha");
    ASSERT_EQ(2u, reports.size());
    EXPECT_EQ(SERVICE_RUNNING, stateOf(reports[0]));
    EXPECT_EQ(SERVICE_STOPPED, stateOf(reports[1]));
    EXPECT_NE(0u, reports[1].status.dwWin32ExitCode);
    EXPECT_EQ(0, impl->runCalls.load());
}

TEST_F(CServiceTest, FailedStopWaitReportsStoppedAndJoinsTheWorker)
{
    impl->returnBeforeStop = true;
    impl->workMs = 500;
    scm.failStopWait = true;
    runAlpha();
    ASSERT_TRUE(scm.waitForState(L"alpha", SERVICE_STOPPED, 5000)) << "no stop control is needed";
    joinHost();
    EXPECT_TRUE(impl->runEnded.load()) << "the service-main callback returned before its worker ended";
    const auto reports = scm.reportsOf(L"alpha");
    ASSERT_EQ(2u, reports.size());
    EXPECT_EQ(SERVICE_RUNNING, stateOf(reports[0]));
    EXPECT_EQ(SERVICE_STOPPED, stateOf(reports[1]));
    EXPECT_EQ(0u, reports[1].status.dwCheckPoint);
}

TEST_F(CServiceTest, ControlAfterServiceMainReturnedStillFindsTheName)
{
    host().Register(L"first", impl);
    host().Register(L"second", std::make_shared<TestImplement>());
    runHost();
    ASSERT_TRUE(scm.waitForState(L"first", SERVICE_RUNNING, 5000));
    ASSERT_TRUE(scm.waitForState(L"second", SERVICE_RUNNING, 5000));
    EXPECT_EQ(NO_ERROR, scm.control(L"first", SERVICE_CONTROL_STOP));
    ASSERT_TRUE(scm.waitForState(L"first", SERVICE_STOPPED, 5000));
    Sleep(50); // let the first service-main return, freeing its own copy of the name
    // The SCM may still deliver a control to a stopped service's handler; its context
    // must point at a name that outlives the service-main call.
    EXPECT_EQ(DWORD(NO_ERROR), scm.control(L"first", SERVICE_CONTROL_INTERROGATE));
    EXPECT_EQ(DWORD(SERVICE_CONTROL_INTERROGATE), impl->lastControl.load());
    stopAndJoin(L"second");
}

namespace {
std::vector<std::wstring> g_assertions;
void recordAssertion(const wchar_t* expression, const wchar_t* file, unsigned line)
{
    g_assertions.push_back(std::wstring(expression) + L"|" + file + L"|" + std::to_wstring(line));
}
} // namespace

TEST_F(CServiceTest, RunWithNothingRegisteredAssertsAndReturnsInvalidParameter)
{
    g_assertions.clear();
    host().SetAssertionReporterForTesting(&recordAssertion);
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), host().Run());
    ASSERT_EQ(1u, g_assertions.size());
    EXPECT_EQ(L"_contexts.size()|_source\\_service\\CService|38", g_assertions[0]);
    EXPECT_TRUE(scm.tableNames().empty()) << "the dispatcher is not started";
}

TEST_F(CServiceTest, DispatcherFailureReturnsItsErrorCode)
{
    host().Register(L"alpha", std::make_shared<TestImplement>());
    scm.dispatcherError = ERROR_FAILED_SERVICE_CONTROLLER_CONNECT;
    EXPECT_EQ(DWORD(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT), host().Run());
    EXPECT_TRUE(scm.reports().empty());
}

TEST(CDefaultServiceNameGenerator, FirstArgumentOrEmpty)
{
    Corvane::Orlin::CDefaultServiceNameGenerator generator;
    wchar_t name[] = L"svcname";
    wchar_t other[] = L"ignored";
    LPWSTR argv[] = {name, other};
    EXPECT_EQ(L"svcname", generator.GenerateName(2, argv));
    EXPECT_EQ(L"", generator.GenerateName(0, argv));
}
