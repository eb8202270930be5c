// Entry point of brimlock.exe, the service "tamselsvc". It loads the message strings,
// creates the one service object (which loads the configuration), hands it to the service
// host and runs the host until the service control manager has stopped the service. Run
// by hand, the dispatcher cannot connect and the program ends with exit code 0.
#include "_model/_service/MessageStrings.h"
#include "_model/_service/TamselService.h"
#include "_service/CService.h"
#include "_win32/UniqueHandle.h"

#include <shellapi.h>

#include <memory>

namespace {

constexpr wchar_t kServiceName[] = L"tamselsvc";

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    using tamselsvc::model::service::TamselService;
    using Corvane::Orlin::CService;

    tamselsvc::model::service::loadMessageStrings(instance);
    auto service = std::make_shared<TamselService>(kServiceName);

    CService& host = CService::GetInstance();
    host.SetNameGenerator(std::shared_ptr<Corvane::Orlin::IServiceNameGenerator>(service, service.get()));
    std::wstring name;
    {
        // The process's own wide argument vector, for the name generator (which ignores
        // it): one LocalAlloc block that holds the array and the strings.
        int count = 0;
        LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
        const Corvane::Orlin::UniqueLocalMem owner(reinterpret_cast<HLOCAL>(argv));
        name = service->GenerateName(argv ? static_cast<DWORD>(count) : 0, argv);
    }
    host.Register(name, std::shared_ptr<Corvane::Orlin::IServiceImplement>(service, service.get()));
    host.Run();
    service.reset();
    return 0;
}
