#include "_model/_service/_report/ReportThread.h"

#include "_model/_service/_report/RegistrationWatch.h"
#include "_win32/LogDebug.h"

#include <exception>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

using Corvane::Orlin::LogDebugA;

namespace {

// True when one of `events` is set within `timeoutMs` (also when the wait fails, so that
// a broken wait ends the thread rather than spin).
bool anySet(const std::vector<HANDLE>& events, DWORD timeoutMs)
{
    return WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, timeoutMs) != WAIT_TIMEOUT;
}

} // namespace

ReportThread::ReportThread(HANDLE stopEvent, const Corvane::Orlin::OutputSettings& settings, GuardFeed* feed)
{
    const bool withRecords = settings.shouldReportUnquotedPaths();
    if (!settings.shouldGuardUnquotedPaths()) {
        feed = nullptr;
    }
    if (!withRecords && !feed) {
        return;
    }
    _quit.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!_quit) {
        LogDebugA("Unquoted path report not started: CreateEventW failed (%lu)", GetLastError());
        return;
    }
    try {
        _thread = std::thread([this, stopEvent, withRecords, feed] { run(stopEvent, withRecords, feed); });
    } catch (const std::exception& e) {
        LogDebugA("Unquoted path report not started: %s", e.what());
    }
}

ReportThread::~ReportThread()
{
    if (_thread.joinable()) {
        SetEvent(_quit.get());
        _thread.join();
    }
}

void ReportThread::run(HANDLE stopEvent, bool withRecords, GuardFeed* feed)
{
    // An error must not leave the thread (it would end the process): the report ends and
    // the service goes on.
    try {
        std::vector<HANDLE> stops{_quit.get()};
        if (stopEvent) {
            stops.push_back(stopEvent);
        }
        const std::function<bool()> stopRequested = [&stops] { return anySet(stops, 0); };
        RegistrationWatch watch;
        ReportScan reporter(withRecords);
        GuardedSet guarded;
        // The summary belongs to the first scan that reads the registrations through; a
        // failed scan is tried again after kRetryMs, or at the next change.
        for (bool summaryDue = true;;) {
            watch.arm(); // before the scan: a change made during it is not missed
            const bool whole = reporter.scan(stopRequested, summaryDue, feed ? &guarded : nullptr);
            // Only a whole scan that checked every registration settles the guarded paths.
            if (feed && whole && !reporter.unsettled()) {
                feed->publish(std::move(guarded));
            }
            if (!whole && !reporter.failed()) {
                return; // stopped
            }
            const ReportScan::Counts& counts = reporter.counts();
            if (!whole) {
                LogDebugA("Unquoted path report: the scan failed after %u registrations; tried again", counts.checked);
            } else {
                summaryDue = false;
                LogDebugA("Unquoted path report: %u registrations checked, %u unquoted with spaces, %u reported",
                          counts.checked, counts.found, counts.reported);
            }
            const RegistrationWatch::Outcome outcome =
                watch.wait(stops, whole ? INFINITE : kRetryMs);
            if (outcome == RegistrationWatch::Outcome::Failed) {
                LogDebugA("Unquoted path report: the wait failed (%lu); no further changes are reported",
                          GetLastError());
                return;
            }
            if (feed && outcome == RegistrationWatch::Outcome::Changed) {
                feed->unsettle();
            }
            if (outcome == RegistrationWatch::Outcome::Stopped || anySet(stops, kSettleMs)) {
                return;
            }
        }
    } catch (const std::exception& e) {
        LogDebugA("Unquoted path report ended: %s", e.what());
    } catch (...) {
        LogDebugA("Unquoted path report ended: unknown exception");
    }
}

}}} // namespace tamselsvc::model::service
