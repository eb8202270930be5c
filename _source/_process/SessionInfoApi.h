#pragma once
// Test seams of the notification launch: the console-session query, and the system calls
// of the ChildProcess each launch makes. Wine cannot answer the session query, so tests
// put a substitute here to see the active, not-active and failed cases.

#include "_process/IChildProcessApi.h"

#include <windows.h>
#include <wtsapi32.h>

namespace tamselsvc { namespace process {

// Each operation forwards to the function of the same name (on the local server in
// CSessionInfoApi) and returns its result and last-error value unchanged.
class ISessionInfoApi {
public:
    virtual DWORD WTSGetActiveConsoleSessionId() = 0;
    virtual BOOL WTSQuerySessionInformationW(HANDLE server, DWORD sessionId, WTS_INFO_CLASS infoClass,
                                             LPWSTR* buffer, DWORD* bytesReturned) = 0;
    virtual void WTSFreeMemory(PVOID memory) = 0;

protected:
    ~ISessionInfoApi() = default;
};

class CSessionInfoApi : public ISessionInfoApi {
public:
    static CSessionInfoApi& instance();
    DWORD WTSGetActiveConsoleSessionId() override;
    BOOL WTSQuerySessionInformationW(HANDLE server, DWORD sessionId, WTS_INFO_CLASS infoClass, LPWSTR* buffer,
                                     DWORD* bytesReturned) override;
    void WTSFreeMemory(PVOID memory) override;
};

// Substitutes for tests; nullptr restores the system's. Set them only while no launch runs.
void setSessionInfoApiForTest(ISessionInfoApi* api);
void setChildProcessApiForTest(Corvane::Orlin::IChildProcessApi* api);

}} // namespace tamselsvc::process
