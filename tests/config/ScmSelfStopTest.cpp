// StopServiceMyself against Wine's real service control manager: from this process, and
// from the start check of a real start of "tamselsvc" on a prefix whose 32-bit program
// folder is moved to drive D.
#include "ConfigKey.h"
#include "DbwinListener.h"
#include "EventLogSeams.h"
#include "ProgramFilesOverride.h"
#include "TestPaths.h"
#include "TestService.h"

#include "_model/_service/TamselService.h"
#include "_win32/Configuration.h"
#include "_win32/OutputSettings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace svc = tamselsvc::model::service;
using namespace std::chrono_literals;

namespace {

using Record = brimlock_test::ServiceRecord;

class ScmSelfStop : public ::testing::Test {
protected:
    void SetUp() override
    {
        Corvane::Orlin::ResetConfigurationCacheForTesting();
        ASSERT_EQ(ERROR_SUCCESS, key.setDword(L"ShouldOutputToEventlog", 1));
    }
    void TearDown() override { Corvane::Orlin::ResetConfigurationCacheForTesting(); }
    brimlock_test::ConfigKey key;
    brimlock_test::CaughtRecords caught;
};

bool serviceExists(const wchar_t* name)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, name, SERVICE_QUERY_STATUS) : nullptr;
    if (service) {
        CloseServiceHandle(service);
    }
    if (manager) {
        CloseServiceHandle(manager);
    }
    return service != nullptr;
}

} // namespace

TEST_F(ScmSelfStop, NoSuchServiceGivesOpenServiceFailed)
{
    ASSERT_FALSE(serviceExists(L"tamselsvc")) << "a leftover tamselsvc entry";
    svc::TamselService service(L"tamselsvc");
    service.StopServiceMyself();
    EXPECT_EQ((std::vector<Record>{{500, L"StopServiceMyself()\n"}, {1060, L"OpenService failed (%d)\n"}}),
              caught.records());
}

TEST_F(ScmSelfStop, AStoppedServiceRefusesTheRequest)
{
    brimlock_test::TestService entry(L"tamselsvc", brimlock_test::builtProgram(L"tamselsvc_test_service.exe"));
    ASSERT_TRUE(entry.created()) << "CreateService failed with " << entry.createError();
    svc::TamselService service(L"tamselsvc");
    service.StopServiceMyself();
    EXPECT_EQ((std::vector<Record>{{500, L"StopServiceMyself()\n"},
                                   {1062, L"StopServiceMyself Request error: %d\n"}}),
              caught.records());
}

// The whole refusal: the start check finds the program folder on D:, asks the manager to
// stop the service that is still starting, and the host reports 1066 with code 2.
TEST_F(ScmSelfStop, RefusedStartUnderTheServiceControlManager)
{
    ASSERT_EQ(ERROR_SUCCESS, key.setDword(L"ShouldOutputToDebugView", 1));
    brimlock_test::ProgramFilesOverride override;
    ASSERT_TRUE(override.mapDriveD());
    ASSERT_EQ(ERROR_SUCCESS, override.setProgramFilesX86(L"D:\\Program Files (x86)"));

    brimlock_test::DbwinListener listener;
    ASSERT_TRUE(listener.start());
    brimlock_test::TestService entry(L"tamselsvc", brimlock_test::builtProgram(L"tamselsvc_test_service.exe"));
    ASSERT_TRUE(entry.created()) << "CreateService failed with " << entry.createError();
    // Windows lets StartService succeed once the service-main thread runs. Wine 8.0 waits
    // for the first status report and, since that report is already "stopped", fails the
    // start with 1053.
    const bool started = entry.start();
    const DWORD startError = started ? 0 : GetLastError();
    EXPECT_TRUE(started || startError == ERROR_SERVICE_REQUEST_TIMEOUT) << "StartService failed with " << startError;
    SERVICE_STATUS_PROCESS status{};
    ASSERT_TRUE(entry.waitForState(SERVICE_STOPPED, 30000, &status)) << "state " << status.dwCurrentState;
    EXPECT_EQ(DWORD(ERROR_SERVICE_SPECIFIC_ERROR), status.dwWin32ExitCode);
    EXPECT_EQ(2u, status.dwServiceSpecificExitCode);

    ASSERT_TRUE(listener.waitForText(0, "record ", 10s));
    DWORD pid = 0;
    for (const auto& line : listener.lines()) {
        if (line.text.find("record 500: ") != std::string::npos) {
            pid = line.processId;
        }
    }
    ASSERT_NE(0u, pid) << "no start record";
    ASSERT_TRUE(listener.waitForText(pid, "StopServiceMyself Request", 10s));
    std::vector<std::string> records, diagnostics;
    for (const auto& line : listener.linesOf(pid)) {
        (line.rfind("record ", 0) == 0 ? records : diagnostics).push_back(line);
    }
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ("record 500: StopServiceMyself()\\n", records[0]);
    // Windows refuses a stop while the service is start-pending with 1061; Wine 8.0 says
    // 1052 (ERROR_INVALID_SERVICE_CONTROL). Either way the request is refused.
    const std::string refusedPrefix = "record ";
    const std::string refusedText = ": StopServiceMyself Request error: %d\\n";
    ASSERT_NE(std::string::npos, records[1].find(refusedText)) << records[1];
    const std::string code = records[1].substr(refusedPrefix.size(), records[1].find(':') - refusedPrefix.size());
    std::cout << "stop request of a start-pending service refused with " << code << std::endl;
    EXPECT_TRUE(code == "1061" || code == "1052") << code;
    ASSERT_EQ(2u, diagnostics.size());
    EXPECT_NE(std::string::npos, diagnostics[0].find(" StopServiceMyself()\n")) << diagnostics[0];
    EXPECT_NE(std::string::npos, diagnostics[1].find(" StopServiceMyself Request error: " + code + "\n"))
        << diagnostics[1];
}
