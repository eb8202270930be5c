// countermeasure_bench: figures for the README, not a test.
//  1. One full pass (checkAllCandidates over the machine's table) with 100, 10,000 and
//     100,000 unrelated files in C:\, against a bare enumeration of the same folders in
//     the same run; median of several runs each, and the ratio.
//  2. The time from creating C:\Program to its rename through running watchers, over 50
//     tries: median and 95th percentile.
// Run it in a test prefix: it writes to C:\ and removes what it wrote.
#include "HostShell.h"
#include "SilentLauncher.h"

#include "_model/_service/Countermeasure.h"
#include "_model/_service/DirectoryWatcher.h"
#include "_model/_service/MessageStrings.h"
#include "_win32/OutputSettings.h"
#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using namespace tamselsvc::model::service;
using Clock = std::chrono::steady_clock;

namespace {

brimlock_test::SilentLauncher s_silent;

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
        HANDLE file = CreateFileW(entryName(i).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "cannot create %ls: %lu\n", entryName(i).c_str(), GetLastError());
            return false;
        }
        CloseHandle(file);
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

void latencyFigures(int tries)
{
    Corvane::Orlin::OutputSettings settings(L"tamselsvc");
    Corvane::Orlin::UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread supervisor([&] { watchCandidateFolders(stop.get(), settings); });
    Sleep(500);
    std::vector<double> latencies;
    for (int t = 0; t < tries; ++t) {
        HANDLE file = CreateFileW(L"C:\\Program", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "cannot create C:\\Program: %lu\n", GetLastError());
            break;
        }
        CloseHandle(file);
        const auto created = Clock::now();
        while (GetFileAttributesW(L"C:\\Program1") == INVALID_FILE_ATTRIBUTES && msSince(created) < 10000) {
            Sleep(1);
        }
        latencies.push_back(msSince(created));
        DeleteFileW(L"C:\\Program1");
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

} // namespace

int wmain(int argc, wchar_t** argv)
{
    loadMessageStrings(GetModuleHandleW(nullptr));
    setNoticeLauncherForTesting(&s_silent);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    const CandidateTable& table = wow64 ? wow64CandidateTable : nativeCandidateTable;
    g_activeCandidates = &table;
    printf("%s Windows table\n", wow64 ? "64-bit" : "32-bit");
    const int tries = argc > 1 ? _wtoi(argv[1]) : 50;
    passFigures(table);
    latencyFigures(tries);
    return 0;
}
