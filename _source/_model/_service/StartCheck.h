#pragma once
// The start check: chooses the candidate table that fits this Windows (32-bit or 64-bit)
// and refuses the start when the 32-bit program folder is not on drive C, since both
// tables are written for drive C only.
//
// Results (Win32 exit code / service-specific code):
//   0 / 0        a table is chosen (g_activeCandidates set)
//   1066 / 1     IsWow64Process failed
//   1066 / 2     the 32-bit program folder is not on drive C, or could not be found at all
// On a refusal `stopServiceMyself` has been called and g_activeCandidates is left as it was
// (null at a service start). The known folder's path is freed whenever one was returned.

#include "_win32/Ports.h"

#include <windows.h>
#include <shlobj.h>

#include <functional>

namespace tamselsvc { namespace model { namespace service {

constexpr DWORD kStartCheckWow64Failed = 1;
constexpr DWORD kStartCheckNotOnDriveC = 2;

DWORD checkStartConditions(DWORD& serviceSpecificExitCode, const std::function<void()>& stopServiceMyself);

// The seam of the check: the system calls it makes. A path is freed through the set that
// returned it.
struct StartCheckPorts {
    BOOL(WINAPI* isWow64Process)(HANDLE process, PBOOL wow64);
    HRESULT(WINAPI* getKnownFolderPath)(REFKNOWNFOLDERID folder, DWORD flags, HANDLE token, PWSTR* path);
    void(WINAPI* freeTaskMemory)(LPVOID memory);
};
extern Corvane::Orlin::Ports<StartCheckPorts> startCheckPorts;

// For tests: g_activeCandidates back to "no table chosen".
void ResetActiveCandidatesForTesting();

}}} // namespace tamselsvc::model::service
