// guard_bench: figures of the guard of registrations for the README, not a test. Makes 500
// service registrations through the service control manager, every fifth unquoted with
// spaces in a folder of its own (C:\brimlock-bench-guard\F<i>\A B\svc.exe, its program
// made), then:
//  1. the time to set up the guard's set (the report's scan filling it, no records) beside
//     the report's scan alone (with its records, dropped), medians of several runs in turn;
//  2. with the guard and the report's thread running (guard switch on): plant -> rename of
//     a file at a guarded third-party path, in watched folders and in folders past the
//     watched ones;
//  3. 100 more unquoted services (200 guarded folders): the process's threads and private
//     bytes before the guard starts and once it has its set, then its CPU time over an idle
//     20 seconds.
// Run it in a prefix of its own (scripts/bench-guard): it removes its services, files and
// switch again, but the prefix is meant to be thrown away.
#include "Figures.h"
#include "ProcessCounts.h"
#include "SilentNotices.h"
#include "TestPaths.h"

#include "_model/_service/MessageStrings.h"
#include "_model/_service/_guard/CountermeasurePorts.h"
#include "_model/_service/_guard/RegistrationGuard.h"
#include "_model/_service/_report/ReportScan.h"
#include "_model/_service/_report/ReportThread.h"
#include "_win32/Configuration.h"
#include "_win32/OutputSettings.h"
#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace tamselsvc::model::service;
using brimlock_test::nowMs;
using brimlock_test::percentile;
using brimlock_test::printMedianLine;
using Corvane::Orlin::UniqueServiceHandle;

