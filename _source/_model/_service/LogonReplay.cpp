#include "_model/_service/LogonReplay.h"

#include "_process/NotificationLaunch.h"
#include "_win32/DetachedThread.h"
#include "_win32/LogDebug.h"

#include <exception>

namespace tamselsvc { namespace model { namespace service {

Corvane::Orlin::Ports<LogonReplayPorts> logonReplayPorts{LogonReplayPorts{&Corvane::Orlin::StartDetachedThread}};

void replayDeferredNoticeAtLogon()
{
    if (!process::noticePending()) {
        return;
    }
    const std::wstring file = process::takePendingNoticeFile();
    if (file.empty()) {
        return;
    }
    const std::wstring noticeSwitch = process::currentMessageSwitch();
    try {
        logonReplayPorts().startThread([noticeSwitch, file] { process::launchDialogExclusive(noticeSwitch, file); });
    } catch (const std::exception& e) {
        // The notice is lost, as with any launch that cannot be made; the service goes on.
        Corvane::Orlin::LogDebugA("Cannot start the logon notice thread: %s", e.what());
    }
}

}}} // namespace tamselsvc::model::service
