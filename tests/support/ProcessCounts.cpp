#include "ProcessCounts.h"

#include "Wait.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

namespace brimlock_test {

namespace {

// The documented layout of SystemHandleInformation (class 16): a count, then one entry
// per open handle of the system.
struct HandleEntry {
    ULONG ownerPid;
    UCHAR objectType;
    UCHAR flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
};
struct HandleList {
    ULONG count;
    HandleEntry entries[1];
};

constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
using QuerySystemInformationFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// Every handle of the system, or false when the list cannot be read.
bool readHandles(std::vector<BYTE>& buffer);

} // namespace

int threadCount(DWORD pid)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == pid ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

namespace {

bool readHandles(std::vector<BYTE>& buffer)
{
    const auto query = reinterpret_cast<QuerySystemInformationFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) {
        return false;
    }
    buffer.resize(256 * 1024);
    LONG status;
    for (;;) {
        ULONG needed = 0;
        status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status != kInfoLengthMismatch || buffer.size() >= (64u << 20)) {
            break;
        }
        buffer.resize(buffer.size() * 2); // the list grows between calls: double, not `needed`
    }
    return status >= 0;
}

} // namespace

int handleCount(DWORD pid)
{
    std::vector<BYTE> buffer;
    if (!readHandles(buffer)) {
        return -1;
    }
    const auto* list = reinterpret_cast<const HandleList*>(buffer.data());
    int count = 0;
    for (ULONG i = 0; i < list->count; ++i) {
        count += list->entries[i].ownerPid == pid ? 1 : 0;
    }
    return count;
}

std::vector<std::string> handleList(DWORD pid)
{
    std::vector<std::string> handles;
    std::vector<BYTE> buffer;
    if (!readHandles(buffer)) {
        return handles;
    }
    const auto* list = reinterpret_cast<const HandleList*>(buffer.data());
    for (ULONG i = 0; i < list->count; ++i) {
        if (list->entries[i].ownerPid == pid) {
            char text[32];
            std::snprintf(text, sizeof text, "0x%x:%u", list->entries[i].value, list->entries[i].objectType);
            handles.push_back(text);
        }
    }
    std::sort(handles.begin(), handles.end());
    return handles;
}

std::vector<std::string> handlesAdded(const std::vector<std::string>& before, const std::vector<std::string>& now)
{
    std::vector<std::string> added;
    std::set_difference(now.begin(), now.end(), before.begin(), before.end(), std::back_inserter(added));
    return added;
}

ThreadsAndHandles countsOf(DWORD pid)
{
    return {threadCount(pid), handleCount(pid)};
}

bool waitForRest(DWORD pid, const ThreadsAndHandles& rest, std::chrono::milliseconds timeout, ThreadsAndHandles* last)
{
    return waitUntil(
        [&] {
            *last = countsOf(pid);
            return last->threads <= rest.threads && last->handles <= rest.handles;
        },
        timeout, std::chrono::milliseconds(100));
}

} // namespace brimlock_test
