// TamselService::StopServiceMyself: asks the service control manager to stop "tamselsvc".
// Each step leaves one record (when the event-log switch is on) and one wide diagnostic
// line; the record keeps its text unformatted and carries the number as its event ID.
#include "_model/_service/SelfStop.h"
#include "_model/_service/TamselService.h"

#include "_win32/LogDebug.h"

namespace tamselsvc { namespace model { namespace service {

namespace {

// The stop request names the service itself, whatever name the object carries.
constexpr wchar_t kServiceName[] = L"tamselsvc";
// SC_MANAGER_ALL_ACCESS by value; it includes SERVICE_STOP.
constexpr DWORD kServiceAccess = 0xF003F;
constexpr DWORD kStartNumber = 500;

constexpr wchar_t kStartText[] = L"StopServiceMyself()\n";
constexpr wchar_t kManagerFailedText[] = L"OpenSCManager failed (%d)\n";
constexpr wchar_t kServiceFailedText[] = L"OpenService failed (%d)\n";
constexpr wchar_t kAcceptedText[] = L"StopServiceMyself Request success : %d\n";
constexpr wchar_t kRefusedText[] = L"StopServiceMyself Request error: %d\n";

const ServiceControlCalls kSystemCalls = {&::OpenSCManagerW, &::OpenServiceW, &::ControlService,
                                          &::CloseServiceHandle};
const ServiceControlCalls* s_calls = &kSystemCalls;

// Closes through the seam, so a fake handle never reaches the system.
class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle) : _handle(handle) {}
    ~ScHandle()
    {
        if (_handle) {
            s_calls->closeServiceHandle(_handle);
        }
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return _handle; }

private:
    SC_HANDLE _handle;
};

} // namespace

void SetServiceControlCallsForTesting(const ServiceControlCalls* calls)
{
    s_calls = calls ? calls : &kSystemCalls;
}

void TamselService::StopServiceMyself()
{
    const auto step = [this](const wchar_t* text, DWORD number) {
        outputSettings.reportEvent(number, text);
        Corvane::Orlin::LogDebugW(text, static_cast<int>(number));
    };

    step(kStartText, kStartNumber);

    ScHandle manager(s_calls->openSCManager(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.get()) {
        step(kManagerFailedText, GetLastError());
        return;
    }
    // Declared after the manager, so the service handle is closed first.
    ScHandle service(s_calls->openService(manager.get(), kServiceName, kServiceAccess));
    if (!service.get()) {
        step(kServiceFailedText, GetLastError());
        return;
    }
    SERVICE_STATUS status{};
    if (s_calls->controlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        step(kAcceptedText, GetLastError());
    } else {
        step(kRefusedText, GetLastError());
    }
}

}}} // namespace tamselsvc::model::service
