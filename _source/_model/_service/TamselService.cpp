#include "_model/_service/TamselService.h"

#include "_model/_service/CandidateTable.h"
#include "_model/_service/LogonReplay.h"
#include "_model/_service/ServicePaths.h"
#include "_model/_service/StartCheck.h"
#include "_model/_service/_guard/Countermeasure.h"
#include "_model/_service/_guard/DirectoryWatcher.h"
#include "_model/_service/_guard/RegistrationGuard.h"
#include "_model/_service/_report/ReportThread.h"
#include "_win32/LogDebug.h"

#include <wtsapi32.h>

#include <exception>

namespace tamselsvc { namespace model { namespace service {

namespace {

int realFirstCheck(HANDLE stopEvent)
{
    return checkAllCandidates(stopEvent);
}

} // namespace

Corvane::Orlin::Ports<ServiceWorkPorts> serviceWorkPorts{ServiceWorkPorts{&realFirstCheck}};

TamselService::TamselService(std::wstring serviceName)
    : name(std::move(serviceName)), outputSettings(name)
{
}

DWORD TamselService::Initialize(DWORD& serviceSpecificExitCode)
{
    return checkStartConditions(serviceSpecificExitCode, [this] { StopServiceMyself(); });
}

DWORD TamselService::GetControlsAccepted()
{
    return kControlsAccepted;
}

DWORD TamselService::HandleControl(DWORD control, DWORD eventType, LPVOID, SERVICE_STATUS& status)
{
    using Corvane::Orlin::LogDebugA;
    switch (control) {
    case SERVICE_CONTROL_STOP:
        LogDebugA("SERVICE_CONTROL_STOP\n");
        enterStopPending(status);
        return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
        LogDebugA("SERVICE_CONTROL_PAUSE\n");
        status.dwCurrentState = SERVICE_PAUSED;
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        LogDebugA("SERVICE_CONTROL_INTERROGATE\n");
        return NO_ERROR;
    case SERVICE_CONTROL_DEVICEEVENT:
        LogDebugA("SERVICE_CONTROL_DEVICEEVENT\n");
        return NO_ERROR;
    case SERVICE_CONTROL_SESSIONCHANGE:
        LogDebugA("SERVICE_CONTROL_SESSIONCHANGE\n");
        if (eventType == WTS_SESSION_LOGON) {
            replayDeferredNoticeAtLogon();
        }
        return NO_ERROR;
    case SERVICE_CONTROL_PRESHUTDOWN:
        LogDebugA("SERVICE_CONTROL_PRESHUTDOWN\n");
        enterStopPending(status);
        return NO_ERROR;
    default:
        // Power and trigger events are accepted but need nothing; user-defined codes too.
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void TamselService::enterStopPending(SERVICE_STATUS& status)
{
    status.dwCurrentState = SERVICE_STOP_PENDING;
    status.dwCheckPoint = 0;
    status.dwWaitHint = 0;
}

DWORD TamselService::Run(HANDLE stopEvent)
{
    establishServicePaths();
    if (!g_activeCandidates.load()) {
        return kRunNoCandidateTable;
    }
    CandidateWatchers watchers(outputSettings);
    watchers.start();
    try {
        if (serviceWorkPorts().firstCheck(stopEvent) != 0) {
            return kRunNoCandidateTable;
        }
    } catch (const std::exception& e) {
        // The files of this pass that were handled stay handled; the watchers will run
        // further passes, so the service keeps protecting rather than end.
        Corvane::Orlin::LogDebugA("First check failed: %s", e.what());
    } catch (...) {
        Corvane::Orlin::LogDebugA("First check failed: unknown exception");
    }
    {
        // With "ShouldReportUnquotedPaths" or "ShouldGuardUnquotedPaths" on, the report's
        // scans run beside the watchers and feed the guard of registrations; leaving this
        // scope ends the report first, then the guard.
        RegistrationGuard registrationGuard(stopEvent, outputSettings);
        ReportThread reportThread(stopEvent, outputSettings, registrationGuard.feed());
        watchers.waitForStop(stopEvent);
    }
    watchers.end();
    return 0;
}

std::wstring TamselService::GenerateName(DWORD, LPWSTR*)
{
    return name;
}

}}} // namespace tamselsvc::model::service
