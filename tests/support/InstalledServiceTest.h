#pragma once
// The fixture of the tests against the installed service under the prefix's service
// control manager: starting and stopping it with bounded waits, the prefix's boot log
// where its records appear, and a clean-up that leaves drive C, the restart list and the
// service's switches as the test found them.

#include "ServiceInstall.h"
#include "StandInRecords.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brimlock_test {

class InstalledServiceTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        endProcesses(installedDialogPath());
        deleteFilesMatching(L"C:", L"Program*");
        clearPendingOperations();
        EXPECT_TRUE(setServiceSwitch(L"ShouldOutputToEventlog", false));
        EXPECT_TRUE(setServiceSwitch(L"ShouldOutputToDebugView", false));
    }

    // Starts the service, waits for RUNNING and notes its process id in `pid`.
    void startService(TestService& service)
    {
        ASSERT_TRUE(service.start()) << "StartService failed with " << GetLastError();
        SERVICE_STATUS_PROCESS status{};
        ASSERT_TRUE(service.waitForState(SERVICE_RUNNING, 15000, &status)) << status.dwCurrentState;
        pid = status.dwProcessId;
        ASSERT_NE(0u, pid);
    }
    void startService(InstalledService& installed) { startService(installed.scm()); }

    // Stops the service and waits for STOPPED; returns how long that took in ms, and the
    // last status in `final` when given.
    DWORD stopService(TestService& service, SERVICE_STATUS_PROCESS* final = nullptr)
    {
        const DWORD start = GetTickCount();
        EXPECT_TRUE(service.stop()) << "ControlService failed with " << GetLastError();
        SERVICE_STATUS_PROCESS status{};
        EXPECT_TRUE(service.waitForState(SERVICE_STOPPED, 15000, &status)) << status.dwCurrentState;
        if (final) {
            *final = status;
        }
        return GetTickCount() - start;
    }
    DWORD stopService(InstalledService& installed, SERVICE_STATUS_PROCESS* final = nullptr)
    {
        return stopService(installed.scm(), final);
    }

    // The service is still the process that was started, and still running.
    void expectStillRunning(const TestService& service)
    {
        const SERVICE_STATUS_PROCESS status = service.query();
        EXPECT_EQ(DWORD(SERVICE_RUNNING), status.dwCurrentState);
        EXPECT_EQ(pid, status.dwProcessId);
    }
    void expectStillRunning(InstalledService& installed) { expectStillRunning(installed.scm()); }

    // The command lines of the dialogs that the stand-in program, installed as the dialog,
    // was started with.
    static std::vector<std::wstring> standInCommandLines() { return readStandInRecords(productFolder(), L"started-"); }

    BootLog log;
    DWORD pid = 0;
};

} // namespace brimlock_test
