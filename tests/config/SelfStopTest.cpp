// StopServiceMyself through the service-control seam: each of its five steps as a record
// (event-log switch on) and as a wide diagnostic line (read back over DBWIN).
#include "ConfigKey.h"
#include "DbwinListener.h"
#include "EventLogSeams.h"

#include "_model/_service/SelfStop.h"
#include "_model/_service/TamselService.h"
#include "_win32/Configuration.h"
#include "_win32/LogDebug.h"
#include "_win32/OutputSettings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace svc = tamselsvc::model::service;
using namespace std::chrono_literals;

namespace {

// The texts, written out here on their own.
const wchar_t kStart[] = L"StopServiceMyself()\n";
const wchar_t kManagerFailed[] = L"OpenSCManager failed (%d)\n";
const wchar_t kServiceFailed[] = L"OpenService failed (%d)\n";
const wchar_t kAccepted[] = L"StopServiceMyself Request success : %d\n";
const wchar_t kRefused[] = L"StopServiceMyself Request error: %d\n";

using Record = brimlock_test::ServiceRecord;

// The service control manager, scripted; every call is written down.
const SC_HANDLE kManager = reinterpret_cast<SC_HANDLE>(0x1001);
const SC_HANDLE kService = reinterpret_cast<SC_HANDLE>(0x2002);
struct ScmScript {
    DWORD managerError = 0; // 0: opens
    DWORD serviceError = 0;
    BOOL controlResult = TRUE;
    DWORD controlError = 0; // last error left by ControlService, also on success
    std::vector<std::string> calls;
} s_scm;

SC_HANDLE WINAPI openManager(LPCWSTR machine, LPCWSTR database, DWORD access)
{
    s_scm.calls.push_back("OpenSCManager " + std::to_string(machine == nullptr) + std::to_string(database == nullptr) +
                          " " + std::to_string(access));
    SetLastError(s_scm.managerError);
    return s_scm.managerError ? nullptr : kManager;
}
SC_HANDLE WINAPI openService(SC_HANDLE manager, LPCWSTR name, DWORD access)
{
    char text[128];
    snprintf(text, sizeof(text), "OpenService %s %ls 0x%lx", manager == kManager ? "manager" : "?", name,
             static_cast<unsigned long>(access));
    s_scm.calls.push_back(text);
    SetLastError(s_scm.serviceError);
    return s_scm.serviceError ? nullptr : kService;
}
BOOL WINAPI controlService(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status)
{
    s_scm.calls.push_back(std::string("ControlService ") + (service == kService ? "service " : "? ") +
                          std::to_string(control) + (status ? "" : " without status"));
    SetLastError(s_scm.controlError);
    return s_scm.controlResult;
}
BOOL WINAPI closeHandle(SC_HANDLE handle)
{
    s_scm.calls.push_back(handle == kService ? "Close service" : handle == kManager ? "Close manager" : "Close ?");
    return TRUE;
}
const std::vector<std::string> kWholeRequest = {"OpenSCManager 11 1", "OpenService manager tamselsvc 0xf003f",
                                                 "ControlService service 1", "Close service", "Close manager"};
const svc::SelfStopPorts kScripted = {&openManager, &openService, &controlService, &closeHandle};

class SelfStop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(listener.start()) << "DBWIN listener: " << GetLastError();
        Corvane::Orlin::ResetConfigurationCacheForTesting();
        ASSERT_EQ(ERROR_SUCCESS, key.setDword(L"ShouldOutputToEventlog", 1));
        Corvane::Orlin::g_outputToDebugView = true;
        s_scm = ScmScript();
    }
    void TearDown() override
    {
        Corvane::Orlin::ResetConfigurationCacheForTesting();
        Corvane::Orlin::g_outputToDebugView = false;
    }

    // The diagnostic lines of this process, from the message on.
    std::vector<std::string> lines(size_t expected)
    {
        const DWORD pid = GetCurrentProcessId();
        // The predicate runs under the listener's lock: it counts the lines it is given.
        listener.waitFor(
            [&](const std::vector<brimlock_test::DebugLine>& all) {
                size_t mine = 0;
                for (const auto& line : all) {
                    mine += line.processId == pid;
                }
                return mine >= expected;
            },
            5s);
        std::vector<std::string> messages;
        for (const auto& line : listener.linesOf(pid)) {
            const auto tag = line.find(":[Tamsel] ");
            // "<pid>:[Tamsel] YYYY/MM/DD hh:mm:ss " is followed by the message.
            messages.push_back(tag == std::string::npos ? line : line.substr(tag + 10 + 20));
        }
        return messages;
    }

    // One request from an object under another name (the request names "tamselsvc" all
    // the same): the calls it made, its two records (the start, then `last`) and its two
    // diagnostic lines (the start, then `lastLine`).
    void expectRequest(const std::vector<std::string>& calls, const Record& last, const std::string& lastLine)
    {
        {
            svc::TamselService service(L"brimlockother");
            ASSERT_TRUE(service.outputSettings.shouldOutputToEventlog());
            service.StopServiceMyself();
        }
        EXPECT_EQ(calls, s_scm.calls);
        EXPECT_EQ((std::vector<Record>{{500, kStart}, last}), caught.records());
        EXPECT_EQ((std::vector<std::string>{"StopServiceMyself()\n\n", lastLine}), lines(2));
    }

    brimlock_test::ConfigKey key;
    brimlock_test::DbwinListener listener;
    brimlock_test::CaughtRecords caught;
    Corvane::Orlin::Ports<svc::SelfStopPorts>::Override scm{svc::selfStopPorts, kScripted};
};

} // namespace

TEST_F(SelfStop, ManagerNotOpened)
{
    s_scm.managerError = ERROR_ACCESS_DENIED;
    expectRequest({"OpenSCManager 11 1"}, {5, kManagerFailed}, "OpenSCManager failed (5)\n\n");
}

TEST_F(SelfStop, ServiceNotOpened)
{
    s_scm.serviceError = ERROR_SERVICE_DOES_NOT_EXIST;
    expectRequest({"OpenSCManager 11 1", "OpenService manager tamselsvc 0xf003f", "Close manager"},
                  {1060, kServiceFailed}, "OpenService failed (1060)\n\n");
}

TEST_F(SelfStop, RequestAcceptedCarriesTheLastErrorLeftBehind)
{
    s_scm.controlError = ERROR_ALREADY_EXISTS; // whatever the call leaves, it is recorded
    expectRequest(kWholeRequest, {183, kAccepted}, "StopServiceMyself Request success : 183\n\n");
}

TEST_F(SelfStop, RequestRefused)
{
    s_scm.controlResult = FALSE;
    s_scm.controlError = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    expectRequest(kWholeRequest, {1061, kRefused}, "StopServiceMyself Request error: 1061\n\n");
}

TEST_F(SelfStop, WithTheEventlogSwitchOffOnlyTheLinesAreWritten)
{
    ASSERT_EQ(ERROR_SUCCESS, key.setDword(L"ShouldOutputToEventlog", 0));
    Corvane::Orlin::ResetConfigurationCacheForTesting();
    s_scm.serviceError = ERROR_SERVICE_DOES_NOT_EXIST;
    svc::TamselService service(L"tamselsvc");
    ASSERT_FALSE(service.outputSettings.shouldOutputToEventlog());
    service.StopServiceMyself();
    EXPECT_TRUE(caught.records().empty());
    EXPECT_EQ((std::vector<std::string>{"StopServiceMyself()\n\n", "OpenService failed (1060)\n\n"}), lines(2));
}
