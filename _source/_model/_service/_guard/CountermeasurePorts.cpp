#include "_model/_service/_guard/CountermeasurePorts.h"

#include "_model/_service/_guard/OffendingEntry.h"
#include "_model/_service/_guard/RestartList.h"
#include "_process/NotificationLaunch.h"
#include "_win32/DetachedThread.h"
#include "_win32/ReportAppEvent.h"

#include <bcrypt.h>

namespace tamselsvc { namespace model { namespace service {

namespace {

NTSTATUS NTAPI ntdllCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                               PIO_STATUS_BLOCK status, PLARGE_INTEGER allocationSize, ULONG fileAttributes,
                               ULONG share, ULONG disposition, ULONG options, PVOID eaBuffer, ULONG eaLength)
{
    using Fn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                                ULONG, ULONG, ULONG, PVOID, ULONG);
    static const Fn fn =
        reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
    if (!fn) {
        return static_cast<NTSTATUS>(0xC0000002L); // STATUS_NOT_IMPLEMENTED
    }
    return fn(handle, access, attributes, status, allocationSize, fileAttributes, share, disposition, options,
              eaBuffer, eaLength);
}

bool systemRandomBytes(void* bytes, ULONG count)
{
    return BCRYPT_SUCCESS(
        BCryptGenRandom(nullptr, static_cast<PUCHAR>(bytes), count, BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

} // namespace

Corvane::Orlin::Ports<CountermeasurePorts> countermeasurePorts{CountermeasurePorts{
    &Corvane::Orlin::ReportAppEvent,
    &Corvane::Orlin::StartDetachedThread,
    &process::notifyActiveUser,
    &process::launchDialog,
    &openEntryCompletingIfOplocked,
    &ntdllCreateFile,
    &::SetFileInformationByHandle,
    &::MoveFileExW,
    &readPendingFileRenameOperations,
    &::GetTickCount64,
    &systemRandomBytes,
}};

}}} // namespace tamselsvc::model::service
