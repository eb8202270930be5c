#include "_model/_service/_report/ScheduledTasks.h"

#include "_win32/LogDebug.h"
#include "_win32/UniqueHandle.h"

#include <taskschd.h>

#include <vector>

namespace tamselsvc { namespace model { namespace service {

using Corvane::Orlin::LogDebugW;
using Corvane::Orlin::UniqueBstr;
using Corvane::Orlin::UniqueCom;

namespace {

// The thread in the multithreaded apartment while it lives; left again only if this entered
// it (a thread already in an apartment keeps its own).
class ComApartment {
public:
    ComApartment() : _entered(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
    ~ComApartment()
    {
        if (_entered) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool _entered;
};

DWORD errorOf(HRESULT result)
{
    return HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : static_cast<DWORD>(result);
}

std::wstring textOf(const UniqueBstr& text)
{
    return text ? std::wstring(text.get(), SysStringLen(text.get())) : std::wstring();
}

VARIANT indexOf(long index)
{
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_I4;
    variant.lVal = index;
    return variant;
}

// The exec actions of one task, in order; a task whose definition cannot be read is passed over.
void visitActions(IRegisteredTask& task, RegistrationVisitor& visitor, bool& cancelled)
{
    UniqueBstr taskPath;
    UniqueCom<ITaskDefinition> definition;
    UniqueCom<IActionCollection> actions;
    long count = 0;
    HRESULT result = task.get_Path(taskPath.put());
    if (SUCCEEDED(result)) {
        result = task.get_Definition(definition.put());
    }
    if (SUCCEEDED(result)) {
        result = definition.get()->get_Actions(actions.put());
    }
    if (SUCCEEDED(result)) {
        result = actions.get()->get_Count(&count);
    }
    if (FAILED(result)) {
        LogDebugW(L"Scheduled task %s passed over: its actions cannot be read (0x%08lx)", textOf(taskPath).c_str(),
                  static_cast<unsigned long>(result));
        return;
    }
    for (long index = 1; index <= count && index <= kMaxTaskActions; ++index) {
        UniqueCom<IAction> action;
        UniqueCom<IExecAction> exec;
        UniqueBstr path;
        UniqueBstr arguments;
        if (FAILED(actions.get()->get_Item(index, action.put())) ||
            FAILED(action.get()->QueryInterface(IID_IExecAction, reinterpret_cast<void**>(exec.put()))) ||
            FAILED(exec.get()->get_Path(path.put())) || FAILED(exec.get()->get_Arguments(arguments.put()))) {
            continue; // another type of action (a COM handler, mail, a message): no command line
        }
        if (!visitor.visit(scheduledTaskAction(textOf(taskPath), index, count == 1, textOf(path), textOf(arguments)))) {
            cancelled = true;
            return;
        }
    }
}

// The tasks of one folder, then its subfolders put on `pending`.
HRESULT visitFolder(ITaskFolder& folder, RegistrationVisitor& visitor, std::vector<UniqueCom<ITaskFolder>>& pending,
                    bool& cancelled)
{
    UniqueCom<IRegisteredTaskCollection> tasks;
    long count = 0;
    HRESULT result = folder.GetTasks(TASK_ENUM_HIDDEN, tasks.put());
    if (SUCCEEDED(result)) {
        result = tasks.get()->get_Count(&count);
    }
    for (long index = 1; SUCCEEDED(result) && index <= count && !cancelled; ++index) {
        UniqueCom<IRegisteredTask> task;
        result = tasks.get()->get_Item(indexOf(index), task.put());
        if (SUCCEEDED(result)) {
            visitActions(*task.get(), visitor, cancelled);
        }
    }
    UniqueCom<ITaskFolderCollection> folders;
    if (SUCCEEDED(result) && !cancelled) {
        result = folder.GetFolders(0, folders.put());
    }
    if (SUCCEEDED(result) && !cancelled) {
        result = folders.get()->get_Count(&count);
    }
    for (long index = 1; SUCCEEDED(result) && index <= count && !cancelled; ++index) {
        pending.emplace_back();
        result = folders.get()->get_Item(indexOf(index), pending.back().put());
    }
    return result;
}

} // namespace

Registration scheduledTaskAction(const std::wstring& taskPath, long action, bool onlyAction, const std::wstring& path,
                                 const std::wstring& arguments)
{
    Registration registration;
    registration.kind = RegistrationKind::ScheduledTask;
    registration.name = taskPath;
    registration.key = kTaskLibrary + taskPath + L", action " + std::to_wstring(action);
    registration.value = arguments.empty() ? path : path + L" " + arguments;
    registration.expandable = true; // the scheduler expands each of the two
    registration.commandLine =
        arguments.empty() ? expandedAsStarted(path) : expandedAsStarted(path) + L" " + expandedAsStarted(arguments);
    registration.onlyAction = onlyAction;
    return registration;
}

DWORD enumerateScheduledTasks(RegistrationVisitor& visitor)
{
    const ComApartment apartment;
    UniqueCom<ITaskService> service;
    UniqueBstr rootPath(SysAllocString(L"\\"));
    std::vector<UniqueCom<ITaskFolder>> pending(1);
    VARIANT none;
    VariantInit(&none);
    HRESULT result = rootPath ? S_OK : E_OUTOFMEMORY;
    if (SUCCEEDED(result)) {
        result = CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                  reinterpret_cast<void**>(service.put()));
    }
    if (SUCCEEDED(result)) {
        result = service.get()->Connect(none, none, none, none);
    }
    bool reached = false; // the root folder, its tasks listed
    if (SUCCEEDED(result)) {
        result = service.get()->GetFolder(rootPath.get(), pending[0].put());
        reached = SUCCEEDED(result);
    }
    bool cancelled = false;
    // Folders wait on a list rather than the stack: their depth is the machine's.
    for (bool root = true; SUCCEEDED(result) && !pending.empty() && !cancelled; root = false) {
        UniqueCom<ITaskFolder> folder = std::move(pending.back());
        pending.pop_back();
        result = visitFolder(*folder.get(), visitor, pending, cancelled);
        reached = reached && !(root && FAILED(result));
    }
    if (cancelled) {
        return ERROR_CANCELLED;
    }
    if (!reached) {
        LogDebugW(L"Scheduled tasks not read: the Task Scheduler cannot be asked (0x%08lx)",
                  static_cast<unsigned long>(result));
        return ERROR_SUCCESS;
    }
    return FAILED(result) ? errorOf(result) : ERROR_SUCCESS;
}

}}} // namespace tamselsvc::model::service
