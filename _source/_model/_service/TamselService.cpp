#include "_model/_service/TamselService.h"

#include "_model/_service/CandidateTable.h"
#include "_model/_service/StartCheck.h"

namespace tamselsvc { namespace model { namespace service {

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

// Placeholder until the control table is built: no control is handled yet.
DWORD TamselService::HandleControl(DWORD, DWORD, LPVOID, SERVICE_STATUS&)
{
    return ERROR_CALL_NOT_IMPLEMENTED;
}

// Placeholder until the service's work is built: only the "no table chosen" result and the
// wait for the stop event.
DWORD TamselService::Run(HANDLE stopEvent)
{
    if (g_activeCandidates.load() == nullptr) {
        return 3;
    }
    WaitForSingleObject(stopEvent, INFINITE);
    return 0;
}

std::wstring TamselService::GenerateName(DWORD, LPWSTR*)
{
    return name;
}

}}} // namespace tamselsvc::model::service
