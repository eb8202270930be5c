#include "_process/SessionInfoApi.h"

namespace tamselsvc { namespace process {

CSessionInfoApi& CSessionInfoApi::instance()
{
    static CSessionInfoApi api;
    return api;
}

DWORD CSessionInfoApi::WTSGetActiveConsoleSessionId()
{
    return ::WTSGetActiveConsoleSessionId();
}

BOOL CSessionInfoApi::WTSQuerySessionInformationW(HANDLE server, DWORD sessionId, WTS_INFO_CLASS infoClass,
                                                  LPWSTR* buffer, DWORD* bytesReturned)
{
    return ::WTSQuerySessionInformationW(server, sessionId, infoClass, buffer, bytesReturned);
}

void CSessionInfoApi::WTSFreeMemory(PVOID memory)
{
    ::WTSFreeMemory(memory);
}

}} // namespace tamselsvc::process
