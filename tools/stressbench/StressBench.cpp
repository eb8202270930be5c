// Load on the service installed as on a customer's PC, in the prefix it runs in:
//   1. start/stop cycles, each stop at a random moment 0-1500 ms after RUNNING, half of
//      them just after a file was planted (the stop then lands in the one-second pause
//      or inside a pass); every stop must reach STOPPED, a stop still pending after 30 s
//      counts as a hang. Prints the 50th and 99th percentile and the maximum.
//   2. bursts of 10, 100 and 1,000 files per second in C:\, made from inside Wine and
//      from the Linux side, some of them offending (C:\Program.b<N>): every offending file
//      must be renamed, every other file must still be there under its name. Prints the
//      time from the last file made to the last rename.
// Usage: stressbench [cycles=1000] [cycleBudgetSeconds=720] [burstSeconds=3] [seed=random]
// Exit status 0 when every stop reached STOPPED and every burst was handled.
#include "HostShell.h"
#include "Figures.h"
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

std::vector<std::wstring> namesMatching(const std::wstring& pattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            names.push_back(data.cFileName);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    return names;
}

void deleteMatching(const std::wstring& pattern)
{
    for (const std::wstring& name : namesMatching(pattern)) {
        DeleteFileW((L"C:\\" + name).c_str());
    }
}

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
        if (plant) {
            Sleep(wait / 2);
            DeleteFileW(L"C:\\Program1");
            createFile(L"C:\\Program");
            Sleep(wait - wait / 2);
        } else {
            Sleep(wait);
        }
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
    if (folder.empty() || unixMarker.empty()) {
        return 0;
    }
    if (folder.back() != '/') {
        folder += '/';
    }
    DeleteFileW(marker.c_str());
    const int perBatch = std::max(1, burst.rate / 10);
    const std::string script =
        "d='" + folder + "'; i=0; while [ $i -lt " + std::to_string(burst.total) + " ]; do j=0; while [ $j -lt " +
        std::to_string(perBatch) + " ] && [ $i -lt " + std::to_string(burst.total) + " ]; do if [ $(( (" +
        std::to_string(burst.total - 1) + " - i) % " + std::to_string(burst.every) +
        " )) -eq 0 ]; then : > \"${d}Program.b$i\"; else : > \"${d}stress_l$i.dat\"; fi; i=$((i+1)); "
        "j=$((j+1)); done; [ $i -lt " +
        std::to_string(burst.total) + " ] && sleep 0.1; done; : > '" + unixMarker + "'";
    // The script goes as one argument; its own double quotes are escaped for the split.
    std::wstring escaped;
    for (char c : script) {
        if (c == '"') {
            escaped += L'\\';
        }
        escaped += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    std::wstring command = L"/bin/sh -c \"" + escaped + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    *startedAt = nowMs();
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        std::fprintf(stderr, "cannot start /bin/sh: %lu\n", GetLastError());
        return 0;
    }
    if (info.hThread) {
        CloseHandle(info.hThread);
    }
    if (info.hProcess) {
        CloseHandle(info.hProcess);
    }
    const double limit = nowMs() + burst.total * 1000.0 / burst.rate * 3 + 30000;
    while (GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (nowMs() > limit) {
            std::fprintf(stderr, "the host script did not finish\n");
            return 0;
        }
        Sleep(1);
    }
    const double made = nowMs();
    DeleteFileW(marker.c_str());
    return made;
}

bool runBurst(const Burst& burst, bool fromHost)
{
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
                "untouched of %d; last file made -> last rename: %s\n",
                burst.rate, fromHost ? "Linux" : "Wine", burst.total, seconds, (burst.total - 1) / std::max(seconds, 0.001),
                renamedOk, burst.offending(), otherOk, others,
                lastRename > 0 ? (std::to_string(static_cast<long>(lastRename - lastMade + 0.5)) + " ms").c_str()
                               : "not within 60 s");
    for (const std::wstring& w : wrong) {
        std::printf("  wrong: %ls\n", w.c_str());
    }
    // Clean up for the next burst and let the passes of the deletions settle.
    deleteMatching(L"C:\\Program*.b*");
    deleteMatching(L"C:\\stress_*.dat");
    clearPendingFileRenames();
    endProcesses(L"brimlockdlg.exe");
    Sleep(2500);
    return lastRename > 0 && renamedOk == burst.offending() && otherOk == others;
}

bool runBursts(InstalledService& installed, int seconds)
{
    if (!installed.scm().start() || !installed.scm().waitForState(SERVICE_RUNNING, 15000)) {
        std::fprintf(stderr, "the service did not start for the bursts: %lu\n", GetLastError());
        return false;
    }
    Sleep(1500);
    bool ok = true;
    for (bool fromHost : {false, true}) {
        for (int rate : {10, 100, 1000}) {
            Burst burst{rate, rate * seconds, 10};
            burst.every = std::max(10, (burst.total + kMaxOffendingPerBurst - 1) / kMaxOffendingPerBurst);
            ok = runBurst(burst, fromHost) && ok;
            std::fflush(stdout);
        }
    }
    std::printf("passes: not counted (the service writes no line per pass)\n");
    installed.scm().stop();
    installed.scm().waitForState(SERVICE_STOPPED, kHangMs);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const int cycles = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int budget = argc > 2 ? std::atoi(argv[2]) : 720;
    const int burstSeconds = argc > 3 ? std::atoi(argv[3]) : 3;
    const unsigned seed = argc > 4 ? static_cast<unsigned>(std::strtoul(argv[4], nullptr, 10)) : std::random_device{}();
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
    }
    endProcesses(L"brimlockdlg.exe");
    return ok ? 0 : 1;
}
