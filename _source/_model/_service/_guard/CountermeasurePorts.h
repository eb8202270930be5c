#pragma once
// The seam of the countermeasure: the system calls and outlets that a test must be able to
// steer, in one set swapped whole by Ports<CountermeasurePorts>::Override (see Ports.h).

#include "_win32/Ports.h"

#include <windows.h>
#include <winternl.h>

#include <functional>
#include <string>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

struct CountermeasurePorts {
    // One record under "brimlock": text, event type, event id (ReportAppEvent).
    void (*report)(const std::wstring& text, WORD eventType, DWORD eventId);
    // Starts a detached notification thread running `body`; raises std::system_error when
    // it cannot (StartDetachedThread).
    void (*startThread)(std::function<void()> body);
    // The notices, called on the notification threads (so a set that replaces them must
    // outlive those threads). Through the console session, behind the launch gate; an
    // empty switch means "the current one" (process::notifyActiveUser).
    void (*notifyActiveUser)(const std::wstring& filePath, const std::wstring& noticeSwitch);
    // The dialog without gate or session test, waiting for its end (process::launchDialog).
    void (*launchDialog)(const std::wstring& noticeSwitch, const std::wstring& filePath);
    // Opens an offending entry, with CreateFileW's arguments and results
    // (openEntryCompletingIfOplocked, which opens through ntCreateFile).
    HANDLE(WINAPI* createFile)(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD creation, DWORD flags, HANDLE templateFile);
    // NtCreateFile of ntdll, as openEntryCompletingIfOplocked calls it.
    NTSTATUS(NTAPI* ntCreateFile)(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                  PIO_STATUS_BLOCK status, PLARGE_INTEGER allocationSize, ULONG fileAttributes,
                                  ULONG share, ULONG disposition, ULONG options, PVOID eaBuffer, ULONG eaLength);
    // Renames an opened entry through its handle (SetFileInformationByHandle).
    BOOL(WINAPI* setFileInformationByHandle)(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID info,
                                             DWORD size);
    // The rename by path where a handle rename is not possible, and the operations
    // scheduled for the restart (MoveFileExW).
    BOOL(WINAPI* moveFileEx)(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags);
    // The strings of PendingFileRenameOperations, in order; true with an empty list when
    // the value does not exist, false when it cannot be read.
    bool (*readRestartList)(std::vector<std::wstring>& strings);
    // Milliseconds since some fixed moment (GetTickCount64): the clock of the flood bound.
    ULONGLONG(WINAPI* tickCount)();
    // Fills `bytes` with `count` random bytes for a name nobody can take in advance; false
    // when the system's generator fails.
    bool (*randomBytes)(void* bytes, ULONG count);
};

extern Corvane::Orlin::Ports<CountermeasurePorts> countermeasurePorts;

}}} // namespace tamselsvc::model::service
