#include "ServiceEntry.h"

#include "Wait.h"
#include "_win32/UniqueHandle.h"

#include <chrono>

namespace brimlock_test {

namespace {

// QueryServiceConfig2W for one level into a buffer of the size it asks for.
bool queryConfig2(SC_HANDLE service, DWORD level, std::vector<BYTE>& buffer, DWORD& error)
{
    DWORD needed = 0;
    buffer.assign(64, 0);
    if (!QueryServiceConfig2W(service, level, buffer.data(), static_cast<DWORD>(buffer.size()), &needed)) {
        error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            return false;
        }
        buffer.assign(needed, 0);
        if (!QueryServiceConfig2W(service, level, buffer.data(), needed, &needed)) {
            error = GetLastError();
            return false;
        }
    }
    error = 0;
    return true;
}

} // namespace

ServiceEntry readServiceEntry(const std::wstring& name)
{
    ServiceEntry entry;
    Corvane::Orlin::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        entry.openError = GetLastError();
        return entry;
    }
    Corvane::Orlin::UniqueServiceHandle service(
        OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (!service) {
        entry.openError = GetLastError();
        return entry;
    }

    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : sizeof(QUERY_SERVICE_CONFIGW));
    if (QueryServiceConfigW(service.get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                            static_cast<DWORD>(buffer.size()), &needed)) {
        const auto* config = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data());
        entry.serviceType = config->dwServiceType;
        entry.startType = config->dwStartType;
        entry.errorControl = config->dwErrorControl;
        entry.binaryPath = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
        entry.startName = config->lpServiceStartName ? config->lpServiceStartName : L"";
        entry.displayName = config->lpDisplayName ? config->lpDisplayName : L"";
    }

    DWORD error = 0;
    if (queryConfig2(service.get(), SERVICE_CONFIG_DESCRIPTION, buffer, error)) {
        const auto* description = reinterpret_cast<const SERVICE_DESCRIPTIONW*>(buffer.data());
        entry.haveDescription = description->lpDescription != nullptr;
        entry.description = description->lpDescription ? description->lpDescription : L"";
    }
    if (queryConfig2(service.get(), SERVICE_CONFIG_PRESHUTDOWN_INFO, buffer, error)) {
        entry.preshutdownTimeout =
            reinterpret_cast<const SERVICE_PRESHUTDOWN_INFO*>(buffer.data())->dwPreshutdownTimeout;
    }
    entry.preshutdownError = error;
    if (queryConfig2(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, buffer, error)) {
        const auto* failure = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer.data());
        entry.resetPeriod = failure->dwResetPeriod;
        if (failure->lpsaActions) {
            entry.failureActions.assign(failure->lpsaActions, failure->lpsaActions + failure->cActions);
        }
    }
    entry.failureActionsError = error;
    if (queryConfig2(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, buffer, error)) {
        entry.failureActionsOnNonCrashFailures =
            reinterpret_cast<const SERVICE_FAILURE_ACTIONS_FLAG*>(buffer.data())->fFailureActionsOnNonCrashFailures != 0;
    }
    entry.failureActionsFlagError = error;

    DWORD size = 0;
    QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&entry.status),
                         sizeof entry.status, &size);
    return entry;
}

bool waitForServiceState(const std::wstring& name, DWORD state, DWORD timeoutMs, ServiceEntry* last)
{
    ServiceEntry entry;
    const bool reached = waitUntil(
        [&] {
            entry = readServiceEntry(name);
            return entry.openError == 0 && entry.status.dwCurrentState == state;
        },
        std::chrono::milliseconds(timeoutMs), std::chrono::milliseconds(100));
    if (last) {
        *last = entry;
    }
    return reached;
}

bool waitForServiceGone(const std::wstring& name, DWORD timeoutMs, DWORD* lastError)
{
    DWORD error = 0;
    const bool gone = waitUntil(
        [&] {
            error = readServiceEntry(name).openError;
            return error == ERROR_SERVICE_DOES_NOT_EXIST;
        },
        std::chrono::milliseconds(timeoutMs), std::chrono::milliseconds(100));
    if (lastError) {
        *lastError = error;
    }
    return gone;
}

} // namespace brimlock_test
