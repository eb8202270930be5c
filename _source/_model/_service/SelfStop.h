#pragma once
// The seam of TamselService::StopServiceMyself: the service control manager calls it makes.
// Handles opened through a set are closed through the same set.

#include "_win32/Ports.h"

#include <windows.h>

namespace tamselsvc { namespace model { namespace service {

struct SelfStopPorts {
    SC_HANDLE(WINAPI* openSCManager)(LPCWSTR machine, LPCWSTR database, DWORD access);
    SC_HANDLE(WINAPI* openService)(SC_HANDLE manager, LPCWSTR name, DWORD access);
    BOOL(WINAPI* controlService)(SC_HANDLE service, DWORD control, LPSERVICE_STATUS status);
    BOOL(WINAPI* closeServiceHandle)(SC_HANDLE handle);
};
extern Corvane::Orlin::Ports<SelfStopPorts> selfStopPorts;

}}} // namespace tamselsvc::model::service
