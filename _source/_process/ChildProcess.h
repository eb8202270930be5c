#pragma once
// The program started for one launch: its path and argument text, and the handles of the
// started child, which this object owns and closes when it goes.
//
// A failed start leaves the process and thread handles as they were and releases every
// token, environment block and pipe handle it made; the pipe ends of an earlier start are
// put back. A successful start replaces (and closes) the handles of an earlier start.

#include "_process/IChildProcess.h"
#include "_process/IChildProcessApi.h"

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

    // The command line a start passes: the bare program path when there are no
    // arguments, else the quoted path, one space and the arguments.
    std::wstring commandLine() const;

private:
    // Makes the two pipes. On success the new parent ends are in _stdInWrite/_stdOutRead,
    // the former ones in the saved slots, and the child's three ends (inheritable) in the
    // out-arguments for the caller to close. On failure nothing is changed or left open.
    bool _prepareConnectingConsoleIo(HANDLE* childStdIn, HANDLE* childStdOut, HANDLE* childStdErr);
    // After a failed start with pipes: closes the new parent ends and puts the saved back.
    void _restoreSavedConsoleIo();
    // After a successful start with pipes: closes the parent ends of the earlier start.
    void _dropSavedConsoleIo();
    // Takes the handles of a created child, closing those of an earlier start.
    void _adoptProcess(const PROCESS_INFORMATION& info);

    HANDLE _process = nullptr;
    HANDLE _thread = nullptr;
    HANDLE _stdOutRead = nullptr;
    HANDLE _stdInWrite = nullptr;
    HANDLE _savedStdOutRead = nullptr;
    HANDLE _savedStdInWrite = nullptr;
    bool _newProcessGroup = false;
    bool _consoleIoConnected = false;
    std::wstring _program;
    std::wstring _arguments;
    IChildProcessApi* _api;
};

}} // namespace Corvane::Orlin
