#include "_win32/ReportAppEvent.h"

#include "_win32/UniqueHandle.h"

namespace Corvane { namespace Orlin {

Ports<ReportAppEventPorts> reportAppEventPorts{ReportAppEventPorts{&::RegisterEventSourceW}};

HANDLE RegisterEventSourceOrNull(const wchar_t* sourceName)
{
    return reportAppEventPorts().registerEventSource(nullptr, sourceName);
}

void ReportAppEvent(const std::wstring& message, WORD eventType, DWORD eventId)
{
    UniqueEventSource source(RegisterEventSourceOrNull(kAppEventSource));
    if (!source) {
        return;
    }
    LPCWSTR strings[1] = {message.c_str()};
    ReportEventW(source.get(), eventType, 0, eventId, nullptr, 1, 0, strings, nullptr);
}

}} // namespace Corvane::Orlin
