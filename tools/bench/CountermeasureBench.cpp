// countermeasure_bench: figures for the README, not a test.
//  1. One full pass (checkAllCandidates over the machine's table) with 100, 10,000 and
//     100,000 unrelated files in C:\, against a bare enumeration of the same folders in
//     the same run; median of several runs each, and the ratio.
//  2. One pass over 30,000 entries in C:\ of which 95 are offending files (renamed for
//     real), against a bare enumeration of the same folders and against the 95 renames
//     alone (each file opened, checked and renamed through its handle, no listing), and the
//     same pass without its notification threads, and without its records too; median of
//     several runs. Then the time from a stop request during such a pass to its end, the
//     stop asked during the listing and between renames: the slowest.
//  3. The time from creating C:\Program to its rename through running watchers, over 50
//     tries: median and 95th percentile.
//  4. Floods of a path that keeps failing, one pass a second as a busy folder gives them,
//     for a minute each (the second argument, in seconds): a file that cannot be moved,
//     removed and made again before each pass; and a held file whose outcome alternates as
//     a number comes and goes. The records written in that time.
// Run it in a test prefix: it writes to C:\ and removes what it wrote.
#include "DriveC.h"
#include "Figures.h"
#include "HostShell.h"
#include "SilentNotices.h"

#include "_model/_service/MessageStrings.h"
#include "_model/_service/_guard/Countermeasure.h"
#include "_model/_service/_guard/DirectoryWatcher.h"
#include "_model/_service/_guard/OffendingEntry.h"
#include "_win32/OutputSettings.h"
#include "_win32/ReportAppEvent.h"
#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using namespace tamselsvc::model::service;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    size_t rank = static_cast<size_t>(p * v.size() + 0.999999);
    rank = std::min(std::max<size_t>(rank, 1), v.size());
    return v[rank - 1];
}

std::wstring entryName(int i)
{
    return L"C:\\brimlock-bench-" + std::to_wstring(i);
}

// Wine's own export (null outside Wine): the Linux path of a Windows path.
using brimlock_test::unixPathOf;

// The host side makes or removes the entries; `marker` tells when it is done.
bool runUnixShell(const std::string& script, const std::wstring& marker)
{
    return brimlock_test::runHostShellAndWait(script, marker, std::chrono::minutes(10));
}

// Under Wine each file made through CreateFileW costs a scan of the whole folder, so
// 100,000 of them take hours; the Linux side makes them in seconds.
bool createEntries(int from, int to)
{
    const std::string root = unixPathOf(L"C:\\");
    if (!root.empty()) {
        return runUnixShell("cd '" + root + "' && seq -f 'brimlock-bench-%.0f' " + std::to_string(from) + " " +
                                std::to_string(to - 1) + " | xargs touch",
                            L"C:\\brimlock-bench-done");
    }
    for (int i = from; i < to; ++i) {
        if (!brimlock_test::createFile(entryName(i))) {
            fprintf(stderr, "cannot create %ls: %lu\n", entryName(i).c_str(), GetLastError());
            return false;
        }
    }
    return true;
}

void removeEntries(int count)
{
    const std::string root = unixPathOf(L"C:\\");
    if (!root.empty() && runUnixShell("cd '" + root + "' && find . -maxdepth 1 -name 'brimlock-bench-*' -delete",
                                      L"C:\\brimlock-bench-done")) {
        return;
    }
    for (int i = 0; i < count; ++i) {
        DeleteFileW(entryName(i).c_str());
    }
}

