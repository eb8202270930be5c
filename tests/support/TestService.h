#pragma once
// A service entry made by a test in the prefix's service control manager, deleted again
// (after a stop, if it is still running) when the object goes.

#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <string>

namespace brimlock_test {

class TestService {
public:
    // Creates (or replaces) the entry `name` for `binaryPath` (quoted here), own process,
    // demand start, LocalSystem. Check created() afterwards.
    TestService(const std::wstring& name, const std::wstring& binaryPath);
    // Opens the existing entry `name` (made elsewhere, e.g. with sc.exe).
    explicit TestService(const std::wstring& name);
    ~TestService();
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    bool created() const { return static_cast<bool>(_service); }
    DWORD createError() const { return _createError; }
    SC_HANDLE handle() const { return _service.get(); }

    // StartServiceW; false with GetLastError() on failure.
    bool start();
    // ControlService(STOP); the status the SCM returned goes to `status` when given.
    bool stop(SERVICE_STATUS* status = nullptr);
    bool control(DWORD code, SERVICE_STATUS* status = nullptr);
    SERVICE_STATUS_PROCESS query() const;
    // Polls until the current state is `state`, at most `timeoutMs`.
    bool waitForState(DWORD state, DWORD timeoutMs, SERVICE_STATUS_PROCESS* last = nullptr) const;

private:
    std::wstring _name;
    Corvane::Orlin::UniqueServiceHandle _manager;
    Corvane::Orlin::UniqueServiceHandle _service;
    DWORD _createError = 0;
};

} // namespace brimlock_test
