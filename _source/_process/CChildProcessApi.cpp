#include "_process/CChildProcessApi.h"

#include <userenv.h>
#include <wtsapi32.h>

namespace Corvane { namespace Orlin {

CChildProcessApi& CChildProcessApi::instance()
{
    static CChildProcessApi api;
    return api;
}

BOOL CChildProcessApi::CreatePipe(PHANDLE readPipe, PHANDLE writePipe, LPSECURITY_ATTRIBUTES attributes, DWORD size)
{
    return ::CreatePipe(readPipe, writePipe, attributes, size);
}

BOOL CChildProcessApi::DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target,
                                       DWORD access, BOOL inherit, DWORD options)
{
    return ::DuplicateHandle(sourceProcess, source, targetProcess, target, access, inherit, options);
}

BOOL CChildProcessApi::CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine,
                                      LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                                      BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                                      LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                                      LPPROCESS_INFORMATION processInformation)
{
    return ::CreateProcessW(applicationName, commandLine, processAttributes, threadAttributes, inheritHandles,
                            creationFlags, environment, currentDirectory, startupInfo, processInformation);
}

DWORD CChildProcessApi::WTSGetActiveConsoleSessionId()
{
    return ::WTSGetActiveConsoleSessionId();
}

BOOL CChildProcessApi::WTSQueryUserToken(ULONG sessionId, PHANDLE token)
{
    return ::WTSQueryUserToken(sessionId, token);
}

BOOL CChildProcessApi::OpenProcessToken(HANDLE process, DWORD access, PHANDLE token)
{
    return ::OpenProcessToken(process, access, token);
}

BOOL CChildProcessApi::GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                                           DWORD length, PDWORD returnLength)
{
    return ::GetTokenInformation(token, infoClass, info, length, returnLength);
}

BOOL CChildProcessApi::DuplicateTokenEx(HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES attributes,
                                        SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE newToken)
{
    return ::DuplicateTokenEx(token, access, attributes, level, type, newToken);
}

BOOL CChildProcessApi::SetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                                           DWORD length)
{
    return ::SetTokenInformation(token, infoClass, info, length);
}

BOOL CChildProcessApi::CreateEnvironmentBlock(LPVOID* environment, HANDLE token, BOOL inherit)
{
    return ::CreateEnvironmentBlock(environment, token, inherit);
}

BOOL CChildProcessApi::DestroyEnvironmentBlock(LPVOID environment)
{
    return ::DestroyEnvironmentBlock(environment);
}

BOOL CChildProcessApi::CreateProcessAsUserW(HANDLE token, LPCWSTR applicationName, LPWSTR commandLine,
                                            LPSECURITY_ATTRIBUTES processAttributes,
                                            LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                            DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory,
                                            LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInformation)
{
    return ::CreateProcessAsUserW(token, applicationName, commandLine, processAttributes, threadAttributes,
                                  inheritHandles, creationFlags, environment, currentDirectory, startupInfo,
                                  processInformation);
}

}} // namespace Corvane::Orlin
