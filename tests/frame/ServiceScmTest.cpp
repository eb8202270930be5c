// The frame under Wine's real service control manager, with the small test service.
#include "DbwinListener.h"
#include "TestPaths.h"
#include "TestProcess.h"
#include "TestService.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using brimlock_test::TestService;

TEST(FrameUnderScm, StartGivesRunningAndStopGivesStoppedWithExitCodeZero)
{
    brimlock_test::DbwinListener listener;
    ASSERT_TRUE(listener.start());
    TestService service(L"brimlockframe", brimlock_test::builtProgram(L"frame_test_service.exe"));
    ASSERT_TRUE(service.created()) << "CreateService failed with " << service.createError();

    ASSERT_TRUE(service.start()) << "StartService failed with " << GetLastError();
    SERVICE_STATUS_PROCESS status{};
    ASSERT_TRUE(service.waitForState(SERVICE_RUNNING, 10000, &status)) << "state " << status.dwCurrentState;
    EXPECT_EQ(DWORD(SERVICE_WIN32_OWN_PROCESS), status.dwServiceType);
    EXPECT_EQ(DWORD(SERVICE_ACCEPT_STOP), status.dwControlsAccepted);
    const DWORD pid = status.dwProcessId;
    EXPECT_TRUE(listener.waitForText(pid, "FrameTestService::Run", 5s)) << "the worker runs Run";

    SERVICE_STATUS answered{};
    ASSERT_TRUE(service.stop(&answered)) << "ControlService failed with " << GetLastError();
    ASSERT_TRUE(service.waitForState(SERVICE_STOPPED, 10000, &status)) << "state " << status.dwCurrentState;
    EXPECT_EQ(0u, status.dwWin32ExitCode);
    EXPECT_EQ(0u, status.dwServiceSpecificExitCode);
    EXPECT_TRUE(listener.waitForText(pid, "CheckPoint 1, waiting 10000 sec...", 5s));
}

// Wine's dispatcher has been seen to wait 10 seconds for a controller before it fails with
// 1063; Windows fails at once. Either way the program must end by itself, after two lines.
TEST(FrameUnderScm, RunByHandReturnsAfterTheTwoDispatcherFailureLines)
{
    brimlock_test::DbwinListener listener;
    ASSERT_TRUE(listener.start());
    const auto result = brimlock_test::runProcess(
        brimlock_test::quoteArgument(brimlock_test::builtProgram(L"frame_test_service.exe")), 30000);
    ASSERT_TRUE(result.started);
    ASSERT_TRUE(result.finished) << "the program must not wait for a service controller";
    EXPECT_EQ(0u, result.exitCode);
    ASSERT_TRUE(listener.waitForText(result.processId, "errorcode=", 5s));
    const auto lines = listener.linesOf(result.processId);
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(" StartServiceCtrlDispatcherW failed.\n")) << lines[0];
    EXPECT_NE(std::string::npos, lines[1].find(" errorcode=0x427(1063), ")) << lines[1];
}
