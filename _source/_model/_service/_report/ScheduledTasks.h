#pragma once
// The program actions of this machine's scheduled tasks, read through the Task Scheduler's
// own interface (ITaskService): every registered task of every folder from the root "\",
// hidden ones included, each exec action one registration.
//
// The Task Scheduler of Windows 8 and later starts an exec action as one command line, its
// Path and its Arguments (environment variables expanded) joined by a blank, with no
// application name: an unquoted Path with spaces is searched as UnquotedCommandLine.h says,
// so an action is checked like any other registration. See docs/reliability.md for the
// evidence and what is left to confirm.
//
// Leaves nothing behind: every interface and string is released on every path, and the
// COM apartment that the enumeration enters on the calling thread is left again.

#include "_model/_service/_report/RegistrationScan.h"

#include <string>

namespace tamselsvc { namespace model { namespace service {

// Where Task Scheduler shows the tasks; a task's place is this and its path.
constexpr wchar_t kTaskLibrary[] = L"Task Scheduler Library";
// Where the Task Scheduler keeps its registered tasks in the registry, below
// HKEY_LOCAL_MACHINE (native view): it writes there whenever a task is registered, changed
// or deleted, so a change notification on it tells of a changed task.
constexpr wchar_t kTaskCacheKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache";
// Actions read per task: the Task Scheduler keeps no more than 32.
constexpr long kMaxTaskActions = 32;

// Exec action `action` (counted from 1 among all the task's actions) of the task at
// `taskPath`, with `path` and `arguments` as stored: the value is both joined by a blank,
// the command line the same with environment variables expanded (expandedAsStarted).
// `onlyAction`: the task has no other action.
Registration scheduledTaskAction(const std::wstring& taskPath, long action, bool onlyAction, const std::wstring& path,
                                 const std::wstring& arguments);

// Visits each exec action of each task (at most kMaxTaskActions per task), folder by folder,
// depth first, in the scheduler's order. Returns:
// - 0 when every folder was listed, and also when the Task Scheduler cannot be asked at
//   all (not installed, not running, or it cannot list the root folder's tasks, as under
//   Wine 8): then no task can run either, and one diagnostic line says why;
// - ERROR_CANCELLED when the visitor ended it;
// - the error (a Win32 code where the HRESULT carries one, else the HRESULT) of a folder
//   that could not be listed: the listing is incomplete.
// A task whose definition cannot be read (a damaged task) is passed over with a diagnostic
// line, as unreadable registry values are.
DWORD enumerateScheduledTasks(RegistrationVisitor& visitor);

}}} // namespace tamselsvc::model::service
