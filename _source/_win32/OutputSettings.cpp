#include "_win32/OutputSettings.h"

#include "_win32/Configuration.h"
#include "_win32/LogDebug.h"
#include "_win32/ReportAppEvent.h"

namespace Corvane { namespace Orlin {

namespace {

// Written once, on the main thread, before any other thread of the service exists.
struct ConfigurationCache {
    bool loaded = false;
    bool shouldOutputToEventlog = false;
    bool shouldOutputToDebugView = false;
    bool shouldReportUnquotedPaths = false;
    bool shouldGuardUnquotedPaths = false;
} s_cache;

bool switchIsOn(const wchar_t* name)
{
    DWORD value = 0;
    return readConfigDword(name, value) && value == 1;
}

} // namespace

Ports<OutputSettingsPorts> outputSettingsPorts{OutputSettingsPorts{&::ReportEventW}};

void ResetConfigurationCacheForTesting()
{
    s_cache = ConfigurationCache();
}

OutputSettings::OutputSettings(std::wstring serviceName)
    : _eventSource(RegisterEventSourceOrNull(serviceName.c_str()))
{
    if (!s_cache.loaded) {
        s_cache.shouldOutputToEventlog = switchIsOn(kShouldOutputToEventlog);
        s_cache.shouldOutputToDebugView = switchIsOn(kShouldOutputToDebugView);
        s_cache.shouldReportUnquotedPaths = switchIsOn(kShouldReportUnquotedPaths);
        s_cache.shouldGuardUnquotedPaths = switchIsOn(kShouldGuardUnquotedPaths);
        s_cache.loaded = true;
    }
    _shouldOutputToEventlog = s_cache.shouldOutputToEventlog;
    _shouldOutputToDebugView = s_cache.shouldOutputToDebugView;
    _shouldReportUnquotedPaths = s_cache.shouldReportUnquotedPaths;
    _shouldGuardUnquotedPaths = s_cache.shouldGuardUnquotedPaths;
    if (_shouldOutputToDebugView) {
        g_outputToDebugView = true;
    }
}

void OutputSettings::reportEvent(DWORD eventId, const std::wstring& text) const
{
    if (!_shouldOutputToEventlog || !_eventSource) {
        return; // no source: the record is lost, the caller goes on
    }
    LPCWSTR strings[1] = {text.c_str()};
    outputSettingsPorts().reportEvent(_eventSource.get(), EVENTLOG_INFORMATION_TYPE, 0, eventId, nullptr, 1, 0,
                                      strings, nullptr);
}

}} // namespace Corvane::Orlin
