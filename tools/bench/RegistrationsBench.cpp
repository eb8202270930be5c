// registrations_bench: figures of the report of unquoted registrations for the README, not
// a test. Makes 500 service registrations through the service control manager (every fifth
// unquoted with spaces, with a file planted in front of them), then times, as the median
// of several runs each, taken in turn:
//  1. a bare enumeration of the services key (the subkeys' names only);
//  2. the same enumeration reading each service's Type and ImagePath;
//  3. the report's first scan: the split of every command line, the files and folders'
//     access lists of the paths tried, and the records of each finding (built, and handed
//     to a sink that drops them);
//  4. a later scan when nothing has changed: what each registry change costs;
//  5. the console scan's whole run, brimlockscan.exe /json and /csv from process start to
//     exit, its output read through a pipe and dropped;
//  6. after those, ten of the 500 made 32 KB lines (an unquoted path and " b" 16,000
//     times): the first scan again, and the process's peak private bytes before and after.
// Run it in a prefix of its own (scripts/bench-registrations): it removes its services and
// files again, but the prefix is meant to be thrown away.
#include "Figures.h"
#include "TestPaths.h"
#include "TestProcess.h"

#include "_model/_service/MessageStrings.h"
#include "_model/_service/_report/RegistrationScan.h"
#include "_model/_service/_report/ReportScan.h"
#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace tamselsvc::model::service;
using brimlock_test::nowMs;
using brimlock_test::percentile;
using brimlock_test::printMedianLine;
using Corvane::Orlin::UniqueServiceHandle;

namespace {

constexpr int kServices = 500;
constexpr int kRuns = 31;
const std::wstring kRoot = L"C:\\brimlock-bench-reg";

unsigned s_records = 0;
void countRecord(const std::wstring&, WORD, DWORD)
{
    ++s_records;
}

std::wstring serviceName(int i)
{
    return L"brimlock-bench-" + std::to_wstring(i);
}

std::wstring binaryPath(int i)
{
    const std::wstring folder = kRoot + L"\\Svc Dir " + std::to_wstring(i);
    return i % 5 == 0 ? folder + L"\\svc.exe -k bench" : L"\"" + folder + L"\\svc.exe\" -k bench";
}

bool makeServices(SC_HANDLE manager)
{
    CreateDirectoryW(kRoot.c_str(), nullptr);
    // Tried first for every unquoted one: each finding gets its warning record too.
    Corvane::Orlin::UniqueFile planted(
        CreateFileW((kRoot + L"\\Svc.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    for (int i = 0; i < kServices; ++i) {
        // The unquoted one's own program exists, so that Svc.exe is the planted file in
        // front of it (the report takes the longest existing prefix for the program).
        const std::wstring folder = kRoot + L"\\Svc Dir " + std::to_wstring(i);
        if (i % 5 == 0 && !(CreateDirectoryW(folder.c_str(), nullptr) &&
                            Corvane::Orlin::UniqueFile(CreateFileW((folder + L"\\svc.exe").c_str(), GENERIC_WRITE, 0,
                                                                   nullptr, CREATE_ALWAYS, 0, nullptr)))) {
            fprintf(stderr, "program %d not made: %lu\n", i, GetLastError());
            return false;
        }
        UniqueServiceHandle service(CreateServiceW(manager, serviceName(i).c_str(), serviceName(i).c_str(),
                                                   SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                                   SERVICE_ERROR_NORMAL, binaryPath(i).c_str(), nullptr, nullptr,
                                                   nullptr, nullptr, nullptr));
        if (!service) {
            fprintf(stderr, "CreateServiceW %d failed: %lu\n", i, GetLastError());
            return false;
        }
    }
    return true;
}

void removeServices(SC_HANDLE manager)
{
    for (int i = 0; i < kServices; ++i) {
        UniqueServiceHandle service(OpenServiceW(manager, serviceName(i).c_str(), DELETE));
        if (service) {
            DeleteService(service.get());
        }
    }
    brimlock_test::removeTree(kRoot);
}

// An unquoted path with spaces, then " b" until the line is 32,000 characters long.
std::wstring longLine(int i)
{
    std::wstring text = kRoot + L"\\Svc Dir " + std::to_wstring(i) + L"\\svc.exe";
    while (text.size() < 32000) {
        text += L" b";
    }
    return text;
}

bool makeLongLines(SC_HANDLE manager)
{
    for (int i = 0; i < kServices; i += kServices / 10) {
        UniqueServiceHandle service(OpenServiceW(manager, serviceName(i).c_str(), SERVICE_CHANGE_CONFIG));
        if (!service || !ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                              longLine(i).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr)) {
            fprintf(stderr, "ChangeServiceConfigW %d failed: %lu\n", i, GetLastError());
            return false;
        }
    }
    return true;
}

double peakPrivateMb()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakPagefileUsage / (1024.0 * 1024.0);
}

double timeOnce(const std::function<void()>& body)
{
    const double start = nowMs();
    body();
    return nowMs() - start;
}

// 1 and 2: the services key walked without the report. Returns the subkeys seen.
unsigned bareEnumeration(bool readValues)
{
    Corvane::Orlin::UniqueRegKey services;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServicesKey, 0, KEY_ENUMERATE_SUB_KEYS | KEY_WOW64_64KEY, services.put());
    unsigned count = 0;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(services.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        ++count;
        if (readValues) {
            Corvane::Orlin::UniqueRegKey service;
            if (RegOpenKeyExW(services.get(), name, 0, KEY_QUERY_VALUE, service.put()) == ERROR_SUCCESS) {
                DWORD type = 0, size = sizeof(type);
                RegQueryValueExW(service.get(), L"Type", nullptr, nullptr, reinterpret_cast<BYTE*>(&type), &size);
                wchar_t image[1024];
                size = sizeof(image);
                RegQueryValueExW(service.get(), L"ImagePath", nullptr, nullptr, reinterpret_cast<BYTE*>(image), &size);
            }
        }
    }
    return count;
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
    removeServices(manager.get());
    const double makeStart = nowMs();
    if (!makeServices(manager.get())) {
        removeServices(manager.get());
        return 2;
    }
    const double made = nowMs() - makeStart;

