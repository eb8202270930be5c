#include "_service/CService.h"

#include "_service/CDefaultServiceNameGenerator.h"
#include "_win32/AnsiConversion.h"
#include "_win32/CWin32Api.h"
#include "_win32/ErrorText.h"
#include "_win32/LogDebug.h"
#include "_win32/ThreadHandle.h"

#include <assert.h>

#include <list>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace Corvane { namespace Orlin {

namespace {

constexpr wchar_t kSourcePath[] = L"_source\\_service\\CService";
constexpr DWORD kStopWaitHint = 20000;

IWin32Api* processWin32Api()
{
    static CWin32Api api;
    return &api;
}

std::thread startThread(std::function<void()> body)
{
    return std::thread(std::move(body));
}

void runtimeAssertion(const wchar_t* expression, const wchar_t* file, unsigned line)
{
    _wassert(expression, file, line);
}

[[noreturn]] void noImplementationFor(const std::wstring& name)
{
    throw std::runtime_error("No implementation found for" +
                             (name.empty() ? std::string("(null)") : win32::ToAnsi(name)));
}

} // namespace

CService::CService()
    : _win32(processWin32Api()),
      _nameGenerator(std::make_shared<CDefaultServiceNameGenerator>()),
      _startWorker(&startThread),
      _reportAssertion(&runtimeAssertion)
{
}

CService& CService::GetInstance()
{
    static CService instance;
    return instance;
}

void CService::SetNameGenerator(std::shared_ptr<IServiceNameGenerator> generator)
{
    _nameGenerator = std::move(generator);
}

void CService::Register(const std::wstring& name, std::shared_ptr<IServiceImplement> implement)
{
    _contexts.erase(name);
    auto context = std::make_unique<ServiceContext>();
    context->implement = std::move(implement);
    context->name = name;
    _contexts.emplace(name, std::move(context));
}

void CService::assertion(bool holds, const wchar_t* expression, unsigned line)
{
    if (!holds) {
        _reportAssertion(expression, kSourcePath, line);
    }
}

