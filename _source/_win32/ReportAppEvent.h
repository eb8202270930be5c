#pragma once
// One record in the Application event log under the source "brimlock": the source is
// registered for this record only and deregistered after it. No registry entry or message
// file is needed; Windows shows the insertion string as the record's text. When the
// source cannot be registered the record is dropped without a trace.

#include "_win32/Ports.h"

#include <windows.h>

#include <string>

namespace Corvane { namespace Orlin {

constexpr wchar_t kAppEventSource[] = L"brimlock";

void ReportAppEvent(const std::wstring& message, WORD eventType, DWORD eventId);

// RegisterEventSourceW, for every event source of the process (these records and the
// service's own, OutputSettings). Null when the source cannot be registered.
HANDLE RegisterEventSourceOrNull(const wchar_t* sourceName);

// The seam of every event source's registration, so that an event log that cannot be
// reached can be played.
using RegisterEventSourceFn = HANDLE(WINAPI*)(LPCWSTR serverName, LPCWSTR sourceName);
struct ReportAppEventPorts {
    RegisterEventSourceFn registerEventSource;
};
extern Ports<ReportAppEventPorts> reportAppEventPorts;

}} // namespace Corvane::Orlin
