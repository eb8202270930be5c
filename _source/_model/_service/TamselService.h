#pragma once
// The one service the service program hosts, "tamselsvc": its start check, the controls it
// accepts, its control handling and its work; also the program's service-name generator
// (the name is always its own). Created once, in shared ownership, by the entry sequence
// on the main thread; constructing it loads the configuration and registers the object's
// own event source under its name.

#include "_service/IServiceImplement.h"
#include "_service/IServiceNameGenerator.h"
#include "_win32/OutputSettings.h"
#include "_win32/Ports.h"

#include <windows.h>

#include <string>

namespace tamselsvc { namespace model { namespace service {

// The seam of the service's work, swapped whole by Ports<ServiceWorkPorts>::Override.
struct ServiceWorkPorts {
    // The first check Run makes (checkAllCandidates); the event given ends it early.
    int (*firstCheck)(HANDLE stopEvent);
};
extern Corvane::Orlin::Ports<ServiceWorkPorts> serviceWorkPorts;

class TamselService : public Corvane::Orlin::IServiceImplement, public Corvane::Orlin::IServiceNameGenerator {
public:
    using OutputSettings = Corvane::Orlin::OutputSettings;

    static constexpr DWORD kControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_POWEREVENT |
                                               SERVICE_ACCEPT_SESSIONCHANGE | SERVICE_ACCEPT_PRESHUTDOWN |
                                               SERVICE_ACCEPT_TRIGGEREVENT;

    explicit TamselService(std::wstring serviceName);

    // The start check (see StartCheck.h); calls StopServiceMyself on a refusal.
    DWORD Initialize(DWORD& serviceSpecificExitCode) override;
    DWORD GetControlsAccepted() override;
    // Stop and pre-shutdown set stop-pending (check-point and wait hint 0); interrogate,
    // device events and session changes answer 0; a logon replays a deferred notice on a
    // thread of its own and returns at once. Every other code answers 120. The six known
    // controls write their name to the diagnostic log. The event data is never read.
    DWORD HandleControl(DWORD control, DWORD eventType, LPVOID eventData, SERVICE_STATUS& status) override;
    // Worker thread: the service folder (made current); the watchers, armed before the
    // first full check so that nothing created meanwhile is missed; the first check (a stop
    // ends it before its next file); then the watchers until `stopEvent`, and beside them
    // the report of unquoted registrations when it is switched on. 0 after a stop; 3 when
    // no candidate table is chosen (nothing watched). A folder that cannot be watched never
    // ends it: the watchers try it again and check it every two seconds meanwhile
    // (DirectoryWatcher.h). An error raised by the first check is logged and the watchers
    // go on.
    DWORD Run(HANDLE stopEvent) override;

    // A copy of `name`; the arguments are ignored.
    std::wstring GenerateName(DWORD argc, LPWSTR* argv) override;

    // Asks the service control manager to stop "tamselsvc" and does not wait. Records each
    // step through outputSettings and as a wide diagnostic line; failures end it quietly.
    void StopServiceMyself();

    const std::wstring name;
    const OutputSettings outputSettings;

    static constexpr DWORD kRunNoCandidateTable = 3;

private:
    static void enterStopPending(SERVICE_STATUS& status);
};
static_assert(TamselService::kControlsAccepted == 0x5C1, "the controls the service has always accepted");

}}} // namespace tamselsvc::model::service
