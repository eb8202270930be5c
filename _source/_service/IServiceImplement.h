#pragma once
// What a hosted service answers to the host (CService): may it start, which controls it
// accepts, what a control does to its status, and its work. It never reports status
// itself; the host reports the record that HandleControl edits.

#include <windows.h>

namespace Corvane { namespace Orlin {

class IServiceImplement {
public:
    // The start check, on the service-main thread before anything is reported. 0 lets the
    // service start; any other value is the Win32 exit code it stops with, and the
    // implementation stores the service-specific code in `serviceSpecificExitCode`.
    virtual DWORD Initialize(DWORD& serviceSpecificExitCode) = 0;
    // SERVICE_ACCEPT_* mask, asked once per start.
    virtual DWORD GetControlsAccepted() = 0;
    // Every delivered control, on the dispatcher thread, with the SCM's code, event type
    // and data unchanged. Edits `status` in place; setting SERVICE_STOP_PENDING (or
    // SERVICE_STOPPED) is what stops the service. 120 means "not handled".
    virtual DWORD HandleControl(DWORD control, DWORD eventType, LPVOID eventData, SERVICE_STATUS& status) = 0;
    // The work, on the worker thread; expected to return once `stopEvent` is signalled.
    // Non-zero becomes the service-specific exit code under ERROR_SERVICE_SPECIFIC_ERROR.
    virtual DWORD Run(HANDLE stopEvent) = 0;

protected:
    ~IServiceImplement() = default;
};

}} // namespace Corvane::Orlin
