#pragma once
// What the countermeasure's notification threads call to tell the user. The default binds
// to the notification launch of the service process; tests put a recorder in its place.

#include <string>

namespace tamselsvc { namespace model { namespace service {

class INoticeLauncher {
public:
    // Shows the notice through the console session, behind the launch gate; an empty
    // switch means "the current one" (see tamselsvc::process::notifyActiveUser).
    virtual void notifyActiveUser(const std::wstring& filePath, const std::wstring& noticeSwitch) = 0;
    // Starts the dialog without gate or session test and waits for its end.
    virtual void launchDialog(const std::wstring& noticeSwitch, const std::wstring& filePath) = 0;
};

// The launcher of the service process (tamselsvc::process).
INoticeLauncher& processNoticeLauncher();

// The launcher the notification threads use from now on; nullptr restores the default.
// Threads already running keep the one they started with.
void setNoticeLauncherForTesting(INoticeLauncher* launcher);
INoticeLauncher& currentNoticeLauncher();

}}} // namespace tamselsvc::model::service
