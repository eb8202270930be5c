#include "FakeChildProcessApi.h"

#include <stdexcept>

namespace brimlock_test {

bool FakeChildProcessApi::fails(Step step)
{
    if (step != failAt) {
        return false;
    }
    if (throwInsteadOfFailing) {
        throw std::runtime_error("injected");
    }
    SetLastError(failError);
    return true;
}

BOOL FakeChildProcessApi::CreatePipe(PHANDLE readPipe, PHANDLE writePipe, LPSECURITY_ATTRIBUTES attributes, DWORD size)
{
    calls.push_back("CreatePipe");
    // A start makes the input pipe, then the output pipe, then three copies.
    const bool input = (_pipes++ % 2) == 0;
    _duplicates = 0;
    if (fails(input ? Step::CreatePipeIn : Step::CreatePipeOut)) {
        _pipes = 0;
        return FALSE;
    }
    return CChildProcessApi::CreatePipe(readPipe, writePipe, attributes, size);
}

BOOL FakeChildProcessApi::DuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, LPHANDLE target,
                                          DWORD access, BOOL inherit, DWORD options)
{
    calls.push_back("DuplicateHandle");
    static const Step order[] = {Step::DuplicateHandleIn, Step::DuplicateHandleOut, Step::DuplicateHandleErr};
    if (fails(order[_duplicates++ % 3])) {
        return FALSE;
    }
    return CChildProcessApi::DuplicateHandle(sourceProcess, source, targetProcess, target, access, inherit, options);
}

BOOL FakeChildProcessApi::CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine,
                                         LPSECURITY_ATTRIBUTES processAttributes,
                                         LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                         DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory,
                                         LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInformation)
{
    calls.push_back("CreateProcessW");
    ++createCalls;
    if (fails(Step::CreateProcess)) {
        return FALSE;
    }
    return CChildProcessApi::CreateProcessW(applicationName, commandLine, processAttributes, threadAttributes,
                                            inheritHandles, creationFlags, environment, currentDirectory,
                                            startupInfo, processInformation);
}

DWORD FakeChildProcessApi::WTSGetActiveConsoleSessionId()
{
    calls.push_back("WTSGetActiveConsoleSessionId");
    if (fails(Step::ActiveSession)) {
        return 0xFFFFFFFF;
    }
    return activeSession == 0xFFFFFFFE ? CChildProcessApi::WTSGetActiveConsoleSessionId() : activeSession;
}

BOOL FakeChildProcessApi::WTSQueryUserToken(ULONG sessionId, PHANDLE token)
{
    calls.push_back("WTSQueryUserToken");
    queriedSession = sessionId;
    if (fails(Step::QueryUserToken)) {
        return FALSE;
    }
    return CChildProcessApi::WTSQueryUserToken(sessionId, token);
}

BOOL FakeChildProcessApi::OpenProcessToken(HANDLE process, DWORD access, PHANDLE token)
{
    calls.push_back("OpenProcessToken");
    openProcessTokenAccess = access;
    if (fails(Step::OpenProcessToken)) {
        return FALSE;
    }
    return CChildProcessApi::OpenProcessToken(process, access, token);
}

BOOL FakeChildProcessApi::GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                                              DWORD length, PDWORD returnLength)
{
    calls.push_back(infoClass == TokenLinkedToken ? "GetTokenInformation(LinkedToken)"
                                                  : "GetTokenInformation(Elevation)");
    if (infoClass == TokenLinkedToken) {
        if (fails(Step::LinkedToken)) {
            return FALSE;
        }
        if (failAt == Step::LinkedTokenNull) {
            static_cast<TOKEN_LINKED_TOKEN*>(info)->LinkedToken = nullptr;
            SetLastError(failError);
            return TRUE;
        }
        if (fakeLinkedToken) {
            HANDLE copy = nullptr;
            if (!CChildProcessApi::DuplicateTokenEx(token, TOKEN_ALL_ACCESS, nullptr, SecurityIdentification,
                                                    TokenPrimary, &copy)) {
                return FALSE;
            }
            static_cast<TOKEN_LINKED_TOKEN*>(info)->LinkedToken = copy;
            return TRUE;
        }
    }
    if (infoClass == TokenElevation) {
        if (fails(Step::Elevation)) {
            return FALSE;
        }
        if (fakeLinkedToken) {
            static_cast<TOKEN_ELEVATION*>(info)->TokenIsElevated = linkedElevated ? 1 : 0;
            return TRUE;
        }
    }
    return CChildProcessApi::GetTokenInformation(token, infoClass, info, length, returnLength);
}

