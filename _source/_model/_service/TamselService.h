#pragma once
// The one service the service program hosts, "tamselsvc": its start check, the controls it
// accepts, its control handling and its work; also the program's service-name generator
// (the name is always its own). Created once, in shared ownership, by the entry sequence
// on the main thread; constructing it loads the configuration and registers the object's
// own event source under its name.

#include "_service/IServiceImplement.h"
#include "_service/IServiceNameGenerator.h"
#include "_win32/OutputSettings.h"

#include <windows.h>

#include <string>

namespace tamselsvc { namespace model { namespace service {

class TamselService : public Corvane::Orlin::IServiceImplement, public Corvane::Orlin::IServiceNameGenerator {
public:
    using OutputSettings = Corvane::Orlin::OutputSettings;

    // SERVICE_ACCEPT_STOP | POWEREVENT | SESSIONCHANGE | PRESHUTDOWN | TRIGGEREVENT.
    static constexpr DWORD kControlsAccepted = 0x5C1;

    explicit TamselService(std::wstring serviceName);

    // The start check (see StartCheck.h); calls StopServiceMyself on a refusal.
    DWORD Initialize(DWORD& serviceSpecificExitCode) override;
    DWORD GetControlsAccepted() override;
    // Stop and pre-shutdown set stop-pending (check-point and wait hint 0); interrogate,
    // device events and session changes answer 0; a logon replays a deferred notice on a
    // thread of its own and returns at once. Every other code answers 120. The six known
    // controls write their name to the diagnostic log. The event data is never read.
    DWORD HandleControl(DWORD control, DWORD eventType, LPVOID eventData, SERVICE_STATUS& status) override;
    // Worker thread: the service folder (made current), the first full check, then the
    // watchers until `stopEvent`, and beside them the report of unquoted registrations when
    // it is switched on. 0 after a stop; 3 when no candidate table is chosen. An error
    // raised by the first check is logged and the watchers start all the same.
    DWORD Run(HANDLE stopEvent) override;

    // A copy of `name`; the arguments are ignored.
    std::wstring GenerateName(DWORD argc, LPWSTR* argv) override;

    // Asks the service control manager to stop "tamselsvc" and does not wait. Records each
    // step through outputSettings and as a wide diagnostic line; failures end it quietly.
    void StopServiceMyself();

    const std::wstring name;
    const OutputSettings outputSettings;

    static constexpr DWORD kRunNoCandidateTable = 3;

    // Seam for tests: the first check Run makes (nullptr: checkAllCandidates).
    static void setFirstCheckForTesting(int (*check)());

private:
    static void enterStopPending(SERVICE_STATUS& status);
    // Starts one watcher per candidate folder and returns once the stop event has ended them.
    void watchCandidateFolders(HANDLE stopEvent);

    static int (*s_firstCheck)();
};

}}} // namespace tamselsvc::model::service
