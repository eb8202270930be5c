#pragma once
// Where the service program lives. Set by the service's work before its first check, so
// before any watcher or notification thread exists; only read afterwards. The folder is
// g_serviceDirectory of the notification launch, which starts the dialog from it.

#include "_win32/Ports.h"

#include <windows.h>

#include <string>

namespace tamselsvc { namespace model { namespace service {

// Full path of the service program.
extern std::wstring g_servicePath;

// The folder of a program path: everything before the last element, without the
// separators in front of it; a drive's root keeps its backslash ("C:\").
std::wstring serviceDirectoryOf(const std::wstring& programPath);

// Sets g_servicePath from the module file name (512 characters at most; what the call
// left on failure), the notification launch's g_serviceDirectory from it, and makes that
// folder the current directory (a failure is ignored).
void establishServicePaths();

// The seam of the service paths, swapped whole by Ports<ServicePathsPorts>::Override.
struct ServicePathsPorts {
    // The program's own path (GetModuleFileNameW).
    DWORD(WINAPI* getModuleFileName)(HMODULE module, LPWSTR fileName, DWORD size);
};
extern Corvane::Orlin::Ports<ServicePathsPorts> servicePathsPorts;

}}} // namespace tamselsvc::model::service
