// Load on the service installed as on a customer's PC, in the prefix it runs in:
//   1. start/stop cycles, each stop at a random moment 0-1500 ms after RUNNING, half of
//      them just after a file was planted (the stop then lands in the one-second pause
//      or inside a pass); every stop must reach STOPPED, a stop still pending after 30 s
//      counts as a hang. Prints the 50th and 99th percentile and the maximum.
//   2. bursts of 10, 100 and 1,000 files per second in C:\, made from inside Wine and
//      from the Linux side, some of them offending (C:\Program.b<N>): every offending file
//      must be renamed, every other file must still be there under its name. Prints the
//      time from the last file made to the last rename, and the passes the service ran
//      (its diagnostic line per pass, read as a debug-output viewer reads it).
//   3. 1,000 countermeasures (renames, ten per pass) and 1,000 dialog launches ("/fatal":
//      a new file that cannot be renamed, each time, while the registry refuses the
//      scheduling): the service's thread and handle counts must come back to their resting
//      values.
// Usage: stressbench [cycles=1000] [cycleBudgetSeconds=1080] [burstSeconds=3]
//                    [countermeasures=1000] [launches=1000] [seed=random]
// Exit status 0 when every stop reached STOPPED, every burst was handled and the counts
// came back to rest.
#include "DbwinListener.h"
#include "Denials.h"
#include "Figures.h"
#include "HostShell.h"
#include "ProcessCounts.h"
#include "StandInRecords.h"
#include "ServiceInstall.h"
#include "TestPaths.h"
#include "Wait.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace brimlock_test;