size_t bareEnumeration(const CandidateTable& table)
{
    size_t entries = 0;
    for (const CandidateFolder& row : table) {
        WIN32_FIND_DATAW data;
        HANDLE search = FindFirstFileExW((row.folder + L"*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                         nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (search == INVALID_HANDLE_VALUE) {
            continue;
        }
        do {
            ++entries;
        } while (FindNextFileW(search, &data));
        FindClose(search);
    }
    return entries;
}

void passFigures(const CandidateTable& table)
{
    printf("Full pass vs bare enumeration (median of runs, ms):\n");
    printf("%10s %6s %12s %12s %8s\n", "entries", "runs", "pass", "enumeration", "ratio");
    int created = 0;
    for (const int count : {100, 10000, 100000}) {
        if (!createEntries(created, count)) {
            break;
        }
        created = count;
        const int runs = count >= 100000 ? 5 : 11;
        std::vector<double> pass, bare;
        for (int r = 0; r < runs; ++r) {
            // Alternated, so that caches favour neither.
            auto start = Clock::now();
            const size_t seen = bareEnumeration(table);
            bare.push_back(msSince(start));
            start = Clock::now();
            if (checkAllCandidates() != 0) {
                fprintf(stderr, "pass failed\n");
            }
            pass.push_back(msSince(start));
            (void)seen;
        }
        const double p = median(pass), b = median(bare);
        printf("%10d %6d %12.2f %12.2f %8.2f\n", count, runs, p, b, p / b);
        fflush(stdout);
    }
    removeEntries(created);
}

constexpr int kOffending = 95;

std::wstring offendingName(int i)
{
    return L"C:\\Program.o" + std::to_wstring(i);
}

// The 95 offending files, made on the Linux side (after the renamed ones of the last run
// have gone).
bool plantOffending()
{
    const std::string root = unixPathOf(L"C:\\");
    return runUnixShell("cd '" + root + "' && rm -f Program[0-9]*.o[0-9]* && seq -f 'Program.o%.0f' 0 " +
                            std::to_string(kOffending - 1) + " | xargs touch",
                        L"C:\\brimlock-bench-done");
}

bool allRenamed()
{
    for (int i = 0; i < kOffending; ++i) {
        if (brimlock_test::exists(offendingName(i))) {
            return false;
        }
    }
    return true;
}

// Stops asked during a pass: one while it lists C:\ (20 ms after its start), the others
// right after the record of its 10th, 30th, 50th, 70th and 90th rename. The slowest time
// from the request to the end of the pass.
HANDLE s_stopRequest = nullptr;
std::atomic<int> s_stopAfterRecords{0};
std::atomic<int> s_records{0};
double s_stopAskedAt = 0;

void recordThenMaybeStop(const std::wstring& text, WORD type, DWORD id)
{
    Corvane::Orlin::ReportAppEvent(text, type, id);
    if (++s_records == s_stopAfterRecords.load()) {
        s_stopAskedAt = brimlock_test::nowMs();
        SetEvent(s_stopRequest);
    }
}

double slowestStop(int* stops)
{
    double slowest = 0;
    *stops = 0;
    for (const int afterRecords : {0, 10, 30, 50, 70, 90}) {
        if (!plantOffending()) {
            return -1;
        }
        Corvane::Orlin::UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        s_stopRequest = stop.get();
        s_records = 0;
        s_stopAfterRecords = afterRecords;
        s_stopAskedAt = 0;
        CountermeasurePorts stopping = countermeasurePorts();
        stopping.report = &recordThenMaybeStop;
        std::thread asker;
        if (afterRecords == 0) {
            asker = std::thread([] {
                Sleep(20);
                s_stopAskedAt = brimlock_test::nowMs();
                SetEvent(s_stopRequest);
            });
        }
        {
            Corvane::Orlin::Ports<CountermeasurePorts>::Override scope(countermeasurePorts, stopping);
            checkAllCandidates(stop.get());
        }
        const double ended = brimlock_test::nowMs();
        if (asker.joinable()) {
            asker.join();
        }
        if (s_stopAskedAt > 0 && s_stopAskedAt <= ended && !allRenamed()) { // asked while the pass ran
            ++*stops;
            slowest = std::max(slowest, ended - s_stopAskedAt);
        }
        checkAllCandidates(); // the rest, so that the next run starts alike
    }
    return slowest;
}

// One pass over the planted files with the calls in `ports`; its time in ms.
double timedPass(const CountermeasurePorts& ports)
{
    if (!plantOffending()) {
        return -1;
    }
    Corvane::Orlin::Ports<CountermeasurePorts>::Override scope(countermeasurePorts, ports);
    const auto start = Clock::now();
    checkAllCandidates();
    const double took = msSince(start);
    return allRenamed() ? took : -1;
}

bool passWithOffendingFigures(const CandidateTable& table)
{
    constexpr int kEntries = 30000;
    constexpr int kRuns = 5;
    if (!createEntries(0, kEntries - kOffending)) {
        return false;
    }
    const CountermeasurePorts real = countermeasurePorts(); // with silent notices
    CountermeasurePorts noThreads = real;
    noThreads.startThread = [](std::function<void()>) {};
    CountermeasurePorts quiet = noThreads;
    quiet.report = [](const std::wstring&, WORD, DWORD) {};
    std::vector<double> pass, bare, renames, withoutThreads, withoutBoth;
    for (int r = 0; r < kRuns; ++r) {
        auto start = Clock::now();
        const size_t seen = bareEnumeration(table);
        bare.push_back(msSince(start));
        pass.push_back(timedPass(real));
        withoutThreads.push_back(timedPass(noThreads));
        withoutBoth.push_back(timedPass(quiet));
        if (pass.back() < 0 || withoutThreads.back() < 0 || withoutBoth.back() < 0) {
            fprintf(stderr, "a pass did not rename every offending file\n");
            return false;
        }

        // The renames alone: the same 95 files, opened, checked and renamed through their
        // handles, without a listing, a record or a notice.
        if (!plantOffending()) {
            return false;
        }
        start = Clock::now();
        for (int i = 0; i < kOffending; ++i) {
            OffendingEntry entry(offendingName(i));
            if (entry.renameTo(L"C:\\Program" + std::to_wstring(i + 1) + L".o" + std::to_wstring(i)) != 0) {
                fprintf(stderr, "rename %d failed\n", i);
                return false;
            }
        }
        renames.push_back(msSince(start));
        if (r == 0) {
            printf("%zu entries in the table's folders\n", seen);
        }
    }
    const double p = median(pass), b = median(bare), n = median(renames);
    const double t = median(withoutThreads), q = median(withoutBoth);
    printf("Pass over %d entries with %d offending files (median of %d runs, ms): pass %.1f, bare enumeration "
           "%.1f, the %d renames alone %.1f; pass / (enumeration + renames) = %.2f (target <= 1.5)\n",
           kEntries, kOffending, kRuns, p, b, kOffending, n, p / (b + n));
    printf("The same pass without its %d notification threads %.1f ms (%.2f), and without its records too %.1f ms "
           "(%.2f)\n",
           kOffending, t, t / (b + n), q, q / (b + n));
    fflush(stdout);
    int stops = 0;
    const double slowest = slowestStop(&stops);
    printf("Stop request during that pass -> end of the pass, %d stops (one during the listing, the others "
           "between renames): slowest %.1f ms (target <= 1000)\n",
           stops, slowest);
    fflush(stdout);
    const std::string root = unixPathOf(L"C:\\");
    runUnixShell("cd '" + root + "' && rm -f Program[0-9]*.o[0-9]* Program.o[0-9]*", L"C:\\brimlock-bench-done");
    removeEntries(kEntries);
    return true;
}

void latencyFigures(int tries)
{
    Corvane::Orlin::OutputSettings settings(L"tamselsvc");
    Corvane::Orlin::UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread supervisor([&] { watchCandidateFolders(stop.get(), settings); });
    Sleep(500);
    std::vector<double> latencies;
    for (int t = 0; t < tries; ++t) {
        if (!brimlock_test::createFile(L"C:\\Program")) {
            fprintf(stderr, "cannot create C:\\Program: %lu\n", GetLastError());
            break;
        }
        const auto created = Clock::now();
        while (!brimlock_test::exists(L"C:\\Program1") && msSince(created) < 10000) {
            Sleep(1);
        }
        latencies.push_back(msSince(created));
        // The pass may still be closing the file it renamed: try again for a moment.
        for (int i = 0; i < 200 && !DeleteFileW(L"C:\\Program1"); ++i) {
            Sleep(5);
        }
        // The rename and this deletion each start one more check a second later: let
        // them pass, so that the next try starts from a watcher waiting in its read.
        Sleep(2500);
    }
    SetEvent(stop.get());
    supervisor.join();
    if (!latencies.empty()) {
        printf("Creation of C:\\Program to its rename through the watcher, %zu tries: median %.0f ms, "
               "95th percentile %.0f ms, min %.0f ms, max %.0f ms\n",
               latencies.size(), median(latencies), percentile(latencies, 0.95),
               *std::min_element(latencies.begin(), latencies.end()),
               *std::max_element(latencies.begin(), latencies.end()));
    }
}

std::atomic<int> s_floodRecords{0};
void countRecord(const std::wstring&, WORD, DWORD)
{
    ++s_floodRecords;
}
BOOL WINAPI refuseRename(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
BOOL WINAPI pretendScheduled(LPCWSTR, LPCWSTR, DWORD)
{
    return TRUE;
}

// Passes one a second for `seconds`, `before` run before each; the records they wrote.
template <typename Before>
int recordsOfFlood(int seconds, Before before, int& passes)
{
    CountermeasurePorts ports = countermeasurePorts();
    ports.report = &countRecord;
    ports.setFileInformationByHandle = &refuseRename; // the file cannot be moved
    ports.moveFileEx = &pretendScheduled;             // the restart list stays as it is
    Corvane::Orlin::Ports<CountermeasurePorts>::Override scope(countermeasurePorts, ports);
    s_floodRecords = 0;
    passes = 0;
    const Clock::time_point start = Clock::now();
    for (; msSince(start) < seconds * 1000.0; ++passes) {
        before(passes);
        checkAllCandidates();
        Sleep(1000);
    }
    return s_floodRecords.load();
}

void floodFigures(int seconds)
{
    int passes = 0;
    int records = recordsOfFlood(seconds, [](int) {
        DeleteFileW(L"C:\\Program.exe");
        brimlock_test::createFile(L"C:\\Program.exe");
    }, passes);
    printf("Flood for %d s, a file that cannot be moved made anew before each pass: %d records in %d passes\n",
           seconds, records, passes);
    brimlock_test::cleanDriveC();

    for (int n = 1; n <= 99; ++n) {
        CreateDirectoryW((L"C:\\Program" + std::to_wstring(n) + L".com").c_str(), nullptr);
    }
    // A path of its own: the first flood's records of C:\Program.exe are still in their ten minutes.
    brimlock_test::createFile(L"C:\\Program.com");
    records = recordsOfFlood(seconds, [](int pass) {
        // The last number comes and goes: rename scheduled, then deletion scheduled, in turn.
        if (pass % 2) {
            RemoveDirectoryW(L"C:\\Program100.com");
        } else {
            CreateDirectoryW(L"C:\\Program100.com", nullptr);
        }
    }, passes);
    printf("Flood for %d s, a file that cannot be moved whose last number comes and goes: %d records in %d passes\n",
           seconds, records, passes);
    brimlock_test::cleanDriveC();
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    loadMessageStrings(GetModuleHandleW(nullptr));
    // Every pass below starts from this set: notices that show nothing.
    const CountermeasurePorts silent = brimlock_test::withSilentNotices(countermeasurePorts.real());
    Corvane::Orlin::Ports<CountermeasurePorts>::Override noNotices(countermeasurePorts, silent);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    const CandidateTable& table = wow64 ? wow64CandidateTable : nativeCandidateTable;
    g_activeCandidates = &table;
    printf("%s Windows table\n", wow64 ? "64-bit" : "32-bit");
    const int tries = argc > 1 ? _wtoi(argv[1]) : 50;
    if (tries > 0) { // 0: the floods alone
        passFigures(table);
        if (!passWithOffendingFigures(table)) {
            fprintf(stderr, "the pass with offending files was not measured\n");
        }
        latencyFigures(tries);
    }
    floodFigures(argc > 2 ? _wtoi(argv[2]) : 60);
    return 0;
}
