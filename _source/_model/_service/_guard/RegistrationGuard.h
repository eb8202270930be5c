#pragma once
// The guard of every unquoted registration of the machine, switched on by
// "ShouldGuardUnquotedPaths": the paths that Windows tries before the real program of an
// unquoted registration (GuardedPaths.h, fed by the report's scans) are guarded like the
// candidate table's paths. A file at such a path, exactly as Windows would start it there
// (the tried path as written, ".exe" added where Windows adds it; names compared as Windows
// compares them), is moved out of the way by the countermeasure (moveFileInFront), with
// records that name the registration.
//
// The real program is never touched: a path that is some registration's real program is no
// guarded path, and right before each move, on the opened entry, the registration's real
// program must still be there and be another file; otherwise the file is left alone.
//
// One thread, whatever the number of folders: it waits on a change notification for each of
// the first kMaxWatchedFolders folders of the guarded paths, and every kPassMs checks every
// guarded path (one attribute look-up each), so that folders beyond the bound, and folders
// that cannot be watched, are checked at least every two seconds; one record says so, once.
// After a change in a watched folder, a pause of kSettleMs, then a pass. A path under the
// system folder is looked at and moved with file-system redirection off (as the 64-bit
// system starts it); every other one as it is.
//
// Live: a set handed over replaces the one before at once (the thread is woken). Between a
// registry change and the next whole scan (unsettle, publish) nothing is acted on, so a path
// no longer guarded is never acted on after its change is seen; when no scan settles the set
// for kMaxUnsettledMs (a registration that changes every second, a failing listing), the
// last set a whole scan gave is acted on again. What is not guarded is said once per reason.
//
// Stop: the thread waits on the stop event and on its own quit event; a pass asks for them
// before each path and ends before the next file, never in the middle of a rename. A thread
// that cannot be started is logged and the service goes on without this guard; a pass that
// raises is logged and the next one runs as usual.

#include "_model/_service/GuardedPaths.h"
#include "_win32/OutputSettings.h"
#include "_win32/SrwLock.h"
#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <thread>

namespace tamselsvc { namespace model { namespace service {

class RegistrationGuard final : public GuardFeed {
public:
    // Starts the thread when `settings` has "ShouldGuardUnquotedPaths" on; nothing
    // otherwise. `stopEvent` (may be null) must outlive this object.
    RegistrationGuard(HANDLE stopEvent, const Corvane::Orlin::OutputSettings& settings);
    // Sets the quit event and joins the thread.
    ~RegistrationGuard();
    RegistrationGuard(const RegistrationGuard&) = delete;
    RegistrationGuard& operator=(const RegistrationGuard&) = delete;

    bool running() const { return _thread.joinable(); }
    // What the report's thread feeds; null when the guard does not run.
    GuardFeed* feed() { return running() ? this : nullptr; }

    void publish(GuardedSet set) override;
    void unsettle() override;

    // Change notifications of one wait, beside the quit, stop and wake events.
    static constexpr size_t kMaxWatchedFolders = MAXIMUM_WAIT_OBJECTS - 3;
    static constexpr DWORD kPassMs = 2000;
    static constexpr DWORD kSettleMs = 1000;
    static constexpr ULONGLONG kMaxUnsettledMs = 10000;

private:
    struct Work;
    void run(HANDLE stopEvent);
    // True when the set the thread holds may be acted on now (see above): the last one
    // handed over, and no change seen since, or none settled for kMaxUnsettledMs.
    bool settled();
    GuardedSet takeNext();

    Corvane::Orlin::UniqueHandle _quit;
    Corvane::Orlin::UniqueHandle _wake;
    Corvane::Orlin::SrwLock _lock; // guards what follows
    GuardedSet _next;
    bool _nextWaiting = false; // handed over, not yet taken by the thread
    bool _settled = true;
    ULONGLONG _unsettledSince = 0;
    std::thread _thread;
};

}}} // namespace tamselsvc::model::service
