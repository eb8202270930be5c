#include "TestService.h"

namespace brimlock_test {

TestService::TestService(const std::wstring& name, const std::wstring& binaryPath) : _name(name)
{
    _manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!_manager) {
        _createError = GetLastError();
        return;
    }
    // A leftover entry from an interrupted run would make CreateService fail.
    if (SC_HANDLE old = OpenServiceW(_manager.get(), name.c_str(), SERVICE_ALL_ACCESS)) {
        SERVICE_STATUS ignored;
        ControlService(old, SERVICE_CONTROL_STOP, &ignored);
        DeleteService(old);
        CloseServiceHandle(old);
    }
    const std::wstring quoted = L"\"" + binaryPath + L"\"";
    _service.reset(CreateServiceW(_manager.get(), name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                  quoted.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!_service) {
        _createError = GetLastError();
    }
}

TestService::TestService(const std::wstring& name) : _name(name)
{
    _manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (_manager) {
        _service.reset(OpenServiceW(_manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
    }
    if (!_service) {
        _createError = GetLastError();
    }
}

TestService::~TestService()
{
    if (!_service) {
        return;
    }
    if (query().dwCurrentState != SERVICE_STOPPED) {
        stop();
        waitForState(SERVICE_STOPPED, 30000);
    }
    DeleteService(_service.get());
}

bool TestService::start()
{
    return StartServiceW(_service.get(), 0, nullptr) != FALSE;
}

bool TestService::stop(SERVICE_STATUS* status)
{
    return control(SERVICE_CONTROL_STOP, status);
}

bool TestService::control(DWORD code, SERVICE_STATUS* status)
{
    SERVICE_STATUS local{};
    return ControlService(_service.get(), code, status ? status : &local) != FALSE;
}

SERVICE_STATUS_PROCESS TestService::query() const
{
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    QueryServiceStatusEx(_service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                         &needed);
    return status;
}

bool TestService::waitForState(DWORD state, DWORD timeoutMs, SERVICE_STATUS_PROCESS* last) const
{
    const DWORD start = GetTickCount();
    for (;;) {
        const SERVICE_STATUS_PROCESS status = query();
        if (last) {
            *last = status;
        }
        if (status.dwCurrentState == state) {
            return true;
        }
        if (GetTickCount() - start >= timeoutMs) {
            return false;
        }
        Sleep(20);
    }
}

} // namespace brimlock_test
