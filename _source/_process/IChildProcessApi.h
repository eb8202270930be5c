#pragma once
// The system calls of ChildProcess that decide how a start fails: pipes, tokens, the
// user's environment and the two create calls. Tests substitute an object that fails a
// chosen step, so each failure path (and what it releases) can be seen without a real
// console session or a second user.
//
// Each operation forwards to the function of the same name in CChildProcessApi and
// returns its result and last-error value unchanged.

#include <windows.h>

namespace Corvane { namespace Orlin {

class IChildProcessApi {
public:
    virtual BOOL CreatePipe(PHANDLE readPipe, PHANDLE writePipe, LPSECURITY_ATTRIBUTES attributes, DWORD size) = 0;
    virtual BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target,
                                 DWORD access, BOOL inherit, DWORD options) = 0;
    virtual BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                                LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                                LPPROCESS_INFORMATION processInformation) = 0;
    virtual DWORD WTSGetActiveConsoleSessionId() = 0;
    virtual BOOL WTSQueryUserToken(ULONG sessionId, PHANDLE token) = 0;
    virtual BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) = 0;
    virtual BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                                     PDWORD returnLength) = 0;
    virtual BOOL DuplicateTokenEx(HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES attributes,
                                  SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE newToken) = 0;
    virtual BOOL SetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                                     DWORD length) = 0;
    virtual BOOL CreateEnvironmentBlock(LPVOID* environment, HANDLE token, BOOL inherit) = 0;
    virtual BOOL DestroyEnvironmentBlock(LPVOID environment) = 0;
    virtual BOOL CreateProcessAsUserW(HANDLE token, LPCWSTR applicationName, LPWSTR commandLine,
                                      LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                                      BOOL inheritHandles, DWORD creationFlags, LPVOID environment,
                                      LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                                      LPPROCESS_INFORMATION processInformation) = 0;

protected:
    ~IChildProcessApi() = default;
};

}} // namespace Corvane::Orlin
