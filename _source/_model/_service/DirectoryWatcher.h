#pragma once
// Watches every folder of the chosen candidate table, one thread per folder, with a
// blocking directory-change read (file and folder names, the folder's own entries only).
// After each change: a pause of one second, then a full check (checkAllCandidates).
//
// Stop: the supervisor ends every watcher in bounded time whatever it is doing. A watcher
// tests a quit event before each read and pauses by waiting on it; the supervisor sets
// that event, then cancels the watcher's read again and again until the thread has ended.

#include "_win32/OutputSettings.h"

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

namespace tamselsvc { namespace model { namespace service {

// Service worker thread. Starts one watcher per row of g_activeCandidates (none when no
// table is chosen), waits for `stopEvent`, then ends and joins every watcher. When a
// watcher thread cannot be started, or the wait fails, ends and joins the watchers
// already started and returns at once. Never raises.
void watchCandidateFolders(HANDLE stopEvent, const Corvane::Orlin::OutputSettings& settings);

// Body of one watcher thread: watches `folder` until a read fails (its error) or
// `quitEvent` is found set (taken as error 995, the error of a cancelled read; nullptr:
// never). Then writes the record "Error ReadDirectoryChangesW (%d)\n" (unformatted, the
// error as its event id) through `settings` and the same text, formatted, to the
// diagnostic log. A read that reports an overflow (success without records, or on Wine
// failure 1022) is a change. An error raised by a check goes to the diagnostic log and
// the watcher goes on. After each check the diagnostic log gets the line
// "Check after a change in <folder> ended", also when the check raised.
void watchFolder(const std::wstring& folder, const Corvane::Orlin::OutputSettings& settings,
                 HANDLE quitEvent = nullptr);

// One synchronous ReadDirectoryChangesW on the folder handle (128-byte buffer, no
// subtree, file and folder names). True exactly when the call returns TRUE; otherwise the
// error is in GetLastError().
bool waitForFolderChange(HANDLE folderHandle);

// ---- Seams for tests (nullptr restores the real function) ----

// Starts a watcher thread; raises std::system_error when it cannot.
using WatcherThreadStartFn = std::thread (*)(std::function<void()> body);
void setWatcherThreadStartForTesting(WatcherThreadStartFn fn);

// The check a watcher runs after each change.
using CheckFn = int (*)();
void setWatcherCheckForTesting(CheckFn fn);

}}} // namespace tamselsvc::model::service
