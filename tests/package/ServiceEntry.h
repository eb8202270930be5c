#pragma once
// What the service control manager holds for one service entry, read with
// QueryServiceConfigW / QueryServiceConfig2W / QueryServiceStatusEx. The entry is opened for
// the reading only and closed again, so that no handle of a test keeps a deleted entry
// alive (an open handle leaves it "marked for deletion").

#include <windows.h>

#include <string>
#include <vector>

namespace brimlock_test {

struct ServiceEntry {
    DWORD openError = 0;  // 0 when the entry exists; the error of OpenServiceW otherwise
    DWORD serviceType = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    std::wstring binaryPath;
    std::wstring startName;
    std::wstring displayName;
    bool haveDescription = false;
    std::wstring description;
    DWORD preshutdownError = 0; // error of QueryServiceConfig2W(SERVICE_CONFIG_PRESHUTDOWN_INFO)
    DWORD preshutdownTimeout = 0;
    DWORD failureActionsError = 0; // error of QueryServiceConfig2W(SERVICE_CONFIG_FAILURE_ACTIONS)
    DWORD resetPeriod = 0;
    std::vector<SC_ACTION> failureActions;
    DWORD failureActionsFlagError = 0; // error of QueryServiceConfig2W(SERVICE_CONFIG_FAILURE_ACTIONS_FLAG)
    bool failureActionsOnNonCrashFailures = false;
    SERVICE_STATUS_PROCESS status{};
};

ServiceEntry readServiceEntry(const std::wstring& name);

// Polls until the entry's state is `state`, at most `timeoutMs`; the last reading is returned
// through `last` when given.
bool waitForServiceState(const std::wstring& name, DWORD state, DWORD timeoutMs, ServiceEntry* last = nullptr);

// Polls until OpenServiceW fails with ERROR_SERVICE_DOES_NOT_EXIST, at most `timeoutMs`.
bool waitForServiceGone(const std::wstring& name, DWORD timeoutMs, DWORD* lastError = nullptr);

} // namespace brimlock_test
