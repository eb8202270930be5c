#pragma once
// Hosts one or more Windows services in this process: the dispatch table, the service-main
// and control-handler callbacks, status reports with check-points, the per-service stop
// event and the worker thread that runs IServiceImplement::Run.
//
// Calling order: GetInstance, SetNameGenerator (optional), Register once per service, then
// Run once on the thread that is to dispatch controls. Every control is handed to the
// implementation's HandleControl; the host reports the edited status after each one and
// signals the stop event once the state is stop-pending or stopped. After the stop event
// the service-main thread reports stop-pending (wait hint 20000 ms, check-point rising
// every 10 s) until the worker has ended, then stopped with the worker's exit codes.

#include "_service/IServiceImplement.h"
#include "_service/IServiceNameGenerator.h"
#include "_win32/IWin32Api.h"
#include "_win32/SrwLock.h"
#include "_win32/UniqueHandle.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

namespace Corvane { namespace Orlin {

class CService {
public:
    static CService& GetInstance();

    void SetNameGenerator(std::shared_ptr<IServiceNameGenerator> generator);
    // A second registration under the same name replaces the first.
    void Register(const std::wstring& name, std::shared_ptr<IServiceImplement> implement);
    // Runs the service control dispatcher on this thread. 0 once every service has
    // stopped; the dispatcher's error code (after two diagnostic lines) when it cannot
    // start; 87 when nothing is registered.
    DWORD Run();

    static void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
    static DWORD WINAPI ServiceCtrlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);

    // Test seams. The facade the host calls (returns the previous one); the function that
    // starts a worker thread; the assertion report; and a reset to the state after creation.
    using WorkerStarter = std::function<std::thread(std::function<void()>)>;
    using AssertionReporter = void (*)(const wchar_t* expression, const wchar_t* file, unsigned line);
    IWin32Api* SetWin32ApiForTesting(IWin32Api* win32);
    void SetWorkerStarterForTesting(WorkerStarter starter);
    void SetAssertionReporterForTesting(AssertionReporter reporter);
    void ResetForTesting();

    CService(const CService&) = delete;
    CService& operator=(const CService&) = delete;

private:
    struct ServiceContext {
        std::shared_ptr<IServiceImplement> implement;
        SERVICE_STATUS status{};
        SERVICE_STATUS_HANDLE statusHandle = nullptr;
        UniqueHandle stopEvent;
        // The control handler's context points here: the registration owns the name, so a
        // control that arrives after the service-main call has returned still finds it.
        std::wstring name;
        // Orders the status edits of the dispatcher, service-main and worker threads.
        SrwLock statusLock;
    };

    CService();
    ServiceContext& contextFor(const std::wstring& name);
    void serviceMain(DWORD argc, LPWSTR* argv);
    DWORD controlHandler(DWORD control, DWORD eventType, LPVOID eventData, const std::wstring& name);
    void report(ServiceContext& context);
    void assertion(bool holds, const wchar_t* expression, unsigned line);

    IWin32Api* _win32;
    std::shared_ptr<IServiceNameGenerator> _nameGenerator;
    std::unordered_map<std::wstring, std::unique_ptr<ServiceContext>> _contexts;
    WorkerStarter _startWorker;
    AssertionReporter _reportAssertion;
};

}} // namespace Corvane::Orlin
