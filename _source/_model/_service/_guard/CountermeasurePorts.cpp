#include "_model/_service/_guard/CountermeasurePorts.h"

#include "_model/_service/_guard/RestartList.h"
#include "_process/NotificationLaunch.h"
#include "_win32/DetachedThread.h"
#include "_win32/ReportAppEvent.h"

namespace tamselsvc { namespace model { namespace service {

Corvane::Orlin::Ports<CountermeasurePorts> countermeasurePorts{CountermeasurePorts{
    &Corvane::Orlin::ReportAppEvent,
    &Corvane::Orlin::StartDetachedThread,
    &process::notifyActiveUser,
    &process::launchDialog,
    &::CreateFileW,
    &::SetFileInformationByHandle,
    &::MoveFileExW,
    &readPendingFileRenameOperations,
}};

}}} // namespace tamselsvc::model::service
