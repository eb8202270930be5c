#include "_process/ChildProcess.h"

#include "_process/CChildProcessApi.h"
#include "_process/CommandLineFormat.h"
#include "_win32/ErrorText.h"
#include "_win32/LogDebug.h"

#include <userenv.h>

#include <utility>

namespace Corvane { namespace Orlin {

namespace {

// Writes the operation's own line, then the error line for the failed call's code.
void logFailure(const char* message, DWORD errorCode)
{
    LogDebugA("%s", message);
    LogErrorLineA(errorCode);
}

// An environment block from CreateEnvironmentBlock, destroyed through the same seam.
class EnvironmentBlock {
public:
    explicit EnvironmentBlock(IChildProcessApi& api) : _api(api) {}
    ~EnvironmentBlock()
    {
        if (_block != nullptr) {
            _api.DestroyEnvironmentBlock(_block);
        }
    }
    EnvironmentBlock(const EnvironmentBlock&) = delete;
    EnvironmentBlock& operator=(const EnvironmentBlock&) = delete;
    LPVOID* put() { return &_block; }
    LPVOID get() const { return _block; }

private:
    IChildProcessApi& _api;
    LPVOID _block = nullptr;
};

} // namespace

ChildProcess::ChildProcess(const std::wstring& program, const std::wstring& arguments)
    : ChildProcess(program, arguments, CChildProcessApi::instance())
{
}

ChildProcess::ChildProcess(const std::wstring& program, const std::wstring& arguments, IChildProcessApi& api)
    : _program(program), _arguments(arguments), _api(&api)
{
    LogDebugA("ChildProcess %p", static_cast<void*>(this));
}

ChildProcess::~ChildProcess()
{
    LogDebugA("~ChildProcess %p", static_cast<void*>(this));
    // The owners close the process, thread and pipe handles.
}

void ChildProcess::setCommandLine(const wchar_t* program, const wchar_t* arguments)
{
    _program = program ? program : L"";
    _arguments = arguments ? arguments : L"";
}

void ChildProcess::setCommandLine(const std::wstring& program, const std::wstring& arguments)
{
    if (&program != &_program) {
        _program = program;
    }
    if (&arguments != &_arguments) {
        _arguments = arguments;
    }
}

HANDLE ChildProcess::getProcessHandle()
{
    return _process.get();
}

HANDLE ChildProcess::getThreadHandle()
{
    return _thread.get();
}

HANDLE ChildProcess::getStdOutReadHandle()
{
    return _stdOutRead.get();
}

HANDLE ChildProcess::getStdInWriteHandle()
{
    return _stdInWrite.get();
}

HANDLE ChildProcess::getHandle()
{
    return _process.get();
}

std::wstring ChildProcess::commandLine() const
{
    return formatCommandLine(_program, _arguments);
}

bool ChildProcess::_prepareConnectingConsoleIo(ConsoleIoPipes& pipes)
{
    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof(inheritable);
    inheritable.lpSecurityDescriptor = nullptr;
    inheritable.bInheritHandle = TRUE;

    // The inheritable originals of the parent's ends close when this returns; only
    // copies that the child cannot inherit are kept.
    UniqueHandle inRead, inWrite, outRead, outWrite, inWriteCopy, outReadCopy, errWrite;
    if (!_api->CreatePipe(inRead.put(), inWrite.put(), &inheritable, 0)) {
        LogDebugA("ChildProcess::_prepareConnectingConsoleIo: CreatePipe(in) failed.");
        return false;
    }
    if (!_api->CreatePipe(outRead.put(), outWrite.put(), &inheritable, 0)) {
        LogDebugA("ChildProcess::_prepareConnectingConsoleIo: CreatePipe(out) failed.");
        return false;
    }
    const HANDLE self = ::GetCurrentProcess();
    if (!_api->DuplicateHandle(self, inWrite.get(), self, inWriteCopy.put(), 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        LogDebugA("ChildProcess::_prepareConnectingConsoleIo: DuplicateHandle(in) failed.");
        return false;
    }
    if (!_api->DuplicateHandle(self, outRead.get(), self, outReadCopy.put(), 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        LogDebugA("ChildProcess::_prepareConnectingConsoleIo: DuplicateHandle(out) failed.");
        return false;
    }
    if (!_api->DuplicateHandle(self, outWrite.get(), self, errWrite.put(), 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        LogDebugA("ChildProcess::_prepareConnectingConsoleIo: DuplicateHandle(err) failed.");
        return false;
    }
    pipes.stdInWrite = std::move(inWriteCopy);
    pipes.stdOutRead = std::move(outReadCopy);
    pipes.childStdIn = std::move(inRead);
    pipes.childStdOut = std::move(outWrite);
    pipes.childStdErr = std::move(errWrite);
    return true;
}

bool ChildProcess::_beginStart(const char* operation, bool connectConsoleIo, std::wstring& commandLine,
                               ConsoleIoPipes& pipes, STARTUPINFOW& startup)
{
    if (_program.empty()) {
        LogDebugA("%s: Command line was not set.", operation);
        return false;
    }
    LogDebugA("%s: \"%S\" %S", operation, _program.c_str(), _arguments.c_str());
    commandLine = this->commandLine();

    startup = STARTUPINFOW{};
    startup.cb = sizeof(startup);
    if (connectConsoleIo) {
        if (!_prepareConnectingConsoleIo(pipes)) {
            return false;
        }
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = pipes.childStdIn.get();
        startup.hStdOutput = pipes.childStdOut.get();
        startup.hStdError = pipes.childStdErr.get();
    }
    return true;
}

bool ChildProcess::_endStart(BOOL created, const char* failure, const PROCESS_INFORMATION& info,
                             ConsoleIoPipes& pipes, bool connectConsoleIo, bool newProcessGroup)
{
    const DWORD error = created ? ERROR_SUCCESS : ::GetLastError();
    // The child has its own copies now, or there is no child.
    pipes.childStdIn.reset();
    pipes.childStdOut.reset();
    pipes.childStdErr.reset();
    if (!created) {
        logFailure(failure, error);
        return false; // the new parent ends close with `pipes`; the earlier ones stay
    }
    _process.reset(info.hProcess);
    _thread.reset(info.hThread);
    if (connectConsoleIo) {
        _stdInWrite = std::move(pipes.stdInWrite);
        _stdOutRead = std::move(pipes.stdOutRead);
    }
    _consoleIoConnected = connectConsoleIo;
    _newProcessGroup = newProcessGroup;
    return true;
}

bool ChildProcess::startProcess(bool newProcessGroup, bool connectConsoleIo)
{
    std::wstring commandLine;
    ConsoleIoPipes pipes;
    STARTUPINFOW startup{};
    if (!_beginStart("ChildProcess::startProcess", connectConsoleIo, commandLine, pipes, startup)) {
        return false;
    }
    PROCESS_INFORMATION info{};
    const BOOL created = _api->CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE,
                                              newProcessGroup ? CREATE_NEW_PROCESS_GROUP : 0, nullptr, nullptr,
                                              &startup, &info);
    return _endStart(created, "ChildProcess::startProcess: CreateProcess failed.", info, pipes, connectConsoleIo,
                     newProcessGroup);
}

bool ChildProcess::startProcessAsUser(DWORD flags, bool newProcessGroup, bool connectConsoleIo)
{
    // Declared first, so that they go last: tokens and the environment block are released
    // on every way out, exceptions included.
    UniqueHandle userToken;   // from WTSQueryUserToken or OpenProcessToken
    UniqueHandle setAside;    // the user token while its linked token is used
    UniqueHandle duplicate;
    EnvironmentBlock environment(*_api);
    std::wstring commandLine;
    ConsoleIoPipes pipes;
    STARTUPINFOW startup{};
    if (!_beginStart("ChildProcess::startProcessAsUser", connectConsoleIo, commandLine, pipes, startup)) {
        return false;
    }

    const bool sessionZero = (flags & SessionZero) != 0;
    const bool ownToken = (flags & OwnProcessToken) != 0;
    DWORD sessionId = 0;
    if (!sessionZero) {
        sessionId = _api->WTSGetActiveConsoleSessionId();
        if (sessionId == 0xFFFFFFFF) {
            logFailure("WTSGetActiveConsoleSessionId failed", ::GetLastError());
            return false;
        }
    }
    LogDebugA("Session Id = %d", static_cast<int>(sessionId));

    // The token the child's token is made from; INVALID_HANDLE_VALUE when there is none.
    HANDLE token = INVALID_HANDLE_VALUE;
    if (ownToken) {
        if (!_api->OpenProcessToken(::GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_IMPERSONATE | TOKEN_QUERY,
                                    userToken.put())) {
            logFailure("OpenProcessToken failed", ::GetLastError());
            return false;
        }
        token = userToken.get();
    } else if (_api->WTSQueryUserToken(sessionId, userToken.put())) {
        token = userToken.get();
        if (flags & ElevatedLinkedToken) {
            TOKEN_LINKED_TOKEN linked{};
            DWORD length = 0;
            if (!_api->GetTokenInformation(token, TokenLinkedToken, &linked, sizeof(linked), &length) ||
                linked.LinkedToken == nullptr || linked.LinkedToken == INVALID_HANDLE_VALUE) {
                logFailure("Failed to get linked token handle.", ::GetLastError());
                return false;
            }
            setAside = std::move(userToken);
            userToken.reset(linked.LinkedToken);
            token = userToken.get();
            TOKEN_ELEVATION elevation{};
            if (!_api->GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &length)) {
                logFailure("Failed to get elevation information.", ::GetLastError());
                return false;
            }
            if (!elevation.TokenIsElevated) {
                LogDebugA("User's linked token is not elevated");
                return false;
            }
        }
    } else {
        userToken.release(); // keep no half-written value; there is no token
    }
    // Without a user token this fails (no user at the console), and says so.
    SECURITY_ATTRIBUTES notInherited{};
    notInherited.nLength = sizeof(notInherited);
    notInherited.lpSecurityDescriptor = nullptr;
    notInherited.bInheritHandle = FALSE;
    if (!_api->DuplicateTokenEx(token, TOKEN_ALL_ACCESS, &notInherited, SecurityIdentification, TokenPrimary,
                                duplicate.put())) {
        logFailure("DuplicateTokenEx failed", ::GetLastError());
        return false;
    }
    if (!_api->CreateEnvironmentBlock(environment.put(), token, FALSE)) {
        logFailure("CreateEnvironmentBlock failed", ::GetLastError());
        return false;
    }
    if (ownToken != sessionZero) {
        if (!_api->SetTokenInformation(duplicate.get(), TokenSessionId, &sessionId, sizeof(sessionId))) {
            logFailure("SetTokenInformation (Session Id) failed", ::GetLastError());
        }
    }
    if (flags & UiAccess) {
        DWORD uiAccess = 1;
        if (!_api->SetTokenInformation(duplicate.get(), TokenUIAccess, &uiAccess, sizeof(uiAccess))) {
            logFailure("SetTokenInformation (UI Access) failed.", ::GetLastError());
        }
    }
    wchar_t winlogonDesktop[] = L"winsta0\\Winlogon";
    wchar_t defaultDesktop[] = L"winsta0\\default";
    if (!sessionZero) {
        startup.lpDesktop = (flags & WinlogonDesktop) ? winlogonDesktop : defaultDesktop;
    }

    PROCESS_INFORMATION info{};
    const DWORD creationFlags = CREATE_NO_WINDOW | (environment.get() ? CREATE_UNICODE_ENVIRONMENT : 0);
    const BOOL created = _api->CreateProcessAsUserW(duplicate.get(), nullptr, &commandLine[0], nullptr, nullptr,
                                                    TRUE, creationFlags, environment.get(), nullptr, &startup,
                                                    &info);
    return _endStart(created, "CreateProcessAsUser failed", info, pipes, connectConsoleIo, newProcessGroup);
}

bool ChildProcess::waitProcessEnd(DWORD milliseconds, DWORD* exitCode)
{
    if (!_process) {
        LogDebugA("ChildProcess::waitProcessEnd: Any child processes not started.");
        return false;
    }
    switch (::WaitForSingleObject(_process.get(), milliseconds)) {
    case WAIT_OBJECT_0:
        if (exitCode != nullptr) {
            ::GetExitCodeProcess(_process.get(), exitCode);
        }
        return true;
    case WAIT_TIMEOUT:
        LogDebugA("ChildProcess::waitProcessEnd: Timed-out.");
        return false;
    default:
        LogDebugA("ChildProcess::waitProcessEnd: WaitForSingleObject failed.");
        return false;
    }
}

bool ChildProcess::sendConsoleCtrlEvent(DWORD ctrlEvent)
{
    if (!_newProcessGroup || !_process) {
        LogDebugA("ChildProcess::sendConsoleCtrlEvent: Any child processes not started or new process group "
                  "was not created.");
        return false;
    }
    const DWORD processId = ::GetProcessId(_process.get());
    if (processId == 0) {
        logFailure("ChildProcess::sendConsoleCtrlEvent: GetProcessId failed.", ::GetLastError());
        return false;
    }
    ::FreeConsole();
    if (!::AttachConsole(processId)) {
        logFailure("ChildProcess::sendConsoleCtrlEvent: AttachConsole failed.", ::GetLastError());
    }
    bool delivered = true;
    if (!::GenerateConsoleCtrlEvent(ctrlEvent, processId)) {
        logFailure("ChildProcess::sendConsoleCtrlEvent: GenerateConsoleCtrlEvent failed.", ::GetLastError());
        // The child is to end either way; only when even that fails is the call a failure.
        delivered = ::TerminateProcess(_process.get(), 0xFFFFFFFF) != FALSE;
    }
    _stdInWrite.reset();
    _stdOutRead.reset();
    return delivered;
}

HWND ChildProcess::getWindowHandle(const wchar_t* label, DWORD /*reserved*/)
{
    if (!_process) {
        LogDebugA("ChildProcess::getWindowHandle: Any child processes not started.");
        return nullptr;
    }
    const DWORD processId = ::GetProcessId(_process.get());
    if (processId == 0) {
        logFailure("ChildProcess::getWindowHandle: GetProcessId failed.", ::GetLastError());
        return nullptr;
    }
    LogDebugA("ChildProcess::getWindowHandle: Target %lu", static_cast<unsigned long>(processId));
    for (HWND window = ::GetTopWindow(nullptr); window != nullptr; window = ::GetWindow(window, GW_HWNDNEXT)) {
        if (::GetWindowLongPtrW(window, GWLP_HWNDPARENT) != 0 || !::IsWindowVisible(window)) {
            LogDebugW(L"%p:%s Skipped", static_cast<void*>(window), label);
            continue;
        }
        wchar_t title[300] = L"";
        ::GetWindowTextW(window, title, 300);
        DWORD windowProcessId = 0;
        ::GetWindowThreadProcessId(window, &windowProcessId);
        LogDebugW(L"%p[%lu]:%s", static_cast<void*>(window), static_cast<unsigned long>(windowProcessId), title);
        if (windowProcessId == processId) {
            return window;
        }
        LogDebugA("ChildProcess::getWindowHandle PID mismatch.");
    }
    return nullptr;
}

}} // namespace Corvane::Orlin
