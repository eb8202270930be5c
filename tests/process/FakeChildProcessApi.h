#pragma once
// The system's calls of ChildProcess, with one step made to fail (or throw) on demand and
// what was asked of each step recorded. Steps that are not made to fail run for real, so
// the handles they make are real and a leak shows in the process's handle count.

#include "_process/CChildProcessApi.h"

#include <functional>
#include <string>
#include <vector>

namespace brimlock_test {

enum class Step {
    None,
    CreatePipeIn,
    CreatePipeOut,
    DuplicateHandleIn,
    DuplicateHandleOut,
    DuplicateHandleErr,
    ActiveSession,      // WTSGetActiveConsoleSessionId gives 0xFFFFFFFF
    QueryUserToken,
    OpenProcessToken,
    LinkedToken,        // GetTokenInformation(TokenLinkedToken) fails
    LinkedTokenNull,    // ... succeeds with a null handle
    Elevation,          // GetTokenInformation(TokenElevation) fails
    DuplicateToken,
    EnvironmentBlock,
    SetSessionId,
    SetUiAccess,
    CreateProcess,      // CreateProcessW
    CreateProcessAsUser,
};

class FakeChildProcessApi : public Corvane::Orlin::CChildProcessApi {
public:
    Step failAt = Step::None;
    DWORD failError = ERROR_ACCESS_DENIED;
    bool throwInsteadOfFailing = false;
    // A linked token is given as a real duplicate of the process's own token, with this
    // elevation, because a test prefix has no split-token user.
    bool fakeLinkedToken = false;
    bool linkedElevated = true;
    // Session id given by WTSGetActiveConsoleSessionId; 0xFFFFFFFE: ask the system.
    DWORD activeSession = 0xFFFFFFFE;
    // CreateProcessAsUserW records its arguments and then calls the system's (which under
    // Wine runs the child with the test's own account) unless this is false.
    bool reallyCreate = true;
    // Called inside CreateProcessAsUserW, before anything else it does.
    std::function<void()> onCreateAsUser;

    // What was asked.
    std::vector<std::string> calls;
    int environmentsCreated = 0;
    int environmentsDestroyed = 0;
    DWORD openProcessTokenAccess = 0;
    ULONG queriedSession = 0xFFFFFFFF;
    std::vector<std::pair<TOKEN_INFORMATION_CLASS, DWORD>> tokenSettings;
    DWORD duplicateAccess = 0;
    SECURITY_IMPERSONATION_LEVEL duplicateLevel = SecurityAnonymous;
    TOKEN_TYPE duplicateType = TokenImpersonation;
    bool environmentFromDuplicate = false;
    HANDLE lastDuplicate = nullptr;
    std::wstring commandLine;
    bool applicationNameNull = false;
    BOOL inheritHandles = FALSE;
    DWORD creationFlags = 0;
    bool desktopNamed = false;
    std::wstring desktop;
    bool environmentGiven = false;
    bool currentDirectoryNull = false;
    DWORD startupSize = 0;
    DWORD startupFlags = 0;
    int createCalls = 0;

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

private:
    // True when `step` is to fail now: sets the error (or throws) for the caller.
    bool fails(Step step);
    int _pipes = 0;
    int _duplicates = 0;
};

} // namespace brimlock_test
