#pragma once
// Watches every folder of the chosen candidate table, one thread per folder, with an
// overlapped directory-change read (file and folder names, the folder's own entries only).
// After each change: a pause of one second, then a full check (checkAllCandidates).
//
// Armed before the first check: the service starts the watchers and waits until each has
// issued its first read (which arms the watch as it returns) before it runs its first
// check, so that a file created at any moment after the start is either found by that
// check or reported to a watcher, which then checks again right after it.
//
// Stop: each watcher waits on its own read and on one quit signal at once. The quit signal
// ends a wait, a pause, or a check before its next file; a watcher that is waiting cancels
// its own read only (CancelIoEx on its read) and waits for that read to end, so nothing else
// in flight on that thread (a rename of a check) is ever cancelled.

#include "_win32/OutputSettings.h"
#include "_win32/Ports.h"
#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

// The seam of the watcher, swapped whole by Ports<WatcherPorts>::Override.
struct WatcherPorts {
    // Starts a watcher thread; raises std::system_error when it cannot.
    std::thread (*startThread)(std::function<void()> body);
    // The check a watcher runs after each change; the event given ends it early.
    int (*check)(HANDLE stopEvent);
    // Opens a watched folder (CreateFileW).
    HANDLE(WINAPI* createFile)(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                               DWORD creation, DWORD flags, HANDLE templateFile);
};
extern Corvane::Orlin::Ports<WatcherPorts> watcherPorts;

// The watchers of the chosen table. Each watcher watches its folder until its read fails
// (that error) or the quit signal is set (taken as error 995, the error of a cancelled
// read). Then it writes the record "Error ReadDirectoryChangesW (%d)\n" (unformatted, the
// error as its event id) through `settings` and the same text, formatted, to the
// diagnostic log, and ends. A read that reports an overflow (no records, or on Wine failure
// 1022) is a change. An error raised by a check goes to the diagnostic log and the watcher
// goes on; after each check the diagnostic log gets "Check after a change in <folder>
// ended", also when the check raised.
class CandidateWatchers {
public:
    explicit CandidateWatchers(const Corvane::Orlin::OutputSettings& settings);
    // end().
    ~CandidateWatchers();
    CandidateWatchers(const CandidateWatchers&) = delete;
    CandidateWatchers& operator=(const CandidateWatchers&) = delete;

    // Starts one watcher per row of g_activeCandidates (none when no table is chosen) and
    // waits, at most 10 seconds, until each has armed its first read or ended. True when
    // every folder is watched or missing (a missing folder, or a file where it should be:
    // its watcher writes its record and ends, and files there are still handled by the
    // checks that other changes start). False when a watcher thread cannot be started, or a
    // folder that exists cannot be opened or watched: every watcher is ended then, and
    // failedFolder() and failure() tell which folder and which Win32 error. Never raises.
    bool start();
    const std::wstring& failedFolder() const { return _failedFolder; }
    DWORD failure() const { return _failure; }

    // Sets the quit signal and waits for every watcher to end. Idempotent; never raises.
    void end();

private:
    struct Watcher;
    const Corvane::Orlin::OutputSettings& _settings;
    Corvane::Orlin::UniqueHandle _quit;
    std::vector<std::unique_ptr<Watcher>> _watchers;
    std::wstring _failedFolder;
    DWORD _failure = 0;
};

// Starts the watchers, waits for `stopEvent`, then ends them. 0 after the stop; when the
// start fails, failure() of the start, at once (the watchers already started are ended).
// Never raises.
DWORD watchCandidateFolders(HANDLE stopEvent, const Corvane::Orlin::OutputSettings& settings);

}}} // namespace tamselsvc::model::service
