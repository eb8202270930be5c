#pragma once
// The report of unquoted registrations while the service runs, switched on by
// "ShouldReportUnquotedPaths": one thread of its own that reports every unquoted
// registration once with a summary (UnquotedPathReporter.h), then waits for registry
// changes (RegistrationWatch.h) and, about a second after a change, reports the new or
// changed ones. It runs beside the watchers and never holds up a check or a stop.
//
//   UnquotedPathReport report(stopEvent, outputSettings); // after the first check
//   ...                                                   // the watchers, until the stop
//   // leaving the scope ends and joins the thread
//
// Stop: the thread waits on the stop event and on its own quit event together with the
// change events, and a scan asks for them before each registration, so it ends within one
// registration's work (local file and access-list look-ups) of either being set.

#include "_model/_service/UnquotedPathReporter.h"
#include "_win32/OutputSettings.h"
#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <thread>

namespace tamselsvc { namespace model { namespace service {

class UnquotedPathReport {
public:
    // Starts the thread when `settings` has "ShouldReportUnquotedPaths" on; nothing
    // otherwise. `stopEvent` (the host's, manual-reset; may be null) must outlive this
    // object. A thread that cannot be started is logged and the service goes on without
    // the report.
    UnquotedPathReport(HANDLE stopEvent, const Corvane::Orlin::OutputSettings& settings);
    // Sets the quit event and joins the thread.
    ~UnquotedPathReport();
    UnquotedPathReport(const UnquotedPathReport&) = delete;
    UnquotedPathReport& operator=(const UnquotedPathReport&) = delete;

    bool running() const { return _thread.joinable(); }

    // The pause after a change before the scan, so that a burst of changes (sc create
    // writes several values) gives one scan.
    static constexpr DWORD kSettleMs = 1000;

private:
    void run(HANDLE stopEvent);

    Corvane::Orlin::UniqueHandle _quit;
    std::thread _thread;
};

}}} // namespace tamselsvc::model::service
