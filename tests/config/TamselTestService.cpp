// Hosts TamselService as "tamselsvc" in the service frame, for tests against Wine's real
// service control manager. Switches come from the registry, as in the product. Every record
// the object writes goes to ReportEventW and is also echoed on the debugger output channel
// ("record <id>: <text>", line feeds shown as \n), because Wine keeps no event log.
#include "_model/_service/TamselService.h"
#include "_service/CService.h"
#include "_win32/OutputSettings.h"

#include <memory>
#include <string>

namespace {

BOOL WINAPI echoRecord(HANDLE source, WORD type, WORD category, DWORD eventId, PSID sid, WORD count, DWORD size,
                       LPCWSTR* strings, LPVOID data)
{
    const BOOL written = ReportEventW(source, type, category, eventId, sid, count, size, strings, data);
    std::wstring line = L"record " + std::to_wstring(eventId) + L": ";
    for (const wchar_t* c = count > 0 && strings ? strings[0] : L""; *c; ++c) {
        line += *c == L'\n' ? std::wstring(L"\\n") : std::wstring(1, *c);
    }
    OutputDebugStringW(line.c_str());
    return written;
}

const Corvane::Orlin::OutputSettingsPorts kEchoing{&echoRecord};

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    Corvane::Orlin::Ports<Corvane::Orlin::OutputSettingsPorts>::Override echo(Corvane::Orlin::outputSettingsPorts,
                                                                              kEchoing);
    auto service = std::make_shared<tamselsvc::model::service::TamselService>(L"tamselsvc");
    auto& host = Corvane::Orlin::CService::GetInstance();
    host.SetNameGenerator(service);
    host.Register(L"tamselsvc", service);
    return static_cast<int>(host.Run());
}
