#include "_process/NotificationLaunch.h"

#include "_process/CChildProcessApi.h"
#include "_process/ChildProcess.h"
#include "_process/DialogCommandLine.h"
#include "_process/SessionInfoApi.h"

#include <windows.h>
#include <wtsapi32.h>

namespace tamselsvc { namespace process {

std::atomic<bool> g_restartPending{false};
Corvane::Orlin::SrwLock g_launchGate;
std::wstring g_serviceDirectory;

namespace {

std::atomic<bool> g_noticePending{false};
Corvane::Orlin::SrwLock g_pendingNoticeLock;
std::wstring g_pendingNoticeFile; // guarded by g_pendingNoticeLock

// The thread that holds g_launchGate, so that a launch nested on that thread is refused
// like any other, whatever the lock would say to a second try by its owner.
std::atomic<DWORD> g_launchGateOwner{0};

// Frees a WTSQuerySessionInformationW buffer through the seam that made it.
class SessionInfoBuffer {
public:
    explicit SessionInfoBuffer(ISessionInfoApi& api) : _api(api) {}
    ~SessionInfoBuffer()
    {
        if (_buffer != nullptr) {
            _api.WTSFreeMemory(_buffer);
        }
    }
    SessionInfoBuffer(const SessionInfoBuffer&) = delete;
    SessionInfoBuffer& operator=(const SessionInfoBuffer&) = delete;
    LPWSTR* put() { return &_buffer; }
    LPWSTR get() const { return _buffer; }

private:
    ISessionInfoApi& _api;
    LPWSTR _buffer = nullptr;
};

} // namespace

Corvane::Orlin::Ports<NotificationLaunchPorts> notificationLaunchPorts{
    NotificationLaunchPorts{&CSessionInfoApi::instance(), &Corvane::Orlin::CChildProcessApi::instance()}};

bool noticePending()
{
    return g_noticePending.load();
}

std::wstring pendingNoticeFile()
{
    std::lock_guard<Corvane::Orlin::SrwLock> lock(g_pendingNoticeLock);
    return g_pendingNoticeFile;
}

std::wstring takePendingNoticeFile()
{
    std::wstring taken;
    std::lock_guard<Corvane::Orlin::SrwLock> lock(g_pendingNoticeLock);
    taken.swap(g_pendingNoticeFile);
    return taken;
}

void deferNotice(const std::wstring& filePath)
{
    std::wstring copy = filePath; // may throw; done before anything changes
    {
        std::lock_guard<Corvane::Orlin::SrwLock> lock(g_pendingNoticeLock);
        g_pendingNoticeFile.swap(copy);
    }
    g_noticePending.store(true);
}

std::wstring currentMessageSwitch()
{
    return g_restartPending.load() ? kNoticeRestart : kNoticeNormal;
}

std::wstring dialogProgramPath()
{
    std::wstring path = g_serviceDirectory;
    if (!path.empty() && path.back() != L'\\') {
        path += L'\\';
    }
    return path + kDialogProgramName;
}

std::wstring dialogArguments(const std::wstring& noticeSwitch, const std::wstring& filePath)
{
    return formatDialogArguments(noticeSwitch, filePath);
}

void launchDialog(const std::wstring& noticeSwitch, const std::wstring& filePath)
{
    Corvane::Orlin::ChildProcess dialog(dialogProgramPath(), dialogArguments(noticeSwitch, filePath),
                                        *notificationLaunchPorts().childProcess);
    dialog.startProcessAsUser(0, false, false);
    dialog.waitProcessEnd(INFINITE);
}

void launchDialogExclusive(const std::wstring& noticeSwitch, const std::wstring& filePath)
{
    const DWORD self = ::GetCurrentThreadId();
    if (g_launchGateOwner.load() == self) {
        return;
    }
    std::unique_lock<Corvane::Orlin::SrwLock> gate(g_launchGate, std::try_to_lock);
    if (!gate.owns_lock()) {
        return;
    }
    g_launchGateOwner.store(self);
    try {
        launchDialog(noticeSwitch, filePath);
    } catch (...) {
        // A notice is one attempt; whatever went wrong, the gate must open again.
    }
    g_launchGateOwner.store(0);
}

void notifyActiveUser(const std::wstring& filePath, const std::wstring& noticeSwitch)
{
    ISessionInfoApi& api = *notificationLaunchPorts().sessionInfo;
    const DWORD sessionId = api.WTSGetActiveConsoleSessionId();
    SessionInfoBuffer info(api);
    DWORD bytes = 0;
    if (!api.WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, WTSSessionInfo, info.put(), &bytes) ||
        info.get() == nullptr || bytes < sizeof(WTSINFOW)) {
        return;
    }
    const auto* session = reinterpret_cast<const WTSINFOW*>(info.get());
    if (session->State != WTSActive) {
        deferNotice(filePath);
        return;
    }
    launchDialogExclusive(noticeSwitch.empty() ? currentMessageSwitch() : noticeSwitch, filePath);
}

}} // namespace tamselsvc::process
