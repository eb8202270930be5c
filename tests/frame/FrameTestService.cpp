// A small service hosted by the frame, for tests against the real service control manager.
// Registered as "brimlockframe"; stops on SERVICE_CONTROL_STOP; its diagnostic log is on.
#include "_service/CService.h"
#include "_win32/LogDebug.h"

#include <memory>

namespace {

class FrameTestService : public Corvane::Orlin::IServiceImplement {
public:
    DWORD Initialize(DWORD&) override { return 0; }
    DWORD GetControlsAccepted() override { return SERVICE_ACCEPT_STOP; }
    DWORD HandleControl(DWORD control, DWORD, LPVOID, SERVICE_STATUS& status) override
    {
        if (control == SERVICE_CONTROL_STOP) {
            status.dwCurrentState = SERVICE_STOP_PENDING;
            status.dwCheckPoint = 0;
            status.dwWaitHint = 0;
            return NO_ERROR;
        }
        return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
    }
    DWORD Run(HANDLE stopEvent) override
    {
        Corvane::Orlin::LogDebugA("FrameTestService::Run");
        WaitForSingleObject(stopEvent, INFINITE);
        return 0;
    }
};

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    Corvane::Orlin::g_outputToDebugView = true;
    auto& host = Corvane::Orlin::CService::GetInstance();
    host.Register(L"brimlockframe", std::make_shared<FrameTestService>());
    host.Run();
    return 0;
}
