// Entry point of brimlock.exe, the service "tamselsvc". It loads the message strings,
// creates the one service object (which loads the configuration), hands it to the service
// host and runs the host until the service control manager has stopped the service. Run
// by hand, the dispatcher cannot connect and the program ends with exit code 0.
#include "_model/_service/MessageStrings.h"
#include "_model/_service/TamselService.h"
#include "_service/CService.h"

#include <shellapi.h>

#include <memory>

namespace {

constexpr wchar_t kServiceName[] = L"tamselsvc";

// The process's own wide argument vector, for the name generator (which ignores it).
class ProcessArguments {
public:
    ProcessArguments() : _argv(CommandLineToArgvW(GetCommandLineW(), &_argc)) {}
    ~ProcessArguments()
    {
        if (_argv) {
            LocalFree(_argv);
        }
    }
    DWORD count() const { return _argv ? static_cast<DWORD>(_argc) : 0; }
    LPWSTR* vector() const { return _argv; }

private:
    int _argc = 0;
    LPWSTR* _argv;
};

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
        ProcessArguments arguments;
        name = service->GenerateName(arguments.count(), arguments.vector());
    }
    host.Register(name, std::shared_ptr<Corvane::Orlin::IServiceImplement>(service, service.get()));
    host.Run();
    service.reset();
    return 0;
}