namespace {

// The name search of a rename stops at C:\Program100: a burst must not offer more
// offending files with the stem "Program" than that, or the rest are left for the restart
// by design.
constexpr int kMaxOffendingPerBurst = 95;
constexpr DWORD kHangMs = 30000;

// ---- 1. stops at random moments ----------------------------------------------------

bool runStops(InstalledService& installed, int cycles, int budgetSeconds, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<double> stops, stopsPlanted, stopsIdle;
    int startFailures = 0, hangs = 0, badExit = 0;
    const double deadline = nowMs() + budgetSeconds * 1000.0;
    int done = 0;
    for (; done < cycles && nowMs() < deadline; ++done) {
        if (!installed.scm().start()) {
            std::fprintf(stderr, "cycle %d: StartService failed with %lu\n", done, GetLastError());
            ++startFailures;
            if (!installed.scm().waitForState(SERVICE_STOPPED, kHangMs)) {
                break; // the service cannot be brought back to STOPPED: nothing more to measure
            }
            continue;
        }
        if (!installed.scm().waitForState(SERVICE_RUNNING, 15000)) {
            std::fprintf(stderr, "cycle %d: not RUNNING within 15 s\n", done);
            ++startFailures;
        }
        const DWORD wait = std::uniform_int_distribution<DWORD>(0, 1500)(random);
        const bool plant = random() % 2 == 0;
        waitBeforeStop(wait, plant);
        const double asked = nowMs();
        if (!installed.scm().stop()) {
            const DWORD error = GetLastError();
            // Stopped by itself already (1062) is no hang; anything else is reported.
            if (error != ERROR_SERVICE_NOT_ACTIVE) {
                std::fprintf(stderr, "cycle %d: ControlService(STOP) failed with %lu\n", done, error);
            }
        }
        SERVICE_STATUS_PROCESS status{};
        if (!installed.scm().waitForState(SERVICE_STOPPED, kHangMs, &status)) {
            ++hangs;
            std::fprintf(stderr, "cycle %d (seed %u): stop after %lu ms (plant %d) still in state %lu after 30 s\n",
                         done, seed, static_cast<unsigned long>(wait), plant ? 1 : 0,
                         static_cast<unsigned long>(status.dwCurrentState));
            if (!installed.scm().waitForState(SERVICE_STOPPED, kHangMs)) {
                ++done;
                break;
            }
            continue;
        }
        const double took = nowMs() - asked;
        stops.push_back(took);
        (plant ? stopsPlanted : stopsIdle).push_back(took);
        if (status.dwWin32ExitCode != 0) {
            ++badExit;
        }
        DeleteFileW(L"C:\\Program");
        DeleteFileW(L"C:\\Program1");
    }
    std::printf("stops at random moments (seed %u): %d cycles of %d asked (%d s budget), %zu reached STOPPED, "
                "%d hangs (> 30 s), %d start failures, %d non-zero exit codes\n",
                seed, done, cycles, budgetSeconds, stops.size(), hangs, startFailures, badExit);
    std::printf("stop request -> STOPPED: p50 %.0f ms, p99 %.0f ms, max %.0f ms\n", percentile(stops, 0.5),
                percentile(stops, 0.99), percentile(stops, 1.0));
    std::printf("  after a planted file (%zu): p50 %.0f ms, p99 %.0f ms, max %.0f ms; without (%zu): p50 %.0f ms, "
                "p99 %.0f ms, max %.0f ms\n",
                stopsPlanted.size(), percentile(stopsPlanted, 0.5), percentile(stopsPlanted, 0.99),
                percentile(stopsPlanted, 1.0), stopsIdle.size(), percentile(stopsIdle, 0.5),
                percentile(stopsIdle, 0.99), percentile(stopsIdle, 1.0));
    return hangs == 0 && startFailures == 0 && done > 0;
}

// ---- 2. bursts ------------------------------------------------------------------------

struct Burst {
    int rate;    // files per second
    int total;   // files made
    int every;   // one in `every` is offending, the last file always is
    bool isOffending(int i) const { return (total - 1 - i) % every == 0; }
    int offending() const { return (total + every - 1) / every; }
};

std::wstring offendingName(int i)
{
    return L"C:\\Program.b" + std::to_wstring(i);
}

std::wstring otherName(const wchar_t* side, int i)
{
    return std::wstring(L"C:\\stress_") + side + std::to_wstring(i) + L".dat";
}

int offendingLeft()
{
    return static_cast<int>(namesMatching(L"C:\\Program.b*").size());
}

// Makes the files from this process at the rate; returns the time the last one was made.
double makeFilesHere(const Burst& burst)
{
    const double start = nowMs();
    for (int i = 0; i < burst.total; ++i) {
        const double due = start + i * 1000.0 / burst.rate;
        for (double left = due - nowMs(); left > 0; left = due - nowMs()) {
            Sleep(left > 2 ? static_cast<DWORD>(left - 1) : 0);
        }
        createFile(burst.isOffending(i) ? offendingName(i) : otherName(L"w", i));
    }
    return nowMs();
}

// Makes the files with one /bin/sh script on the host, in batches every 0.1 s; returns the
// time its marker (touched after the last file) was seen, or 0 when it did not run.
double makeFilesOnHost(const Burst& burst, double* startedAt)
{
    std::string folder = unixPathOf(L"C:\\");
    const std::wstring marker = L"C:\\stress_marker.tmp";
    const std::string unixMarker = unixPathOf(marker);
    const std::wstring startMarker = L"C:\\stress_start.tmp";
    const std::string unixStartMarker = unixPathOf(startMarker);
    if (folder.empty() || unixMarker.empty() || unixStartMarker.empty()) {
        return 0;
    }
    if (folder.back() != '/') {
        folder += '/';
    }
    DeleteFileW(marker.c_str());
    DeleteFileW(startMarker.c_str());
    // One batch every 0.1 s: awk names the batch's files, one touch makes them all (a shell
    // loop making one file at a time does not reach 1,000 files per second).
    const int perBatch = std::max(1, burst.rate / 10);
    const int batches = (burst.total + perBatch - 1) / perBatch;
    const std::string script =
        "cd '" + folder + "' && : > '" + unixStartMarker + "' && b=0; while [ $b -lt " + std::to_string(batches) + " ]; do awk -v a=$((b*" +
        std::to_string(perBatch) + ")) -v p=" + std::to_string(perBatch) + " -v n=" + std::to_string(burst.total) +
        " -v e=" + std::to_string(burst.every) +
        " 'BEGIN { for (i = a; i < a + p && i < n; i++) print ((n - 1 - i) % e == 0 ? \"Program.b\" i : "
        "\"stress_l\" i \".dat\") }' | xargs touch; b=$((b+1)); [ $b -lt " +
        std::to_string(batches) + " ] && sleep 0.095; done; : > '" + unixMarker + "'";
    // The script goes as one argument; its own double quotes are escaped for the split.
    std::string escaped;
    for (char c : script) {
        escaped += c == '"' ? std::string("\\\"") : std::string(1, c);
    }
    *startedAt = nowMs();
    if (!startHostShell(escaped)) {
        std::fprintf(stderr, "cannot start /bin/sh: %lu\n", GetLastError());
        return 0;
    }
    const auto limit =
        std::chrono::milliseconds(static_cast<long long>(burst.total * 1000.0 / burst.rate * 3 + 30000));
    const auto appears = [&](const std::wstring& file) {
        return waitUntil([&] { return exists(file); }, limit, std::chrono::milliseconds(1));
    };
    // The rate is taken from the first batch on, not from the start of the shell.
    if (!appears(startMarker)) {
        std::fprintf(stderr, "the host script did not start\n");
        return 0;
    }
    *startedAt = nowMs();
    DeleteFileW(startMarker.c_str());
    if (!appears(marker)) {
        std::fprintf(stderr, "the host script did not finish\n");
        return 0;
    }
    const double made = nowMs();
    DeleteFileW(marker.c_str());
    return made;
}

// The service's diagnostic line after each pass of a watcher.
constexpr char kPassLine[] = "Check after a change in ";

int passesSince(const DbwinListener& listener, DWORD servicePid, size_t* seen)
{
    const std::vector<std::string> lines = listener.linesOf(servicePid);
    int passes = 0;
    for (size_t i = *seen; i < lines.size(); ++i) {
        passes += lines[i].find(kPassLine) != std::string::npos ? 1 : 0;
    }
    *seen = lines.size();
    return passes;
}

bool runBurst(const Burst& burst, bool fromHost, const DbwinListener& listener, DWORD servicePid)
{
    size_t seen = 0;
    passesSince(listener, servicePid, &seen);
    const wchar_t* side = fromHost ? L"l" : L"w";
    double started = nowMs();
    const double lastMade = fromHost ? makeFilesOnHost(burst, &started) : makeFilesHere(burst);
    if (lastMade == 0) {
        return false;
    }
    // The last file is offending: the figure is the time until no offending name is left.
    double lastRename = 0;
    const double limit = lastMade + 60000;
    while (nowMs() < limit) {
        if (offendingLeft() == 0) {
            lastRename = nowMs();
            break;
        }
        Sleep(5);
    }
    // Leave the passes caused by the renames time to come and go before looking.
    Sleep(2500);
    const int passes = passesSince(listener, servicePid, &seen);
    int renamedOk = 0, otherOk = 0;
    std::vector<std::wstring> wrong;
    for (int i = 0; i < burst.total; ++i) {
        if (burst.isOffending(i)) {
            const std::vector<std::wstring> found = namesMatching(L"C:\\Program*.b" + std::to_wstring(i));
            const bool ok = found.size() == 1 && found[0] != L"Program.b" + std::to_wstring(i);
            renamedOk += ok ? 1 : 0;
            if (!ok && wrong.size() < 5) {
                wrong.push_back(offendingName(i) + L" (" + std::to_wstring(found.size()) + L" names)");
            }
        } else {
            const bool ok = fileExists(otherName(side, i));
            otherOk += ok ? 1 : 0;
            if (!ok && wrong.size() < 5) {
                wrong.push_back(otherName(side, i) + L" missing");
            }
        }
    }
    const int others = burst.total - burst.offending();
    const double seconds = (lastMade - started) / 1000.0;
    std::printf("burst %4d/s from %-5s: %d files in %.2f s (%.0f/s between the first and the last), %d offending renamed of %d, %d others "
                "untouched of %d; last file made -> last rename: %s; %d passes\n",
                burst.rate, fromHost ? "Linux" : "Wine", burst.total, seconds, (burst.total - 1) / std::max(seconds, 0.001),
                renamedOk, burst.offending(), otherOk, others,
                lastRename > 0 ? (std::to_string(static_cast<long>(lastRename - lastMade + 0.5)) + " ms").c_str()
                               : "not within 60 s",
                passes);
    for (const std::wstring& w : wrong) {
        std::printf("  wrong: %ls\n", w.c_str());
    }
    // Clean up for the next burst and let the passes of the deletions settle.
    deleteFilesMatching(L"C:", L"Program*.b*");
    deleteFilesMatching(L"C:", L"stress_*.dat");
    clearPendingOperations();
    endProcesses(installedDialogPath());
    Sleep(2500);
    return lastRename > 0 && renamedOk == burst.offending() && otherOk == others;
}

bool runBursts(InstalledService& installed, int seconds)
{
    DbwinListener listener;
    if (!listener.start()) {
        std::fprintf(stderr, "no debug-output listener: %lu\n", GetLastError());
        return false;
    }
    setServiceSwitch(L"ShouldOutputToDebugView", true); // read once, at the start
    SERVICE_STATUS_PROCESS status{};
    const bool started = installed.scm().start() && installed.scm().waitForState(SERVICE_RUNNING, 15000, &status);
    setServiceSwitch(L"ShouldOutputToDebugView", false);
    if (!started) {
        std::fprintf(stderr, "the service did not start for the bursts: %lu\n", GetLastError());
        return false;
    }
    Sleep(1500);
    bool ok = true;
    for (bool fromHost : {false, true}) {
        for (int rate : {10, 100, 1000}) {
            Burst burst{rate, rate * seconds, 10};
            burst.every = std::max(10, (burst.total + kMaxOffendingPerBurst - 1) / kMaxOffendingPerBurst);
            ok = runBurst(burst, fromHost, listener, status.dwProcessId) && ok;
            std::fflush(stdout);
        }
    }
    installed.scm().stop();
    installed.scm().waitForState(SERVICE_STOPPED, kHangMs);
    return ok;
}

// ---- 3. countermeasures and launches: threads and handles back at rest ------------------

// The stand-in dialogs started since the last call, by notice switch; their files go.
void collectLaunches(int* fatal, int* other)
{
    for (const std::wstring& line : readStandInRecords(productFolder(), L"started-", true)) {
        (line.find(L" /fatal ") != std::wstring::npos ? *fatal : *other) += 1;
    }
    readStandInRecords(productFolder(), L"ended-", true);
}

bool runCountermeasuresAndLaunches(InstalledService& installed, int countermeasures, int launches, int budgetSeconds)
{
    createFile(productFolder() + L"\\release"); // every stand-in dialog ends at once
    SERVICE_STATUS_PROCESS status{};
    if (!installed.scm().start() || !installed.scm().waitForState(SERVICE_RUNNING, 15000, &status)) {
        std::fprintf(stderr, "the service did not start for the counts: %lu\n", GetLastError());
        return false;
    }
    const DWORD pid = status.dwProcessId;
    Sleep(2000);
    const ThreadsAndHandles rest = countsOf(pid);
    std::printf("resting service process: %d threads, %d handles\n", rest.threads, rest.handles);
    bool ok = rest.threads > 0 && rest.handles > 0;

    const double started = nowMs();
    const int renamed = renameInRounds(countermeasures);
    const double renameSeconds = (nowMs() - started) / 1000.0;
    ThreadsAndHandles peak = countsOf(pid), after;
    const bool restedAfterRenames = waitForRest(pid, rest, std::chrono::seconds(30), &after);
    std::printf("%d countermeasures (renames, 10 per pass) in %.0f s: then %d threads, %d handles (%s)\n", renamed,
                renameSeconds, after.threads, after.handles, restedAfterRenames ? "back at rest" : "NOT back at rest");
    ok = ok && restedAfterRenames && renamed >= countermeasures;

    // Launches: C:\Program cannot be renamed (immutable on the Linux side); its first pass
    // schedules the rename and shows the first "/restart" dialog. With the scheduling
    // refused as well, each new file that cannot be renamed gives one "/fatal" dialog when
    // none is open (a file already found stays silent, so each launch needs a new one; it
    // goes again once its dialog has been started).
    int fatal = 0, other = 0;
    if (!createImmutableFile(L"C:\\Program")) {
        std::printf("launches: not measured (no immutable files here)\n");
        DeleteFileW(L"C:\\Program");
    } else {
        {
            PendingRenamesDenied denied;
            if (!denied.ok()) {
                std::printf("launches: not measured (the registry does not refuse: %lu)\n", denied.error());
            } else {
                // Changes alternate between the two watched folders, half a pass apart, so
                // that the passes of the two watchers take turns.
                const std::wstring folders[2] = {L"C:\\", makerFolder() + L"\\"};
                const double begun = nowMs();
                const double deadline = begun + budgetSeconds * 1000.0;
                int triggers = 0;
                int lostRaces = 0; // files renamed before they could be made immutable
                // Rest for the launches is taken after ten of them: the runtime makes an
                // object or two of its own the first time a launch needs it and keeps them.
                ThreadsAndHandles warm;
                while (fatal < launches && nowMs() < deadline) {
                    if (warm.threads < 0 && fatal >= 10) {
                        Sleep(1500);
                        warm = countsOf(pid);
                    }
                    const std::wstring folder = folders[triggers % 2];
                    const std::wstring extension = L".f" + std::to_wstring(triggers);
                    const std::wstring failing = folder + (triggers % 2 ? L"Quarrow" : L"Program") + extension;
                    ++triggers;
                    if (!createImmutableFile(failing)) {
                        // A pass that a change before (the deletion of the last file) had
                        // started can rename the new file before the Linux side makes it
                        // immutable: the race is lost, not the service; its renamed copy
                        // goes, and the next name is tried.
                        deleteFilesMatching(folder, L"*" + extension);
                        if (++lostRaces > 20) {
                            std::printf("launches: cannot make %ls\n", failing.c_str());
                            break;
                        }
                        continue;
                    }
                    const int before = fatal;
                    waitUntil([&] {
                        collectLaunches(&fatal, &other);
                        return fatal > before;
                    }, std::chrono::seconds(5), std::chrono::milliseconds(50));
                    setImmutable(failing, false);
                    DeleteFileW(failing.c_str());
                    if (triggers % 20 == 0) {
                        const ThreadsAndHandles now = countsOf(pid);
                        peak.threads = std::max(peak.threads, now.threads);
                        peak.handles = std::max(peak.handles, now.handles);
                    }
                }
                Sleep(2000);
                collectLaunches(&fatal, &other);
                const bool rested = warm.threads > 0 && waitForRest(pid, warm, std::chrono::seconds(30), &after);
                std::printf("%d launches (\"/fatal\" dialogs, %d other) from %d changes (%d files renamed before "
                            "they were made immutable) in %.0f s: rest after the first "
                            "ten %d threads, %d handles; at the end %d threads, %d handles (%s); highest seen %d "
                            "threads, %d handles\n",
                            fatal, other, triggers, lostRaces, (nowMs() - begun) / 1000.0, warm.threads, warm.handles,
                            after.threads, after.handles, rested ? "back at rest" : "NOT back at rest", peak.threads,
                            peak.handles);
                ok = ok && rested && fatal >= launches;
            }
        }
        setImmutable(L"C:\\Program", false);
        DeleteFileW(L"C:\\Program");
    }
    const SERVICE_STATUS_PROCESS end = installed.scm().query();
    if (end.dwCurrentState != SERVICE_RUNNING || end.dwProcessId != pid) {
        std::printf("the service process did not keep running (state %lu)\n", end.dwCurrentState);
        ok = false;
    }
    installed.scm().stop();
    installed.scm().waitForState(SERVICE_STOPPED, kHangMs);
    clearPendingOperations();
    DeleteFileW((productFolder() + L"\\release").c_str());
    collectLaunches(&fatal, &other);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int budget = argc > 2 ? std::atoi(argv[2]) : 1080;
    const int burstSeconds = argc > 3 ? std::atoi(argv[3]) : 3;
    const int countermeasures = argc > 4 ? std::atoi(argv[4]) : 1000;
    const int launches = argc > 5 ? std::atoi(argv[5]) : 1000;
    const unsigned seed = argc > 6 ? static_cast<unsigned>(std::strtoul(argv[6], nullptr, 10)) : std::random_device{}();
    InstalledService installed(L"launch_standin_dialog.exe");
    if (!installed.ok()) {
        std::fprintf(stderr, "install failed: %s\n", installed.error().c_str());
        return 1;
    }
    bool ok = true;
    if (cycles > 0) {
        ok = runStops(installed, cycles, budget, seed) && ok;
        std::fflush(stdout);
    }
    if (burstSeconds > 0) {
        ok = runBursts(installed, burstSeconds) && ok;
        std::fflush(stdout);
    }
    if (countermeasures > 0 || launches > 0) {
        ok = runCountermeasuresAndLaunches(installed, countermeasures, launches, 1800) && ok;
    }
    endProcesses(installedDialogPath());
    return ok ? 0 : 1;
}
