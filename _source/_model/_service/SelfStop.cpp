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

// Closes through the set that opened it, so a fake handle never reaches the system.
class ScHandle {
public:
    ScHandle(SC_HANDLE handle, const SelfStopPorts& calls) : _handle(handle), _calls(calls) {}
    ~ScHandle()
    {
        if (_handle) {
            _calls.closeServiceHandle(_handle);
        }
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    SC_HANDLE get() const { return _handle; }

private:
    SC_HANDLE _handle;
    const SelfStopPorts& _calls;
};

} // namespace

Corvane::Orlin::Ports<SelfStopPorts> selfStopPorts{
    SelfStopPorts{&::OpenSCManagerW, &::OpenServiceW, &::ControlService, &::CloseServiceHandle}};

void TamselService::StopServiceMyself()
{
    const auto step = [this](const wchar_t* text, DWORD number) {
        outputSettings.reportEvent(number, text);
        Corvane::Orlin::LogDebugW(text, static_cast<int>(number));
    };

    step(kStartText, kStartNumber);

    const SelfStopPorts& calls = selfStopPorts();
    ScHandle manager(calls.openSCManager(nullptr, nullptr, SC_MANAGER_CONNECT), calls);
    if (!manager.get()) {
        step(kManagerFailedText, GetLastError());
        return;
    }
    // Declared after the manager, so the service handle is closed first.
    ScHandle service(calls.openService(manager.get(), kServiceName, kServiceAccess), calls);
    if (!service.get()) {
        step(kServiceFailedText, GetLastError());
        return;
    }
    SERVICE_STATUS status{};
    if (calls.controlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        step(kAcceptedText, GetLastError());
    } else {
        step(kRefusedText, GetLastError());
    }
}

}}} // namespace tamselsvc::model::service
