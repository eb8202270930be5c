#pragma once
// Watches every folder of the chosen candidate table, one thread per folder, with an
// overlapped directory-change read (file and folder names, the folder's own entries only).
// After each change: a pause of one second, then a full check (checkAllCandidates).
//
// Armed before the first check: the service starts the watchers and waits until each has
// tried its folder once (a read that is issued arms the watch as it returns) before it runs
// its first check, so that a file created at any moment after the start is either found by
// that check or reported to a watcher, which then checks again right after it.
//
// No folder switches the guard off: a folder that cannot be opened or watched (held open
// without sharing, access denied, missing, gone) is tried again every two seconds, and
// while it exists unwatched a check runs every two seconds; one warning record under
// "brimlock" names the folder and the error, and one records that it is watched again.
// Every two seconds a watched folder is looked up again by its path, so that a folder
// moved, deleted and made again, or replaced, is watched again (and checked) within two
// seconds. A check that could not list every folder is run again within two seconds.
//
// Stop: each watcher waits on its own read and on one quit signal at once. The quit signal
// ends a wait, a pause, or a check before its next file; a watcher that is waiting cancels
// its own read only (CancelIoEx on its read) and waits for that read to end, so nothing else
// in flight on that thread (a rename of a check) is ever cancelled.

#include "_win32/OutputSettings.h"
#include "_win32/Ports.h"
#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <atomic>
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

// The watchers of the chosen table. A read that fails writes the record "Error
// ReadDirectoryChangesW (%d)\n" (unformatted, the error as its event id; once per error in
// a row) through `settings` and the same text, formatted, to the diagnostic log, and the
// folder is opened anew two seconds later. When the quit signal is set, each watcher writes
// that record with 995 (the error of a cancelled read) and ends. A read that reports an
// overflow (no records, or on Wine failure 1022) is a change. An error raised by a check
// goes to the diagnostic log and the watcher goes on; after each check that followed a
// change the diagnostic log gets "Check after a change in <folder> ended", also when the
// check raised.
class CandidateWatchers {
public:
    explicit CandidateWatchers(const Corvane::Orlin::OutputSettings& settings);
    // end().
    ~CandidateWatchers();
    CandidateWatchers(const CandidateWatchers&) = delete;
    CandidateWatchers& operator=(const CandidateWatchers&) = delete;

    // Starts one watcher per row of g_activeCandidates (none when no table is chosen) and
    // waits, at most 10 seconds, until each has tried its folder once. A watcher thread that
    // cannot be started is recorded like a folder that cannot be watched, and the folder is
    // checked every two seconds by the other watchers (and by waitForStop). Never raises.
    void start();

    // Waits for `stopEvent`; while a folder has no watcher thread, runs a check every two
    // seconds meanwhile.
    void waitForStop(HANDLE stopEvent);

    // Sets the quit signal and waits for every watcher to end. Idempotent; never raises.
    void end();

private:
    struct Watcher;
    const Corvane::Orlin::OutputSettings& _settings;
    Corvane::Orlin::UniqueHandle _quit;
    std::vector<std::unique_ptr<Watcher>> _watchers;
    std::atomic<int> _unwatched{0}; // folders without a watcher thread
};

// Starts the watchers, waits for `stopEvent`, then ends them. 0 after the stop. Never raises.
DWORD watchCandidateFolders(HANDLE stopEvent, const Corvane::Orlin::OutputSettings& settings);

}}} // namespace tamselsvc::model::service
