#pragma once
// Test seam for TamselService::StopServiceMyself: the service control manager calls it
// makes. Handles opened through the seam are closed through it.

#include <windows.h>

namespace tamselsvc { namespace model { namespace service {

struct ServiceControlCalls {
    SC_HANDLE(WINAPI* openSCManager)(LPCWSTR machine, LPCWSTR database, DWORD access);
    SC_HANDLE(WINAPI* openService)(SC_HANDLE manager, LPCWSTR name, DWORD access);
    BOOL(WINAPI* controlService)(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
    BOOL(WINAPI* closeServiceHandle)(SC_HANDLE handle);
};

// nullptr restores the system's own calls.
void SetServiceControlCallsForTesting(const ServiceControlCalls* calls);

}}} // namespace tamselsvc::model::service
