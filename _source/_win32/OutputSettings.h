#pragma once
// The service object's own outlets: an event source registered under the service name,
// and the registry switches (its own records, the diagnostic log, the report and the guard of
// unquoted registrations). The first OutputSettings of the process reads the registry; later ones
// take the cached switches (and register their own source).
// Constructing one with "ShouldOutputToDebugView" = 1 switches the diagnostic log on for
// the whole process; nothing switches it off.

#include "_win32/Ports.h"
#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <string>

namespace Corvane { namespace Orlin {

// The seam of the service object's records: where they go instead of ReportEventW.
using ReportEventFn = BOOL(WINAPI*)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCWSTR*, LPVOID);
struct OutputSettingsPorts {
    ReportEventFn reportEvent;
};
extern Ports<OutputSettingsPorts> outputSettingsPorts;

// For tests: forgets the cached switches, so that the next OutputSettings reads them again.
void ResetConfigurationCacheForTesting();

class OutputSettings {
public:
    explicit OutputSettings(std::wstring serviceName);

    // One information record (category 0, `eventId`, `text` as the only insertion string,
    // stored unformatted) when "ShouldOutputToEventlog" is 1; nothing otherwise. A source
    // that could not be registered loses the record silently.
    void reportEvent(DWORD eventId, const std::wstring& text) const;

    HANDLE eventSource() const { return _eventSource.get(); }
    bool shouldOutputToEventlog() const { return _shouldOutputToEventlog; }
    bool shouldOutputToDebugView() const { return _shouldOutputToDebugView; }
    // "ShouldReportUnquotedPaths": the report of unquoted registrations (ReportThread).
    bool shouldReportUnquotedPaths() const { return _shouldReportUnquotedPaths; }
    // "ShouldGuardUnquotedPaths": the guard of every unquoted registration (RegistrationGuard).
    bool shouldGuardUnquotedPaths() const { return _shouldGuardUnquotedPaths; }

private:
    UniqueEventSource _eventSource;
    bool _shouldOutputToEventlog = false;
    bool _shouldOutputToDebugView = false;
    bool _shouldReportUnquotedPaths = false;
    bool _shouldGuardUnquotedPaths = false;
};

}} // namespace Corvane::Orlin