namespace {

constexpr int kServices = 500;
constexpr int kRuns = 11;
const std::wstring kRoot = L"C:\\brimlock-bench-guard";

void dropRecord(const std::wstring&, WORD, DWORD) {}

std::wstring serviceName(int i)
{
    return L"brimlock-guard-bench-" + std::to_wstring(i);
}

// Every fifth one (and each one past kServices) unquoted, in a folder of its own.
bool makeService(SC_HANDLE manager, int i)
{
    const std::wstring folder = kRoot + L"\\F" + std::to_wstring(i);
    const bool unquoted = i % 5 == 0 || i >= kServices;
    const std::wstring program = folder + L"\\A B\\svc.exe";
    if (unquoted) {
        CreateDirectoryW(folder.c_str(), nullptr);
        CreateDirectoryW((folder + L"\\A B").c_str(), nullptr);
        Corvane::Orlin::UniqueFile made(CreateFileW(program.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    UniqueServiceHandle service(CreateServiceW(manager, serviceName(i).c_str(), serviceName(i).c_str(),
                                               SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                               SERVICE_ERROR_NORMAL,
                                               (unquoted ? program : L"\"" + program + L"\"").c_str(), nullptr,
                                               nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        fprintf(stderr, "CreateServiceW %d failed: %lu\n", i, GetLastError());
    }
    return static_cast<bool>(service);
}

void removeAll(SC_HANDLE manager, int count)
{
    for (int i = 0; i < count; ++i) {
        UniqueServiceHandle service(OpenServiceW(manager, serviceName(i).c_str(), DELETE));
        if (service) {
            DeleteService(service.get());
        }
    }
    brimlock_test::removeTree(kRoot);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, Corvane::Orlin::kConfigKey, Corvane::Orlin::kShouldGuardUnquotedPaths);
}

double privateMb()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PagefileUsage / (1024.0 * 1024.0);
}

double cpuMs()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ms = [](const FILETIME& t) { return (double(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e4; };
    return ms(kernel) + ms(user);
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Plants `path` and returns the milliseconds until it is gone; -1 after 10 s.
double plantToRename(const std::wstring& path)
{
    Corvane::Orlin::UniqueFile(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const double start = nowMs();
    while (exists(path)) {
        if (nowMs() - start > 10000) {
            return -1;
        }
        Sleep(5);
    }
    return nowMs() - start;
}

} // namespace

int wmain()
{
    loadMessageStrings(GetModuleHandleW(nullptr));
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        fprintf(stderr, "OpenSCManagerW failed: %lu\n", GetLastError());
        return 2;
    }
    removeAll(manager.get(), kServices + 100);
    CreateDirectoryW(kRoot.c_str(), nullptr);
    for (int i = 0; i < kServices; ++i) {
        if (!makeService(manager.get(), i)) {
            removeAll(manager.get(), kServices + 100);
            return 2;
        }
    }
    ReportScanPorts dropping = reportScanPorts.real();
    dropping.report = &dropRecord;
    Corvane::Orlin::Ports<ReportScanPorts>::Override reportScope(reportScanPorts, dropping);
    CountermeasurePorts silent = brimlock_test::withSilentNotices(countermeasurePorts.real());
    silent.report = &dropRecord;
    Corvane::Orlin::Ports<CountermeasurePorts>::Override guardScope(countermeasurePorts, silent);
    const auto never = [] { return false; };

    // 1. In turn, run after run.
    std::vector<double> reportAlone, guardSet;
    GuardedSet set;
    for (int run = 0; run < kRuns; ++run) {
        reportAlone.push_back(-nowMs());
        ReportScan(true).scan(never, true);
        reportAlone.back() += nowMs();
        guardSet.push_back(-nowMs());
        ReportScan(false).scan(never, false, &set);
        guardSet.back() += nowMs();
    }
    printf("%d services, %zu paths guarded (every fifth unquoted), %d runs each, taken in turn:\n", kServices,
           set.paths.size(), kRuns);
    printMedianLine("the report's scan alone (records built and dropped)", reportAlone);
    printMedianLine("the guard's set (the same scan, no records)", guardSet);

    // 2. and 3.
    const DWORD on = 1;
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, Corvane::Orlin::kConfigKey, Corvane::Orlin::kShouldGuardUnquotedPaths,
                    REG_DWORD, &on, sizeof(on));
    for (int i = kServices; i < kServices + 100; ++i) {
        makeService(manager.get(), i);
    }
    const int threadsBefore = brimlock_test::threadCount(GetCurrentProcessId());
    const double memoryBefore = privateMb();
    {
        const Corvane::Orlin::OutputSettings settings(L"tamselsvc");
        RegistrationGuard guard(nullptr, settings);
        const double started = nowMs();
        ReportThread report(nullptr, settings, guard.feed());
        const double first = plantToRename(kRoot + L"\\F0\\A.exe");
        printf("guard and report's thread started; the first planted file moved %.0f ms after the start\n",
               first < 0 ? -1 : nowMs() - started);
        // Each plant after the guard has been idle for a while (its own renames are changes
        // that a pass follows a second later, which would catch a plant made meanwhile).
        std::vector<double> renames, pastBound;
        for (int run = 0; run < kRuns; ++run) {
            Sleep(2500);
            renames.push_back(plantToRename(kRoot + L"\\F" + std::to_wstring(5 * (run + 1)) + L"\\A.exe"));
        }
        // Folders are watched in name order: F95, F90, ... come last, past the bound.
        for (int run = 0; run < 5; ++run) {
            Sleep(2500);
            pastBound.push_back(plantToRename(kRoot + L"\\F" + std::to_wstring(95 - 5 * run) + L"\\A.exe"));
        }
        printMedianLine("plant -> rename at a guarded third-party path (watched folder)", renames);
        printMedianLine("plant -> rename in a folder past the watched ones (5 runs)", pastBound);
        Sleep(3000);
        printf("200 guarded folders: threads %d before the guard, %d with it; private bytes %.1f MB before, %.1f MB "
               "with it\n",
               threadsBefore, brimlock_test::threadCount(GetCurrentProcessId()), memoryBefore, privateMb());
        const double cpuStart = cpuMs();
        Sleep(20000);
        printf("idle for 20 s with 200 guarded folders: %.0f ms CPU (%.2f %% of one core)\n", cpuMs() - cpuStart,
               (cpuMs() - cpuStart) / 200.0);
    }
    removeAll(manager.get(), kServices + 100);
    return 0;
}
