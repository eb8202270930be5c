#include "_model/_service/_report/RegistrationWatch.h"

#include "_model/_service/_report/RegistrationScan.h"
#include "_model/_service/_report/ScheduledTasks.h"
#include "_win32/LogDebug.h"

namespace tamselsvc { namespace model { namespace service {

namespace {

constexpr DWORD kFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

std::wstring parentKey(const std::wstring& path)
{
    const size_t separator = path.rfind(L'\\');
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

bool isSet(HANDLE event)
{
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

} // namespace

RegistrationWatch::RegistrationWatch()
{
    auto add = [this](const std::wstring& path, REGSAM view, BOOL subtree) {
        Watched watched{path, view, subtree, Corvane::Orlin::UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
                        Corvane::Orlin::UniqueRegKey(), false};
        if (!watched.event) {
            Corvane::Orlin::LogDebugA("Registration watch: CreateEventW failed (%lu)", GetLastError());
            return;
        }
        _watched.push_back(std::move(watched));
    };
    add(kServicesKey, KEY_WOW64_64KEY, TRUE);
    const StartupViews views = startupViews();
    for (const wchar_t* path : kStartupKeys) {
        for (int i = 0; i < views.count; ++i) {
            add(path, views.views[i].sam, FALSE);
        }
    }
    for (int i = 0; i < views.count; ++i) {
        add(kRunOnceExKey, views.views[i].sam, TRUE); // its sections are subkeys
    }
    add(kWinlogonKey, views.views[0].sam, FALSE);
    add(kTaskCacheKey, views.views[0].sam, TRUE); // a task's registration, change or removal
}

void RegistrationWatch::arm()
{
    for (Watched& watched : _watched) {
        if (watched.armed && !isSet(watched.event.get())) {
            continue; // still armed
        }
        // Reopened each time: the key may have been deleted and made again meanwhile. The
        // old handle goes before the event is reset, since closing a watched key can set
        // its event.
        watched.key.reset();
        ResetEvent(watched.event.get());
        watched.armed = false;
        const REGSAM access = KEY_NOTIFY | watched.view;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, watched.path.c_str(), 0, access, watched.key.put()) == ERROR_SUCCESS &&
            RegNotifyChangeKeyValue(watched.key.get(), watched.subtree, kFilter, watched.event.get(), TRUE) ==
                ERROR_SUCCESS) {
            watched.armed = true;
            continue;
        }
        // Not there (yet): its parent tells when a subkey is made.
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, parentKey(watched.path).c_str(), 0, access, watched.key.put()) ==
                ERROR_SUCCESS &&
            RegNotifyChangeKeyValue(watched.key.get(), FALSE, REG_NOTIFY_CHANGE_NAME, watched.event.get(), TRUE) ==
                ERROR_SUCCESS) {
            watched.armed = true;
            continue;
        }
        watched.key.reset();
        Corvane::Orlin::LogDebugW(L"Registration watch: cannot watch %s", watched.path.c_str());
    }
}

RegistrationWatch::Outcome RegistrationWatch::wait(const std::vector<HANDLE>& stops, DWORD timeoutMs) const
{
    std::vector<HANDLE> handles;
    for (const HANDLE stop : stops) {
        if (stop) {
            handles.push_back(stop);
        }
    }
    const size_t stopCount = handles.size();
    for (const Watched& watched : _watched) {
        if (watched.armed) {
            handles.push_back(watched.event.get());
        }
    }
    if (handles.empty() || handles.size() > MAXIMUM_WAIT_OBJECTS) {
        return Outcome::Failed;
    }
    const DWORD wait =
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, timeoutMs);
    if (wait == WAIT_TIMEOUT) {
        return Outcome::TimedOut;
    }
    if (wait >= WAIT_OBJECT_0 && wait < WAIT_OBJECT_0 + stopCount) {
        return Outcome::Stopped;
    }
    if (wait >= WAIT_OBJECT_0 + stopCount && wait < WAIT_OBJECT_0 + handles.size()) {
        return Outcome::Changed;
    }
    return Outcome::Failed;
}

}}} // namespace tamselsvc::model::service
