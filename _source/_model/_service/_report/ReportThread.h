#pragma once
// The report of unquoted registrations while the service runs, switched on by
// "ShouldReportUnquotedPaths": one thread of its own that reports every unquoted
// registration once with a summary (ReportScan.h), then waits for registry
// changes (RegistrationWatch.h) and, about a second after a change, reports the new or
// changed ones. It runs beside the watchers and never holds up a check or a stop.
//
//   ReportThread report(stopEvent, outputSettings); // after the first check
//   ...                                                   // the watchers, until the stop
//   // leaving the scope ends and joins the thread
//
// Stop: the thread waits on the stop event and on its own quit event together with the
// change events, and a scan asks for them before each registration, so it ends within one
// registration's work (local file and access-list look-ups) of either being set. A scan
// that fails (ReportScan.h) is tried again after kRetryMs or at the next change, and the
// summary waits for the first scan that succeeds.
//
// The guard of registrations (ShouldGuardUnquotedPaths) is fed from the same scans: the
// thread runs when either switch is on, writes the report's records only with the report's,
// hands each whole scan's set of guarded paths to the feed (GuardedPaths.h), and tells the
// feed of each registry change as soon as it is seen, before its settle pause.

#include "_model/_service/_report/ReportScan.h"
#include "_win32/OutputSettings.h"
#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <thread>

namespace tamselsvc { namespace model { namespace service {

class ReportThread {
public:
    // Starts the thread when `settings` has "ShouldReportUnquotedPaths" on, or when `feed`
    // is given and "ShouldGuardUnquotedPaths" is on; nothing otherwise. `stopEvent` (the
    // host's, manual-reset; may be null) and `feed` must outlive this object. A thread that
    // cannot be started is logged and the service goes on without the report and the feed.
    ReportThread(HANDLE stopEvent, const Corvane::Orlin::OutputSettings& settings, GuardFeed* feed = nullptr);
    // Sets the quit event and joins the thread.
    ~ReportThread();
    ReportThread(const ReportThread&) = delete;
    ReportThread& operator=(const ReportThread&) = delete;

    bool running() const { return _thread.joinable(); }

    // The pause after a change before the scan, so that a burst of changes (sc create
    // writes several values) gives one scan.
    static constexpr DWORD kSettleMs = 1000;
    // The pause before a failed scan is tried again (a change tries it sooner).
    static constexpr DWORD kRetryMs = 30000;

private:
    void run(HANDLE stopEvent, bool withRecords, GuardFeed* feed);

    Corvane::Orlin::UniqueHandle _quit;
    std::thread _thread;
};

}}} // namespace tamselsvc::model::service