BOOL FakeChildProcessApi::DuplicateTokenEx(HANDLE token, DWORD access, LPSECURITY_ATTRIBUTES attributes,
                                           SECURITY_IMPERSONATION_LEVEL level, TOKEN_TYPE type, PHANDLE newToken)
{
    calls.push_back("DuplicateTokenEx");
    duplicateAccess = access;
    duplicateLevel = level;
    duplicateType = type;
    if (fails(Step::DuplicateToken)) {
        return FALSE;
    }
    const BOOL done = CChildProcessApi::DuplicateTokenEx(token, access, attributes, level, type, newToken);
    lastDuplicate = done ? *newToken : nullptr;
    return done;
}

BOOL FakeChildProcessApi::SetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                                              DWORD length)
{
    calls.push_back("SetTokenInformation");
    tokenSettings.emplace_back(infoClass, *static_cast<DWORD*>(info));
    if (fails(infoClass == TokenSessionId ? Step::SetSessionId : Step::SetUiAccess)) {
        return FALSE;
    }
    return CChildProcessApi::SetTokenInformation(token, infoClass, info, length);
}

BOOL FakeChildProcessApi::CreateEnvironmentBlock(LPVOID* environment, HANDLE token, BOOL inherit)
{
    calls.push_back("CreateEnvironmentBlock");
    environmentFromDuplicate = token != nullptr && token == lastDuplicate;
    if (fails(Step::EnvironmentBlock)) {
        return FALSE;
    }
    const BOOL done = CChildProcessApi::CreateEnvironmentBlock(environment, token, inherit);
    environmentsCreated += done ? 1 : 0;
    return done;
}

BOOL FakeChildProcessApi::DestroyEnvironmentBlock(LPVOID environment)
{
    calls.push_back("DestroyEnvironmentBlock");
    ++environmentsDestroyed;
    return CChildProcessApi::DestroyEnvironmentBlock(environment);
}

BOOL FakeChildProcessApi::CreateProcessAsUserW(HANDLE token, LPCWSTR applicationName, LPWSTR commandLine,
                                               LPSECURITY_ATTRIBUTES processAttributes,
                                               LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                                               DWORD creationFlags, LPVOID environment, LPCWSTR currentDirectory,
                                               LPSTARTUPINFOW startupInfo, LPPROCESS_INFORMATION processInformation)
{
    calls.push_back("CreateProcessAsUserW");
    ++createCalls;
    if (onCreateAsUser) {
        onCreateAsUser();
    }
    this->commandLine = commandLine ? commandLine : L"";
    applicationNameNull = applicationName == nullptr;
    this->inheritHandles = inheritHandles;
    this->creationFlags = creationFlags;
    desktopNamed = startupInfo->lpDesktop != nullptr;
    desktop = desktopNamed ? startupInfo->lpDesktop : L"";
    environmentGiven = environment != nullptr;
    currentDirectoryNull = currentDirectory == nullptr;
    startupSize = startupInfo->cb;
    startupFlags = startupInfo->dwFlags;
    if (fails(Step::CreateProcessAsUser)) {
        return FALSE;
    }
    if (!reallyCreate) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    return CChildProcessApi::CreateProcessAsUserW(token, applicationName, commandLine, processAttributes,
                                                  threadAttributes, inheritHandles, creationFlags, environment,
                                                  currentDirectory, startupInfo, processInformation);
}

} // namespace brimlock_test
