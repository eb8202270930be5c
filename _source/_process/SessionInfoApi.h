#pragma once
// The console-session query of the notification launch, behind an interface so that a
// test can stand in for it (see notificationLaunchPorts).

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

}} // namespace tamselsvc::process
