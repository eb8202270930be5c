#pragma once
// Shows, at a user's logon, the notice that waited because nobody was signed in at the
// console: once, with the notice switch of the moment of the logon ("/restart" once a
// restart is pending, else "/normal"), behind the launch gate.
//
// The pending file is taken (read and emptied in one step) at the logon, whether or not
// the dialog can then be shown, and the dialog runs on a thread of its own, so that the
// control handler answers a stop or pre-shutdown at once while the user reads the notice.
// A notice deferred while that dialog is open is kept for the next logon.

#include "_win32/Ports.h"

#include <functional>
#include <string>

namespace tamselsvc { namespace model { namespace service {

// Called on the control handler's thread for WTS_SESSION_LOGON. Returns at once.
void replayDeferredNoticeAtLogon();

// The seam of the replay, swapped whole by Ports<LogonReplayPorts>::Override.
struct LogonReplayPorts {
    // Starts the replay's detached thread; raises std::system_error when it cannot
    // (StartDetachedThread).
    void (*startThread)(std::function<void()> body);
};
extern Corvane::Orlin::Ports<LogonReplayPorts> logonReplayPorts;

}}} // namespace tamselsvc::model::service
