#include "_process/ChildProcess.h"

#include "_win32/ErrorText.h"
#include "_win32/LogDebug.h"
#include "_win32/UniqueHandle.h"

#include <userenv.h>

#include <functional>
#include <utility>

namespace Corvane { namespace Orlin {

namespace {

// Writes the operation's own line, then the error line for the failed call's code.
void logFailure(const char* message, DWORD errorCode)
{
    LogDebugA("%s", message);
    LogErrorLineA(errorCode);
}

void closeIfOpen(HANDLE& handle)
{
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
    }
    handle = nullptr;
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

// The child's three pipe ends: the parent closes its copies once the create call is done,
// whatever its outcome.
struct ChildPipeEnds {
    UniqueHandle stdIn;
    UniqueHandle stdOut;
    UniqueHandle stdErr;
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
    closeIfOpen(_process);
    closeIfOpen(_thread);
    closeIfOpen(_stdOutRead);
    closeIfOpen(_stdInWrite);
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
    return _process;
}

HANDLE ChildProcess::getThreadHandle()
{
    return _thread;
}

HANDLE ChildProcess::getStdOutReadHandle()
{
    return _stdOutRead;
}

HANDLE ChildProcess::getStdInWriteHandle()
{
    return _stdInWrite;
}

HANDLE ChildProcess::getHandle()
{
    return _process;
}

std::wstring ChildProcess::commandLine() const
{
    if (_arguments.empty()) {
        return _program;
    }
    return L"\"" + _program + L"\" " + _arguments;
}

bool ChildProcess::_prepareConnectingConsoleIo(HANDLE* childStdIn, HANDLE* childStdOut, HANDLE* childStdErr)
{
    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof(inheritable);
    inheritable.lpSecurityDescriptor = nullptr;
    inheritable.bInheritHandle = TRUE;

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
    _savedStdInWrite = std::exchange(_stdInWrite, inWriteCopy.release());
    _savedStdOutRead = std::exchange(_stdOutRead, outReadCopy.release());
    *childStdIn = inRead.release();
    *childStdOut = outWrite.release();
    *childStdErr = errWrite.release();
    // inWrite and outRead, the inheritable originals of the parent ends, close here.
    return true;
}

void ChildProcess::_restoreSavedConsoleIo()
{
    closeIfOpen(_stdInWrite);
    closeIfOpen(_stdOutRead);
    _stdInWrite = std::exchange(_savedStdInWrite, nullptr);
    _stdOutRead = std::exchange(_savedStdOutRead, nullptr);
}

void ChildProcess::_dropSavedConsoleIo()
{
    closeIfOpen(_savedStdInWrite);
    closeIfOpen(_savedStdOutRead);
}

void ChildProcess::_adoptProcess(const PROCESS_INFORMATION& info)
{
    closeIfOpen(_process);
    closeIfOpen(_thread);
    _process = info.hProcess;
    _thread = info.hThread;
}

namespace {

// Restores the parent's pipe ends of an earlier start unless the start succeeded, also
// when an exception passes.
// The child's ends of the pipes: owned by `child` until the create call is done, and
// named as the child's standard handles in `startup`.
void handOverChildPipes(ChildPipeEnds& child, STARTUPINFOW& startup, HANDLE in, HANDLE out, HANDLE err)
{
    child.stdIn.reset(in);
    child.stdOut.reset(out);
    child.stdErr.reset(err);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
}

class ConsoleIoRollback {
public:
    explicit ConsoleIoRollback(std::function<void()> undo) : _undo(std::move(undo)) {}
    ~ConsoleIoRollback()
    {
        if (_armed) {
            _undo();
        }
    }
    ConsoleIoRollback(const ConsoleIoRollback&) = delete;
    ConsoleIoRollback& operator=(const ConsoleIoRollback&) = delete;
    void arm() { _armed = true; }
    void disarm() { _armed = false; }

private:
    std::function<void()> _undo;
    bool _armed = false;
};

} // namespace

bool ChildProcess::startProcess(bool newProcessGroup, bool connectConsoleIo)
{
    if (_program.empty()) {
        LogDebugA("ChildProcess::startProcess: Command line was not set.");
        return false;
    }
    LogDebugA("ChildProcess::startProcess: \"%S\" %S", _program.c_str(), _arguments.c_str());
    std::wstring commandLine = this->commandLine();

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    ChildPipeEnds child;
    ConsoleIoRollback rollback([this] { _restoreSavedConsoleIo(); });
    if (connectConsoleIo) {
        HANDLE in = nullptr, out = nullptr, err = nullptr;
        if (!_prepareConnectingConsoleIo(&in, &out, &err)) {
            return false;
        }
        rollback.arm();
        handOverChildPipes(child, startup, in, out, err);
    }

    PROCESS_INFORMATION info{};
    const BOOL created = _api->CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE,
                                              newProcessGroup ? CREATE_NEW_PROCESS_GROUP : 0, nullptr, nullptr,
                                              &startup, &info);
    const DWORD error = created ? ERROR_SUCCESS : ::GetLastError();
    child = ChildPipeEnds();
    if (!created) {
        logFailure("ChildProcess::startProcess: CreateProcess failed.", error);
        return false; // rollback puts the earlier pipe ends back
    }
    rollback.disarm();
    _adoptProcess(info);
    if (connectConsoleIo) {
        _dropSavedConsoleIo();
    }
    _consoleIoConnected = connectConsoleIo;
    _newProcessGroup = newProcessGroup;
    return true;
}

bool ChildProcess::startProcessAsUser(DWORD flags, bool newProcessGroup, bool connectConsoleIo)
{
    if (_program.empty()) {
        LogDebugA("ChildProcess::startProcessAsUser: Command line was not set.");
        return false;
    }
    LogDebugA("ChildProcess::startProcessAsUser: \"%S\" %S", _program.c_str(), _arguments.c_str());
    std::wstring commandLine = this->commandLine();

    // Declared before everything they release, so that they go last: tokens and the
    // environment block are released on every way out, exceptions included.
    UniqueHandle userToken;   // from WTSQueryUserToken or OpenProcessToken
    UniqueHandle setAside;    // the user token while its linked token is used
    UniqueHandle duplicate;
    EnvironmentBlock environment(*_api);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    ChildPipeEnds child;
    ConsoleIoRollback rollback([this] { _restoreSavedConsoleIo(); });
    if (connectConsoleIo) {
        HANDLE in = nullptr, out = nullptr, err = nullptr;
        if (!_prepareConnectingConsoleIo(&in, &out, &err)) {
            return false;
        }
        rollback.arm();
        handOverChildPipes(child, startup, in, out, err);
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
    const DWORD error = created ? ERROR_SUCCESS : ::GetLastError();
    child = ChildPipeEnds();
    if (!created) {
        logFailure("CreateProcessAsUser failed", error);
        return false;
    }
    rollback.disarm();
    _adoptProcess(info);
    if (connectConsoleIo) {
        _dropSavedConsoleIo();
    }
    _consoleIoConnected = connectConsoleIo;
    _newProcessGroup = newProcessGroup;
    return true;
}

bool ChildProcess::waitProcessEnd(DWORD milliseconds, DWORD* exitCode)
{
    if (_process == nullptr) {
        LogDebugA("ChildProcess::waitProcessEnd: Any child processes not started.");
        return false;
    }
    switch (::WaitForSingleObject(_process, milliseconds)) {
    case WAIT_OBJECT_0:
        if (exitCode != nullptr) {
            ::GetExitCodeProcess(_process, exitCode);
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
    if (!_newProcessGroup || _process == nullptr) {
        LogDebugA("ChildProcess::sendConsoleCtrlEvent: Any child processes not started or new process group "
                  "was not created.");
        return false;
    }
    const DWORD processId = ::GetProcessId(_process);
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
        delivered = ::TerminateProcess(_process, 0xFFFFFFFF) != FALSE;
    }
    closeIfOpen(_stdInWrite);
    closeIfOpen(_stdOutRead);
    return delivered;
}

HWND ChildProcess::getWindowHandle(const wchar_t* label, DWORD /*reserved*/)
{
    if (_process == nullptr) {
        LogDebugA("ChildProcess::getWindowHandle: Any child processes not started.");
        return nullptr;
    }
    const DWORD processId = ::GetProcessId(_process);
    if (processId == 0) {
        logFailure("ChildProcess::getWindowHandle: GetProcessId failed.", ::GetLastError());
        return nullptr;
    }
    LogDebugA("ChildProcess::getWindowHandle: Target %lu", static_cast<unsigned long>(processId));
    for (HWND window = ::GetTopWindow(nullptr); window != nullptr; window = ::GetWindow(window, GW_HWNDNEXT)) {
        if (::GetWindowLongW(window, GWL_HWNDPARENT) != 0 || !::IsWindowVisible(window)) {
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
