#include "_win32/ReportAppEvent.h"

#include "_win32/UniqueHandle.h"

#include <memory>

namespace Corvane { namespace Orlin {

Ports<ReportAppEventPorts> reportAppEventPorts{ReportAppEventPorts{&::RegisterEventSourceW}};

namespace {
// The set put in force by SetRegisterEventSourceForTesting (after the ports: it goes first
// at exit).
ReportAppEventPorts s_handSet{};
std::unique_ptr<Ports<ReportAppEventPorts>::Override> s_handOverride;
} // namespace

HANDLE RegisterEventSourceOrNull(const wchar_t* sourceName)
{
    return reportAppEventPorts().registerEventSource(nullptr, sourceName);
}

void SetRegisterEventSourceForTesting(RegisterEventSourceFn fn)
{
    s_handOverride.reset();
    if (fn) {
        s_handSet = reportAppEventPorts.real();
        s_handSet.registerEventSource = fn;
        s_handOverride = std::make_unique<Ports<ReportAppEventPorts>::Override>(reportAppEventPorts, s_handSet);
    }
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
