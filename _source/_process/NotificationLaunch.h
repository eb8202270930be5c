#pragma once
// Tells the user at the physical console about a countermeasure: starts the dialog program
// from the service's folder, in the active console session under that user's account, and
// waits until the user has closed it. A notice given through notifyActiveUser while the
// console session is not active is kept for the next logon (one file, the latest).
//
// Dialog command line: "<service folder>\brimlockdlg.exe" <switch> "<file path>"

#include "_win32/Ports.h"
#include "_win32/SrwLock.h"

#include <atomic>
#include <mutex>
#include <string>

namespace Corvane { namespace Orlin {
class IChildProcessApi;
}} // namespace Corvane::Orlin

namespace tamselsvc { namespace process {

class ISessionInfoApi;

// The seam of the launches: the console-session query, and the system calls of the
// ChildProcess each launch makes. Wine cannot answer the session query, so tests put a
// substitute here to see the active, not-active and failed cases.
struct NotificationLaunchPorts {
    ISessionInfoApi* sessionInfo;
    Corvane::Orlin::IChildProcessApi* childProcess;
};
extern Corvane::Orlin::Ports<NotificationLaunchPorts> notificationLaunchPorts;

// Notice switches.
constexpr wchar_t kNoticeNormal[] = L"/normal";
constexpr wchar_t kNoticeRestart[] = L"/restart";
constexpr wchar_t kNoticeFatal[] = L"/fatal";
constexpr wchar_t kDialogProgramName[] = L"brimlockdlg.exe";

// A countermeasure that completes only at the next restart exists; never cleared.
extern std::atomic<bool> g_restartPending;
// Taken only with try_lock; held by an exclusive launch until its dialog has ended.
extern Corvane::Orlin::SrwLock g_launchGate;
// Folder of the service program, set once when the service starts, before any launch.
extern std::wstring g_serviceDirectory;

// The notice kept for the next logon. The flag, once set, stays set; the file is the
// latest deferred one and is emptied by takePendingNoticeFile.
bool noticePending();
std::wstring pendingNoticeFile();
// Returns the pending file and empties it, in one step under the notice's lock.
std::wstring takePendingNoticeFile();
// Sets the flag and replaces the pending file.
void deferNotice(const std::wstring& filePath);

// "/restart" when g_restartPending is set, else "/normal".
std::wstring currentMessageSwitch();
// g_serviceDirectory joined with brimlockdlg.exe by path rules.
std::wstring dialogProgramPath();
// The dialog command line's argument text: <switch> "<file path>".
std::wstring dialogArguments(const std::wstring& noticeSwitch, const std::wstring& filePath);

// Starts the dialog with the console user's token and waits for its end. One attempt;
// a failed start is logged by ChildProcess and the notice is lost. Lets exceptions pass.
void launchDialog(const std::wstring& noticeSwitch, const std::wstring& filePath);
// As launchDialog behind g_launchGate: returns at once, starting nothing, when the gate
// is held. Swallows every exception and always frees the gate it took.
void launchDialogExclusive(const std::wstring& noticeSwitch, const std::wstring& filePath);
// Shows the notice now through launchDialogExclusive when the console session is active
// (with `noticeSwitch`, or currentMessageSwitch() when it is empty), keeps it for the
// next logon when it is not, and drops it when the session cannot be queried.
void notifyActiveUser(const std::wstring& filePath, const std::wstring& noticeSwitch);

}} // namespace tamselsvc::process
