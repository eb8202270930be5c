#pragma once
// The system calls of ChildProcess, each forwarded to the function of the same name.

#include "_process/IChildProcessApi.h"

namespace Corvane { namespace Orlin {

// Stateless; one shared instance serves every ChildProcess.
class CChildProcessApi : public IChildProcessApi {
public:
    static CChildProcessApi& instance();

    BOOL CreatePipe(PHANDLE readPipe, PHANDLE writePipe, LPSECURITY_ATTRIBUTES attributes, DWORD size) override;
    BOOL DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target, DWORD access,
                         BOOL inherit, DWORD options) override;
    BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                        LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                        LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                        LPPROCESS_INFORMATION processInformation) override;
    DWORD WTSGetActiveConsoleSessionId() override;
    BOOL WTSQueryUserToken(ULONG sessionId, PHANDLE token) override;
    BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) override;
    BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                             PDWORD returnLength) override;
    BOOL DuplicateTokenEx(HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES attributes,
                          SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE newToken) override;
    BOOL SetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length) override;
    BOOL CreateEnvironmentBlock(LPVOID* environment, HANDLE token, BOOL inherit) override;
    BOOL DestroyEnvironmentBlock(LPVOID environment) override;
    BOOL CreateProcessAsUserW(HANDLE token, LPCWSTR applicationName, LPWSTR commandLine,
                              LPSECURITY_ATTRIBUTES processAttributes, LPSECURITY_ATTRIBUTES threadAttributes,
                              BOOL inheritHandles, DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory,
                              LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInformation) override;
};

}} // namespace Corvane::Orlin
