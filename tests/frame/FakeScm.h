#pragma once
// A stand-in for the service control manager behind the IWin32Api facade. Its dispatcher
// starts each table entry's service-main on a thread of its own, as the SCM does, then
// delivers the controls a test posts on the dispatching thread, until every service has
// reported SERVICE_STOPPED and its service-main has returned. Everything else goes to the
// real system. Waits on a worker thread handle can be scripted to time out, so the stop
// loop's 10-second steps take no real time.

#include "_win32/CWin32Api.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brimlock_test {

struct StatusReport {
    std::wstring service;
    SERVICE_STATUS status;
};

class FakeScm : public Corvane::Orlin::CWin32Api {
public:
    ~FakeScm();

    // Configuration, before CService::Run.
    DWORD dispatcherError = 0;           // non-zero: the dispatcher fails with this error
    bool failHandlerRegistration = false;
    bool failRunningReport = false;
    int workerWaitTimeouts = 0;          // timed waits on a non-event handle that report WAIT_TIMEOUT
    bool failStopWait = false;           // the untimed wait for the stop event fails

    // Posts a control to `service` and waits for the handler's result (at most 10 s;
    // 0xFFFFFFFF when it did not come).
    DWORD control(const std::wstring& service, DWORD code, DWORD eventType = 0);
    // Waits until `service` has reported `state`, at most `timeoutMs`.
    bool waitForState(const std::wstring& service, DWORD state, DWORD timeoutMs);

    std::vector<StatusReport> reports() const;
    std::vector<StatusReport> reportsOf(const std::wstring& service) const;
    std::vector<std::wstring> tableNames() const;
    std::vector<DWORD> timedWaits() const;
    int setEventCalls() const;

    BOOL WINAPI StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table) override;
    SERVICE_STATUS_HANDLE WINAPI RegisterServiceCtrlHandlerExW(LPCWSTR name, LPHANDLER_FUNCTION_EX handler,
                                                               LPVOID context) override;
    BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) override;
    BOOL WINAPI SetEvent(HANDLE event) override;
    DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) override;

private:
    struct Registration {
        std::wstring name;
        LPHANDLER_FUNCTION_EX handler = nullptr;
        LPVOID context = nullptr;
    };
    struct PendingControl {
        std::wstring service;
        DWORD code;
        DWORD eventType;
        std::shared_ptr<std::promise<DWORD>> result;
    };

    bool allStopped() const; // under _lock

    mutable std::mutex _lock;
    std::condition_variable _changed;
    std::vector<std::wstring> _tableNames;
    std::vector<Registration> _registrations;  // handle = index + 1
    std::vector<StatusReport> _reports;
    std::deque<PendingControl> _controls;
    std::vector<DWORD> _timedWaits;
    std::map<std::wstring, bool> _mainReturned;
    std::vector<HANDLE> _events;
    int _setEvents = 0;
    bool _dispatching = false;
};

} // namespace brimlock_test
