#include "_win32/ReportAppEvent.h"

#include "_win32/UniqueHandle.h"

namespace Corvane { namespace Orlin {

void ReportAppEvent(const std::wstring& message, WORD eventType, DWORD eventId)
{
    UniqueEventSource source(RegisterEventSourceW(nullptr, kAppEventSource));
    if (!source) {
        return;
    }
    LPCWSTR strings[1] = {message.c_str()};
    ReportEventW(source.get(), eventType, 0, eventId, nullptr, 1, 0, strings, nullptr);
}

}} // namespace Corvane::Orlin
