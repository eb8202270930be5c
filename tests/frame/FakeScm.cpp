#include "FakeScm.h"

#include <algorithm>

namespace brimlock_test {

FakeScm::~FakeScm() = default;

BOOL WINAPI FakeScm::StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table)
{
    if (dispatcherError) {
        ::SetLastError(dispatcherError);
        return FALSE;
    }
    std::vector<std::thread> mains;
    {
        std::lock_guard<std::mutex> lock(_lock);
        _dispatching = true;
        for (const SERVICE_TABLE_ENTRYW* entry = table; entry->lpServiceName; ++entry) {
            _tableNames.push_back(entry->lpServiceName);
            _mainReturned[entry->lpServiceName] = false;
        }
    }
    for (const SERVICE_TABLE_ENTRYW* entry = table; entry->lpServiceName; ++entry) {
        std::wstring name = entry->lpServiceName;
        LPSERVICE_MAIN_FUNCTIONW main = entry->lpServiceProc;
        mains.emplace_back([this, name, main] {
            std::vector<wchar_t> arg(name.begin(), name.end());
            arg.push_back(L'\0');
            LPWSTR argv[] = {arg.data(), nullptr};
            main(1, argv);
            std::lock_guard<std::mutex> lock(_lock);
            _mainReturned[name] = true;
            _changed.notify_all();
        });
    }
    // The dispatcher loop: deliver controls until every service is stopped and returned.
    for (;;) {
        PendingControl next;
        {
            std::unique_lock<std::mutex> lock(_lock);
            _changed.wait(lock, [&] { return !_controls.empty() || allStopped(); });
            if (_controls.empty()) {
                break;
            }
            next = _controls.front();
            _controls.pop_front();
        }
        Registration target;
        bool found = false;
        {
            std::lock_guard<std::mutex> lock(_lock);
            for (const auto& registration : _registrations) {
                if (registration.name == next.service) {
                    target = registration;
                    found = true;
                }
            }
        }
        const DWORD result = found ? target.handler(next.code, next.eventType, nullptr, target.context)
                                   : ERROR_SERVICE_NOT_ACTIVE;
        next.result->set_value(result);
    }
    for (auto& thread : mains) {
        thread.join();
    }
    return TRUE;
}

bool FakeScm::allStopped() const
{
    for (const auto& entry : _mainReturned) {
        if (!entry.second) {
            return false;
        }
    }
    return true;
}

SERVICE_STATUS_HANDLE WINAPI FakeScm::RegisterServiceCtrlHandlerExW(LPCWSTR name, LPHANDLER_FUNCTION_EX handler,
                                                                    LPVOID context)
{
    if (failHandlerRegistration) {
        ::SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(_lock);
    _registrations.push_back(Registration{name, handler, context});
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(static_cast<ULONG_PTR>(_registrations.size()));
}

BOOL WINAPI FakeScm::SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status)
{
    std::lock_guard<std::mutex> lock(_lock);
    const size_t index = reinterpret_cast<ULONG_PTR>(handle);
    if (index == 0 || index > _registrations.size()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (failRunningReport && status->dwCurrentState == SERVICE_RUNNING) {
        ::SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    _reports.push_back(StatusReport{_registrations[index - 1].name, *status});
    _changed.notify_all();
    return TRUE;
}

BOOL WINAPI FakeScm::SetEvent(HANDLE event)
{
    {
        std::lock_guard<std::mutex> lock(_lock);
        ++_setEvents;
    }
    return ::SetEvent(event);
}

DWORD WINAPI FakeScm::WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    if (milliseconds == INFINITE && failStopWait) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (milliseconds != INFINITE) {
        std::lock_guard<std::mutex> lock(_lock);
        _timedWaits.push_back(milliseconds);
        if (workerWaitTimeouts > 0) {
            --workerWaitTimeouts;
            return WAIT_TIMEOUT;
        }
    }
    // A bounded real wait, so that a fault in the host fails the test instead of hanging it.
    return ::WaitForSingleObject(handle, milliseconds == INFINITE ? 20000 : milliseconds);
}

DWORD FakeScm::control(const std::wstring& service, DWORD code, DWORD eventType)
{
    auto result = std::make_shared<std::promise<DWORD>>();
    auto future = result->get_future();
    {
        std::lock_guard<std::mutex> lock(_lock);
        _controls.push_back(PendingControl{service, code, eventType, result});
    }
    _changed.notify_all();
    if (future.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        return 0xFFFFFFFF;
    }
    return future.get();
}

bool FakeScm::waitForState(const std::wstring& service, DWORD state, DWORD timeoutMs)
{
    std::unique_lock<std::mutex> lock(_lock);
    return _changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return std::any_of(_reports.begin(), _reports.end(), [&](const StatusReport& r) {
            return r.service == service && r.status.dwCurrentState == state;
        });
    });
}

std::vector<StatusReport> FakeScm::reports() const
{
    std::lock_guard<std::mutex> lock(_lock);
    return _reports;
}

std::vector<StatusReport> FakeScm::reportsOf(const std::wstring& service) const
{
    std::vector<StatusReport> result;
    for (const auto& r : reports()) {
        if (r.service == service) {
            result.push_back(r);
        }
    }
    return result;
}

std::vector<std::wstring> FakeScm::tableNames() const
{
    std::lock_guard<std::mutex> lock(_lock);
    return _tableNames;
}

std::vector<DWORD> FakeScm::timedWaits() const
{
    std::lock_guard<std::mutex> lock(_lock);
    return _timedWaits;
}

int FakeScm::setEventCalls() const
{
    std::lock_guard<std::mutex> lock(_lock);
    return _setEvents;
}

} // namespace brimlock_test
