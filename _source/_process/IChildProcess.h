#pragma once
// A child program started by this process, either as an ordinary child or with the token
// of the user at the physical console (from a service running as LocalSystem).
//
// No operation throws for a failed system call: each failure is a diagnostic log line
// (followed by the "errorcode=..." line where the call set a last-error value) and a
// false or null result.

#include <windows.h>

#include <string>

namespace Corvane { namespace Orlin {

// Bits of the flags of startProcessAsUser; every other bit is ignored.
enum StartAsUserFlags : DWORD {
    // The calling process's own token instead of the console user's.
    OwnProcessToken = 0x01,
    // The console user's linked token, which must be elevated.
    ElevatedLinkedToken = 0x02,
    // "winsta0\Winlogon" instead of "winsta0\default".
    WinlogonDesktop = 0x04,
    // The new token gets UI access.
    UiAccess = 0x08,
    // Session 0 instead of the active console session, and no desktop named.
    SessionZero = 0x10,
};

// Calling order for one launch: construct (or setCommandLine), one start, then
// waitProcessEnd, getWindowHandle or sendConsoleCtrlEvent as needed, then destroy.
// No virtual destructor: objects are owned by value as their concrete type.
class IChildProcess {
public:
    virtual void setCommandLine(const wchar_t* program, const wchar_t* arguments) = 0;
    // Assigning the object's own strings is a no-op.
    virtual void setCommandLine(const std::wstring& program, const std::wstring& arguments) = 0;
    virtual HANDLE getProcessHandle() = 0;
    virtual HANDLE getThreadHandle() = 0;
    // Parent's read end of the child's standard output and standard error; null without pipes.
    virtual HANDLE getStdOutReadHandle() = 0;
    // Parent's write end of the child's standard input; null without pipes.
    virtual HANDLE getStdInWriteHandle() = 0;
    // The process handle (as getProcessHandle).
    virtual HANDLE getHandle() = 0;
    // Sends `ctrlEvent` to the child's process group. Needs a start with a new process
    // group. Leaves the caller attached to the child's console and closes both pipe ends.
    virtual bool sendConsoleCtrlEvent(DWORD ctrlEvent) = 0;
    // CreateProcessW as a child of this process.
    virtual bool startProcess(bool newProcessGroup, bool connectConsoleIo) = 0;
    // CreateProcessAsUserW with the console user's token (see StartAsUserFlags).
    // `newProcessGroup` is only recorded for sendConsoleCtrlEvent.
    virtual bool startProcessAsUser(DWORD flags, bool newProcessGroup, bool connectConsoleIo) = 0;
    // True when the child has ended within `milliseconds` (INFINITE allowed); then its
    // exit code goes to `exitCode` when given.
    virtual bool waitProcessEnd(DWORD milliseconds, DWORD* exitCode = nullptr) = 0;
    // The child's first visible unowned top-level window in Z order, or null. `label` only
    // appears in the log; `reserved` is not read.
    virtual HWND getWindowHandle(const wchar_t* label, DWORD reserved) = 0;

protected:
    IChildProcess() = default;
    IChildProcess(const IChildProcess&) = default;
    IChildProcess& operator=(const IChildProcess&) = default;
    ~IChildProcess() = default;
};

}} // namespace Corvane::Orlin