DWORD CService::Run()
{
    assertion(_win32 != nullptr, L"_win32", 37);
    assertion(!_contexts.empty(), L"_contexts.size()", 38);
    if (_contexts.empty()) {
        return ERROR_INVALID_PARAMETER;
    }

    std::list<std::wstring> names; // the table points into these; stable until Run returns
    std::vector<SERVICE_TABLE_ENTRYW> table;
    table.reserve(_contexts.size() + 1);
    for (auto& entry : _contexts) {
        names.push_back(entry.first);
        table.push_back(SERVICE_TABLE_ENTRYW{&names.back()[0], &CService::ServiceMain});
        entry.second->stopEvent.reset(_win32->CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }
    table.push_back(SERVICE_TABLE_ENTRYW{nullptr, nullptr});

    if (_win32->StartServiceCtrlDispatcherW(table.data())) {
        return 0;
    }
    LogDebugA("StartServiceCtrlDispatcherW failed.");
    const DWORD error = GetLastError();
    LogErrorLineA(error);
    return error;
}

CService::ServiceContext& CService::contextFor(const std::wstring& name)
{
    auto found = _contexts.find(name);
    if (found == _contexts.end()) {
        noImplementationFor(name);
    }
    return *found->second;
}

void CService::report(ServiceContext& context)
{
    _win32->SetServiceStatus(context.statusHandle, &context.status);
}

void WINAPI CService::ServiceMain(DWORD argc, LPWSTR* argv)
{
    GetInstance().serviceMain(argc, argv);
}

void CService::serviceMain(DWORD argc, LPWSTR* argv)
{
    const std::wstring name = _nameGenerator->GenerateName(argc, argv);
    ServiceContext& context = contextFor(name);

    {
        std::lock_guard<SrwLock> lock(context.statusLock);
        SERVICE_STATUS& status = context.status;
        status.dwCurrentState = SERVICE_START_PENDING;
        status.dwServiceType = _contexts.size() == 1 ? SERVICE_WIN32_OWN_PROCESS : SERVICE_WIN32_SHARE_PROCESS;
        status.dwControlsAccepted = context.implement->GetControlsAccepted();
        status.dwWin32ExitCode = 0;
        status.dwServiceSpecificExitCode = 0;
        status.dwCheckPoint = 0;
        status.dwWaitHint = 0;
    }

    context.statusHandle =
        _win32->RegisterServiceCtrlHandlerExW(context.name.c_str(), &CService::ServiceCtrlHandler, &context.name);
    if (!context.statusHandle) {
        LogDebugA("RegisterServiceCtrlHandlerExW failed.");
        LogErrorLineA(GetLastError());
        return;
    }

    DWORD specificCode = 0;
    const DWORD refusal = context.implement->Initialize(specificCode);
    if (refusal != 0) {
        std::lock_guard<SrwLock> lock(context.statusLock);
        context.status.dwCurrentState = SERVICE_STOPPED;
        context.status.dwWin32ExitCode = refusal;
        context.status.dwServiceSpecificExitCode = specificCode;
        report(context);
        return;
    }

    {
        std::lock_guard<SrwLock> lock(context.statusLock);
        context.status.dwCurrentState = SERVICE_RUNNING;
        if (!_win32->SetServiceStatus(context.statusHandle, &context.status)) {
            LogDebugA("SetServiceStatus(SERVICE_RUNNING) failed.");
            LogErrorLineA(GetLastError());
            return;
        }
    }

    std::thread worker;
    try {
        worker = _startWorker([this, &context] {
            const DWORD result = context.implement->Run(context.stopEvent.get());
            if (result != 0) {
                std::lock_guard<SrwLock> lock(context.statusLock);
                context.status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
                context.status.dwServiceSpecificExitCode = result;
            }
        });
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    if (!worker.joinable()) {
        // Without a worker there is nothing to wait for: report stopped at once rather
        // than look running with no work done.
        LogDebugA("Cannot start the service worker thread.");
        std::lock_guard<SrwLock> lock(context.statusLock);
        context.status.dwCurrentState = SERVICE_STOPPED;
        context.status.dwWin32ExitCode = ERROR_TOO_MANY_TCBS;
        context.status.dwCheckPoint = 0;
        context.status.dwWaitHint = 0;
        report(context);
        return;
    }

    DWORD workerWait = WAIT_FAILED;
    if (_win32->WaitForSingleObject(context.stopEvent.get(), INFINITE) == WAIT_OBJECT_0) {
        DWORD checkPoint;
        do {
            {
                std::lock_guard<SrwLock> lock(context.statusLock);
                checkPoint = ++context.status.dwCheckPoint;
                context.status.dwWaitHint = kStopWaitHint;
            }
            LogDebugA("CheckPoint %d, waiting %d sec...", static_cast<int>(checkPoint), int(kStopWaitHint / 2));
            {
                std::lock_guard<SrwLock> lock(context.statusLock);
                context.status.dwCurrentState = SERVICE_STOP_PENDING;
                report(context);
            }
            workerWait = _win32->WaitForSingleObject(NativeThreadHandle(worker), kStopWaitHint / 2);
        } while (workerWait == WAIT_TIMEOUT && checkPoint != 0xFFFFFFFF);
    }
    if (workerWait == WAIT_OBJECT_0) {
        // The worker has ended; joining reclaims it and orders its exit codes before the report.
        worker.join();
    }

    {
        std::lock_guard<SrwLock> lock(context.statusLock);
        context.status.dwCurrentState = SERVICE_STOPPED;
        context.status.dwCheckPoint = 0;
        context.status.dwWaitHint = 0;
        report(context);
    }
    if (worker.joinable()) {
        // A wait failed, so the worker may still run: the service is reported stopped all
        // the same, and the worker is joined here, not detached. It works on this context
        // and this implementation, which must not go before it; and with this thread
        // library a detached std::thread can lose its bookkeeping under load. When every
        // service has stopped the dispatcher returns and the process ends anyway.
        worker.join();
    }
}

DWORD WINAPI CService::ServiceCtrlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context)
{
    const std::wstring* name = static_cast<const std::wstring*>(context);
    return GetInstance().controlHandler(control, eventType, eventData, name ? *name : std::wstring());
}

DWORD CService::controlHandler(DWORD control, DWORD eventType, LPVOID eventData, const std::wstring& name)
{
    ServiceContext& context = contextFor(name);
    DWORD result;
    bool stopping;
    {
        std::lock_guard<SrwLock> lock(context.statusLock);
        result = context.implement->HandleControl(control, eventType, eventData, context.status);
        report(context);
        stopping = context.status.dwCurrentState == SERVICE_STOP_PENDING ||
                   context.status.dwCurrentState == SERVICE_STOPPED;
    }
    if (stopping) {
        _win32->SetEvent(context.stopEvent.get());
    }
    return control == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : result;
}

IWin32Api* CService::SetWin32ApiForTesting(IWin32Api* win32)
{
    IWin32Api* previous = _win32;
    _win32 = win32 ? win32 : processWin32Api();
    return previous;
}

void CService::SetWorkerStarterForTesting(WorkerStarter starter)
{
    _startWorker = starter ? std::move(starter) : WorkerStarter(&startThread);
}

void CService::SetAssertionReporterForTesting(AssertionReporter reporter)
{
    _reportAssertion = reporter ? reporter : &runtimeAssertion;
}

void CService::ResetForTesting()
{
    _contexts.clear();
    _nameGenerator = std::make_shared<CDefaultServiceNameGenerator>();
}

}} // namespace Corvane::Orlin