    ReportScanPorts counting = reportScanPorts.real();
    counting.report = &countRecord;
    Corvane::Orlin::Ports<ReportScanPorts>::Override scope(reportScanPorts, counting);
    const auto never = [] { return false; };

    const unsigned keys = bareEnumeration(false);
    ReportScan::Counts first;
    unsigned firstRecords = 0;
    ReportScan settled;
    settled.scan(never, true);
    // The four are timed in turn, run after run, so that whatever else the machine does
    // falls on all of them alike.
    std::vector<double> bare, reading, firstScans, laterScans;
    for (int run = 0; run < kRuns; ++run) {
        bare.push_back(timeOnce([] { bareEnumeration(false); }));
        reading.push_back(timeOnce([] { bareEnumeration(true); }));
        firstScans.push_back(timeOnce([&] {
            ReportScan reporter;
            s_records = 0;
            reporter.scan(never, true);
            first = reporter.counts();
            firstRecords = s_records;
        }));
        laterScans.push_back(timeOnce([&] { settled.scan(never, false); }));
    }

    printf("%d services made through the service control manager in %.0f ms; the key holds %u subkeys\n", kServices,
           made, keys);
    printf("a scan checks %u registrations, finds %u unquoted with spaces, builds %u records\n", first.checked,
           first.found, firstRecords);
    printf("%d runs each, taken in turn:\n", kRuns);
    printMedianLine("bare enumeration of the services key (names only)", bare);
    printMedianLine("enumeration reading each Type and ImagePath", reading);
    printMedianLine("first scan of the report (split, files, access lists, records)", firstScans);
    printMedianLine("later scan with nothing changed (the cost of a registry change)", laterScans);
    printf("first scan / enumeration reading the values: %.2f\n",
           percentile(firstScans, 0.5) / percentile(reading, 0.5));

    // The console scan as an administrator's script runs it: a process of its own each time.
    const std::wstring tool = brimlock_test::quoteArgument(brimlock_test::builtProgram(L"brimlockscan.exe"));
    std::vector<double> toolJson, toolCsv;
    DWORD toolExit = 0;
    for (int run = 0; run < kRuns; ++run) {
        toolJson.push_back(timeOnce([&] { toolExit = brimlock_test::runProcess(tool + L" /json", 120000, true).exitCode; }));
        toolCsv.push_back(timeOnce([&] { brimlock_test::runProcess(tool + L" /csv", 120000, true); }));
    }
    printf("brimlockscan.exe, the whole run (exit code %lu), %d runs each:\n", toolExit, kRuns);
    printMedianLine("brimlockscan /json (process start to exit)", toolJson);
    printMedianLine("brimlockscan /csv (process start to exit)", toolCsv);
    printf("brimlockscan /json / first scan of the report: %.2f\n",
           percentile(toolJson, 0.5) / percentile(firstScans, 0.5));

    const double peakBefore = peakPrivateMb();
    if (!makeLongLines(manager.get())) {
        removeServices(manager.get());
        return 2;
    }
    std::vector<double> longScans;
    for (int run = 0; run < kRuns; ++run) {
        longScans.push_back(timeOnce([&] {
            ReportScan reporter;
            reporter.scan(never, true);
            first = reporter.counts();
        }));
    }
    printf("with ten of the %d registrations 32 KB lines (%u checked, %u unquoted with spaces):\n", kServices,
           first.checked, first.found);
    printMedianLine("first scan of the report", longScans);
    printf("  peak private bytes of the process: %.1f MB before those scans, %.1f MB after\n", peakBefore,
           peakPrivateMb());

    removeServices(manager.get());
    return 0;
}
