#pragma once
// The program started for one launch: its path and argument text, and the handles of the
// started child, which this object owns and closes when it goes.
//
// A failed start leaves the process and thread handles and the pipe ends of an earlier
// start as they were, and releases every token, environment block and pipe handle it made.
// A successful start replaces (and closes) the handles of an earlier start; the earlier
// pipe ends only when it connects pipes of its own.

#include "_process/IChildProcess.h"
#include "_process/IChildProcessApi.h"
#include "_win32/UniqueHandle.h"

#include <string>

namespace Corvane { namespace Orlin {

class ChildProcess : public IChildProcess {
public:
    ChildProcess(const std::wstring& program, const std::wstring& arguments);
    // As above, with the pipe, token and create calls going to `api`, which must outlive
    // the object (a test seam).
    ChildProcess(const std::wstring& program, const std::wstring& arguments, IChildProcessApi& api);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void setCommandLine(const wchar_t* program, const wchar_t* arguments) override;
    void setCommandLine(const std::wstring& program, const std::wstring& arguments) override;
    HANDLE getProcessHandle() override;
    HANDLE getThreadHandle() override;
    HANDLE getStdOutReadHandle() override;
    HANDLE getStdInWriteHandle() override;
    HANDLE getHandle() override;
    bool sendConsoleCtrlEvent(DWORD ctrlEvent) override;
    bool startProcess(bool newProcessGroup, bool connectConsoleIo) override;
    bool startProcessAsUser(DWORD flags, bool newProcessGroup, bool connectConsoleIo) override;
    bool waitProcessEnd(DWORD milliseconds, DWORD* exitCode = nullptr) override;
    HWND getWindowHandle(const wchar_t* label, DWORD reserved) override;

    // The command line a start passes (formatCommandLine): the bare program path when
    // there are no arguments, else the quoted path, one space and the arguments.
    std::wstring commandLine() const;

private:
    // The pipes of a start with connected console I/O: the parent's two ends (not
    // inheritable), which become this object's once the child is created, and the child's
    // three (inheritable), which the parent closes once the create call is done.
    struct ConsoleIoPipes {
        UniqueHandle stdInWrite;
        UniqueHandle stdOutRead;
        UniqueHandle childStdIn;
        UniqueHandle childStdOut;
        UniqueHandle childStdErr;
    };

    // The steps a start begins with: the command line (false, logged, when there is no
    // program) and, with `connectConsoleIo`, the pipes named in `startup` (false when they
    // cannot be made). `operation` names the start in its log lines.
    bool _beginStart(const char* operation, bool connectConsoleIo, std::wstring& commandLine,
                     ConsoleIoPipes& pipes, STARTUPINFOW& startup);
    // Makes the pipes. On failure nothing is left open and `pipes` stays empty.
    bool _prepareConnectingConsoleIo(ConsoleIoPipes& pipes);
    // The steps a start ends with, right after its create call: closes the child's pipe
    // ends, then either logs `failure` with the error line (the handles of an earlier start
    // stay) or takes the new child's handles and, with pipes, the parent's new ends.
    bool _endStart(BOOL created, const char* failure, const PROCESS_INFORMATION& info, ConsoleIoPipes& pipes,
                   bool connectConsoleIo, bool newProcessGroup);

    UniqueHandle _process;
    UniqueHandle _thread;
    UniqueHandle _stdOutRead;
    UniqueHandle _stdInWrite;
    bool _newProcessGroup = false;
    bool _consoleIoConnected = false;
    std::wstring _program;
    std::wstring _arguments;
    IChildProcessApi* _api;
};

}} // namespace Corvane::Orlin
