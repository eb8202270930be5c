#include "_win32/ReportAppEvent.h"

#include "_win32/UniqueHandle.h"

#include <atomic>

namespace Corvane { namespace Orlin {

namespace {
std::atomic<RegisterEventSourceFn> s_register{&::RegisterEventSourceW};
} // namespace

HANDLE RegisterEventSourceOrNull(const wchar_t* sourceName)
{
    return s_register.load()(nullptr, sourceName);
}

void SetRegisterEventSourceForTesting(RegisterEventSourceFn fn)
{
    s_register.store(fn ? fn : &::RegisterEventSourceW);
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
