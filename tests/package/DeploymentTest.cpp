// The ways an administrator deploys and runs the service, each carried out under Wine as on
// a customer's PC: the Windows Installer package through its whole life on a machine of a
// fleet (silent install, upgrade to the next version, a refused downgrade, a repair, the
// check with packaging/verify/verify.cmd, uninstall), the sc.exe scripts of packaging/sc,
// and the Group Policy template that sets the service's switches.
#include "DbwinListener.h"
#include "FileVersion.h"
#include "MessageBoxProbe.h"
#include "PolicyTemplate.h"
#include "Registry.h"
#include "ServiceEntry.h"
#include "ServiceInstall.h"
#include "TestPaths.h"
#include "TestProcess.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <msi.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using namespace brimlock_test;

namespace {

const std::wstring kService = L"tamselsvc";
const std::wstring kDisplayName = L"brimlock unquoted path protection";
constexpr wchar_t kUpgradeCode[] = L"{CF772B7B-4012-438C-917E-B870D881C358}";
constexpr wchar_t kEventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\brimlock";
// A neighbour of the event source in the Application log, with a name that begins alike:
// the uninstall must leave it.
constexpr wchar_t kNeighbourKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\brimlockx";

std::wstring sourcePath(const std::wstring& relative)
{
    return windowsPathOf(environmentVariable(L"BRIMLOCK_SOURCE_DIR")) + L"\\" + relative;
}

// Wine's sc.exe accepts "sc failure" but its service control manager keeps no failure
// actions; the tests expect them only where they are kept.
bool runningUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// The products installed under the package's upgrade code, with their versions.
std::vector<std::wstring> installedVersions()
{
    std::vector<std::wstring> versions;
    wchar_t product[39];
    for (DWORD index = 0; MsiEnumRelatedProductsW(kUpgradeCode, 0, index, product) == ERROR_SUCCESS; ++index) {
        wchar_t version[64] = {};
        DWORD length = 64;
        MsiGetProductInfoW(product, INSTALLPROPERTY_VERSIONSTRING, version, &length);
        versions.push_back(version);
    }
    return versions;
}

// Service entries of the product, whatever their names: those with its display name.
size_t serviceEntriesOfTheProduct()
{
    Corvane::Orlin::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    if (!manager) {
        return 0;
    }
    std::vector<BYTE> buffer(256 * 1024);
    DWORD needed = 0, count = 0, resume = 0;
    if (!EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buffer.data(),
                               static_cast<DWORD>(buffer.size()), &needed, &count, &resume, nullptr)) {
        return 0;
    }
    const auto* services = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
    size_t found = 0;
    for (DWORD i = 0; i < count; ++i) {
        found += services[i].lpDisplayName && kDisplayName == services[i].lpDisplayName;
    }
    return found;
}

// The lines of verify.cmd's output, without line ends.
std::vector<std::string> linesOf(const std::string& output)
{
    std::vector<std::string> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

size_t countStartingWith(const std::vector<std::string>& lines, const std::string& head)
{
    size_t n = 0;
    for (const auto& line : lines) {
        n += line.compare(0, head.size(), head) == 0;
    }
    return n;
}

bool hasLine(const std::vector<std::string>& lines, const std::string& line)
{
    for (const auto& each : lines) {
        if (each == line) {
            return true;
        }
    }
    return false;
}

// The entry that both ways create: own process, automatic start, LocalSystem, and the
// program's path in quotes (whatever the installer engine wrote itself).
void expectShippedEntry(const ServiceEntry& entry)
{
    EXPECT_EQ(0u, entry.openError);
    EXPECT_EQ(DWORD(SERVICE_WIN32_OWN_PROCESS), entry.serviceType);
    EXPECT_EQ(DWORD(SERVICE_AUTO_START), entry.startType);
    EXPECT_EQ(DWORD(SERVICE_ERROR_NORMAL), entry.errorControl);
    EXPECT_EQ(L"LocalSystem", entry.startName);
    EXPECT_EQ(L"\"" + productFolder() + L"\\brimlock.exe\"", entry.binaryPath)
        << "the path must be quoted: " << toUtf8(entry.binaryPath);
    EXPECT_EQ(kDisplayName, entry.displayName);
    EXPECT_TRUE(entry.haveDescription);
    EXPECT_EQ(0u, entry.description.find(L"Renames files such as C:\\Program that would be started"))
        << toUtf8(entry.description);
}

// The event source "brimlock" registered for the installed program, as a plain string that
// holds the resolved path.
void expectEventSource()
{
    const RegistryValue file = readMachineValue(kEventSourceKey, L"EventMessageFile");
    EXPECT_EQ(ERROR_SUCCESS, file.error);
    EXPECT_EQ(DWORD(REG_SZ), file.type);
    EXPECT_EQ(productFolder() + L"\\brimlock.exe", file.text) << toUtf8(file.text);
    const RegistryValue types = readMachineValue(kEventSourceKey, L"TypesSupported");
    EXPECT_EQ(ERROR_SUCCESS, types.error);
    EXPECT_EQ(DWORD(REG_DWORD), types.type);
    EXPECT_EQ(7u, types.number);
}

// Both installed programs carry `version` (major.minor.patch) in their version resources.
void expectInstalledVersion(const std::wstring& version)
{
    for (const wchar_t* name : {L"brimlock.exe", L"brimlockdlg.exe"}) {
        const FileVersion installed = readFileVersion(productFolder() + L"\\" + name);
        EXPECT_EQ(0u, installed.error) << toUtf8(name);
        EXPECT_EQ(version + L".0", installed.fileVersion) << toUtf8(name);
        EXPECT_EQ(version, installed.string(L"ProductVersion")) << toUtf8(name);
    }
}

class Deployment : public ::testing::Test {
protected:
    void TearDown() override
    {
        endProcesses(installedDialogPath());
        for (const wchar_t* name : {L"C:\\Program", L"C:\\Program1", L"C:\\Program2", L"C:\\Program.brimlock-verify",
                                    L"C:\\Program2.brimlock-verify"}) {
            DeleteFileW(name);
        }
        // A failed test may leave the service behind: take it away for the next one.
        if (readServiceEntry(kService).openError == 0) {
            runSc(L"stop " + kService);
            waitForServiceState(kService, SERVICE_STOPPED, 10000);
            runSc(L"delete " + kService);
        }
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kNeighbourKey, KEY_WOW64_64KEY, 0);
        removeTree(makerFolder());
        // The installer's logs stay for a failed test (the prefix is made anew each run).
        if (HasFailure()) {
            std::printf("installer logs: %s\n", toUtf8(_logs).c_str());
        } else {
            removeTree(_logs);
        }
    }

    // Plants C:\Program and expects the running service to rename it to C:\Program1 and
    // record it. The service's watchers begin to read only after its first check, which
    // follows the RUNNING report: a file planted in between waits for the next change.
    void expectProtection()
    {
        DeleteFileW(L"C:\\Program1");
        Sleep(1500);
        BootLog log;
        ASSERT_TRUE(createFile(L"C:\\Program"));
        EXPECT_TRUE(waitUntil([] { return fileExists(L"C:\\Program1"); }, 10s));
        EXPECT_FALSE(fileExists(L"C:\\Program"));
        EXPECT_TRUE(log.waitFor(renamedRecord(L"C:\\Program", L"C:\\Program1"), 5000)) << log.fresh();
    }

    void expectNothingLeft()
    {
        DWORD error = 0;
        EXPECT_TRUE(waitForServiceGone(kService, 15000, &error)) << "OpenService gave " << error;
        EXPECT_TRUE(waitUntil([] { return findProcessByImageName(L"brimlock.exe") == 0; }, 10s));
        EXPECT_FALSE(fileExists(productFolder() + L"\\brimlock.exe"));
        EXPECT_FALSE(fileExists(productFolder() + L"\\brimlockdlg.exe"));
        EXPECT_FALSE(fileExists(productFolder() + L"\\brimlockscan.exe"));
        EXPECT_FALSE(isDirectory(productFolder()));
        EXPECT_FALSE(isDirectory(makerFolder()));
        EXPECT_FALSE(machineKeyExists(kEventSourceKey));
    }

    // msiexec with the arguments, silent, with a verbose log in the test's folder.
    ProcessResult msiexec(const std::wstring& arguments, const wchar_t* logName)
    {
        return runProcess(L"msiexec.exe " + arguments + L" /qn /l*v " + quoteArgument(_logs + L"\\" + logName),
                          120000);
    }

    ProcessResult verify(const wchar_t* arguments = L"")
    {
        return runProcess(L"cmd.exe /c " + quoteArgument(sourcePath(L"packaging\\verify\\verify.cmd")) + arguments,
                          60000, true);
    }

    std::wstring _logs = makeTempDirectory(L"msi");
};

} // namespace

TEST(ProgramResources, VersionResourcesCarryTheProductVersion)
{
    const std::wstring version = environmentVariable(L"BRIMLOCK_VERSION");
    ASSERT_FALSE(version.empty());
    const struct {
        const wchar_t* file;
        const wchar_t* description;
    } programs[] = {{L"brimlock.exe", L"brimlock unquoted path protection service"},
                    {L"brimlockdlg.exe", L"brimlock notice to the console user"}};
    for (const auto& program : programs) {
        SCOPED_TRACE(toUtf8(program.file));
        const FileVersion built = readFileVersion(builtProgram(program.file));
        ASSERT_EQ(0u, built.error);
        EXPECT_EQ(version + L".0", built.fileVersion);
        EXPECT_EQ(version + L".0", built.productVersion);
        EXPECT_EQ(DWORD(VFT_APP), built.fileType);
        EXPECT_EQ(L"040904b0", built.translation);
        EXPECT_EQ(L"Corvane", built.string(L"CompanyName"));
        EXPECT_EQ(L"brimlock", built.string(L"ProductName"));
        EXPECT_EQ(program.description, built.string(L"FileDescription"));
        EXPECT_EQ(program.file, built.string(L"OriginalFilename"));
        EXPECT_EQ(version + L".0", built.string(L"FileVersion"));
        EXPECT_EQ(version, built.string(L"ProductVersion"));
    }
}

// Event Viewer shows a record of "brimlock" as the message of its event ID in the source's
// message file, loaded as a data file, with the record's insertion strings: each record's
// one string must come out exactly, in every language of the table and in the fallback.
TEST(ProgramResources, EventViewerShowsEachRecordsOwnText)
{
    HMODULE module = LoadLibraryExW(builtProgram(L"brimlock.exe").c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, module) << "error " << GetLastError();
    const std::wstring renamed = L"\"C:\\Program\" -> \"C:\\Program1\"";
    const std::wstring records[] = {
        L"The file was renamed as follows.\r\n\r\n" + renamed,
        L"The file will be renamed as follows on restart.\r\n\r\n" + renamed,
        L"The following file will be deleted on restart.\r\n\r\n\"C:\\Program\"",
        L"Error code= 5",
        L"\u4e0b\u8a18\u306e\u901a\u308a\u30d5\u30a1\u30a4\u30eb\u540d\u3092\u5909\u66f4\u3057\u307e\u3057\u305f"
        L"\u3002\r\n\r\n" + renamed,
        L"\u518d\u8d77\u52d5\u6642\u306b\u4e0b\u8a18\u306e\u901a\u308a\u30d5\u30a1\u30a4\u30eb\u540d\u304c\u5909"
        L"\u66f4\u3055\u308c\u307e\u3059\u3002\r\n\r\n" + renamed,
        L"\u518d\u8d77\u52d5\u6642\u306b\u4e0b\u8a18\u306e\u30d5\u30a1\u30a4\u30eb\u304c\u524a\u9664\u3055\u308c"
        L"\u307e\u3059\u3002\r\n\r\n\"C:\\Program\"",
        L"\u30a8\u30e9\u30fc\u30b3\u30fc\u30c9= 32",
        // Inserts are not expanded again: "%" signs in a path stay as they are.
        L"The file was renamed as follows.\r\n\r\n\"C:\\100%\\Program\" -> \"C:\\100%\\Program1\"",
        L"%1 %2 %% %n %0 %!s! %1!s!",
        L"rename: Access is denied.\r\n: \"C:\\Program Files.txt\", \"C:\\Program Files1.txt\"",
    };
    const LANGID languages[] = {0, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)};
    for (LANGID language : languages) {
        for (const auto& record : records) {
            SCOPED_TRACE("language " + std::to_string(language) + ": " + toUtf8(record));
            const DWORD_PTR inserts[] = {reinterpret_cast<DWORD_PTR>(record.c_str())};
            wchar_t* shown = nullptr;
            const DWORD length = FormatMessageW(
                FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER, module,
                0, language, reinterpret_cast<LPWSTR>(&shown), 0, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(inserts)));
            ASSERT_NE(0u, length) << "FormatMessageW failed with " << GetLastError();
            EXPECT_EQ(record, std::wstring(shown, length)) << toUtf8(std::wstring(shown, length));
            LocalFree(shown);
        }
    }
    FreeLibrary(module);
}

// The package through a machine's life in a fleet, in order: install N, upgrade to N+1 while
// N runs, a downgrade to N refused, a repair, verify.cmd passing and failing, uninstall.
TEST_F(Deployment, MsiInstallUpgradeRefusedDowngradeRepairVerifyAndUninstall)
{
    const std::wstring package = windowsPathOf(environmentVariable(L"BRIMLOCK_MSI"));
    const std::wstring nextPackage = windowsPathOf(environmentVariable(L"BRIMLOCK_NEXT_MSI"));
    const std::wstring version = environmentVariable(L"BRIMLOCK_VERSION");
    const std::wstring nextVersion = environmentVariable(L"BRIMLOCK_NEXT_VERSION");
    ASSERT_TRUE(fileExists(package)) << toUtf8(package);
    ASSERT_TRUE(fileExists(nextPackage)) << toUtf8(nextPackage);
    ASSERT_NE(version, nextVersion);
    ASSERT_EQ(ERROR_SUCCESS, setMachineDword(kNeighbourKey, L"TypesSupported", 7));

    // Version N, silently.
    ProcessResult install = msiexec(L"/i " + quoteArgument(package), L"install.log");
    ASSERT_TRUE(install.finished);
    ASSERT_EQ(0u, install.exitCode);
    ServiceEntry entry;
    EXPECT_TRUE(waitForServiceState(kService, SERVICE_RUNNING, 15000, &entry))
        << "state " << entry.status.dwCurrentState << ", open error " << entry.openError;
    expectShippedEntry(entry);
    // The failure-actions flag comes with MsiConfigureServices (Windows Installer 5.0), which
    // Wine's installer (4.5) skips; Wine's service control manager has no such level either.
    if (runningUnderWine()) {
        EXPECT_EQ(DWORD(ERROR_INVALID_LEVEL), entry.failureActionsFlagError);
    } else {
        EXPECT_EQ(0u, entry.failureActionsFlagError);
        EXPECT_TRUE(entry.failureActionsOnNonCrashFailures);
    }
    expectInstalledVersion(version);
    expectEventSource();
    expectProtection();
    EXPECT_TRUE(fileExists(productFolder() + L"\\brimlockscan.exe"));

    // A rebuilt N (another product code) over N: it replaces N, one product stays.
    ProcessResult rebuilt =
        msiexec(L"/i " + quoteArgument(windowsPathOf(environmentVariable(L"BRIMLOCK_REBUILT_MSI"))), L"rebuilt.log");
    ASSERT_TRUE(rebuilt.finished);
    ASSERT_EQ(0u, rebuilt.exitCode);
    EXPECT_EQ(std::vector<std::wstring>{version}, installedVersions());
    EXPECT_EQ(1u, serviceEntriesOfTheProduct());
    EXPECT_TRUE(fileExists(productFolder() + L"\\brimlockscan.exe"));

    // N+1 over the running N, silently: one product, one entry, the new programs.
    ProcessResult upgrade = msiexec(L"/i " + quoteArgument(nextPackage), L"upgrade.log");
    ASSERT_TRUE(upgrade.finished);
    ASSERT_EQ(0u, upgrade.exitCode);
    EXPECT_EQ(std::vector<std::wstring>{nextVersion}, installedVersions());
    EXPECT_TRUE(waitForServiceState(kService, SERVICE_RUNNING, 15000, &entry)) << entry.status.dwCurrentState;
    EXPECT_EQ(1u, serviceEntriesOfTheProduct());
    expectShippedEntry(entry);
    expectInstalledVersion(nextVersion);
    expectEventSource();
    expectProtection();
    EXPECT_TRUE(fileExists(productFolder() + L"\\brimlockscan.exe"));

    // N over N+1: refused with the downgrade message (shown with the basic interface, which
    // Wine's installer shows and logs no other way), N+1 left running.
    StartedProcess downgrade = startProcess(L"msiexec.exe /i " + quoteArgument(package) + L" /qb");
    ASSERT_TRUE(downgrade.process) << "error " << GetLastError();
    const HWND box = waitForDialogWindow(downgrade.processId, 60000);
    if (box == nullptr) {
        TerminateProcess(downgrade.process.get(), 0xDEAD);
        FAIL() << "no message from the installer within 60 s";
    }
    EXPECT_EQ(L"A newer version of brimlock is already installed.", readMessageBox(box).text);
    EXPECT_TRUE(pressReturn(box));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(downgrade.process.get(), 60000));
    DWORD downgradeExit = 0;
    GetExitCodeProcess(downgrade.process.get(), &downgradeExit);
    EXPECT_EQ(DWORD(ERROR_INSTALL_FAILURE), downgradeExit);
    EXPECT_EQ(std::vector<std::wstring>{nextVersion}, installedVersions());
    EXPECT_TRUE(waitForServiceState(kService, SERVICE_RUNNING, 5000, &entry)) << entry.status.dwCurrentState;
    expectInstalledVersion(nextVersion);

    // A repair (msiexec /fa on Windows; Wine's msiexec knows only the properties) restores a
    // deleted program and leaves the image path quoted, however it was changed meanwhile.
    {
        Corvane::Orlin::UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        Corvane::Orlin::UniqueServiceHandle service(OpenServiceW(manager.get(), kService.c_str(), SERVICE_CHANGE_CONFIG));
        const std::wstring unquoted = productFolder() + L"\\brimlock.exe";
        ASSERT_TRUE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                         unquoted.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
            << GetLastError();
    }
    ASSERT_EQ(productFolder() + L"\\brimlock.exe", readServiceEntry(kService).binaryPath);
    ASSERT_TRUE(DeleteFileW((productFolder() + L"\\brimlockdlg.exe").c_str())) << GetLastError();
    ASSERT_TRUE(DeleteFileW((productFolder() + L"\\brimlockscan.exe").c_str())) << GetLastError();
    ProcessResult repair = msiexec(L"/i " + quoteArgument(nextPackage) + L" REINSTALL=ALL REINSTALLMODE=a", L"repair.log");
    ASSERT_TRUE(repair.finished);
    EXPECT_EQ(0u, repair.exitCode);
    EXPECT_TRUE(fileExists(productFolder() + L"\\brimlockdlg.exe"));
    EXPECT_TRUE(fileExists(productFolder() + L"\\brimlockscan.exe"));
    EXPECT_TRUE(waitForServiceState(kService, SERVICE_RUNNING, 15000, &entry)) << entry.status.dwCurrentState;
    expectShippedEntry(entry);
    expectInstalledVersion(nextVersion);

    // verify.cmd: every check passes, and the planted file is renamed and removed again.
    Sleep(1500); // the watchers begin after the service's first check
    ProcessResult verified = verify(L" /plant");
    ASSERT_TRUE(verified.finished);
    EXPECT_EQ(0u, verified.exitCode) << verified.output;
    std::vector<std::string> lines = linesOf(verified.output);
    const std::string folder = toUtf8(productFolder());
    const std::string next = toUtf8(nextVersion);
    EXPECT_EQ(0u, countStartingWith(lines, "FAILED:")) << verified.output;
    EXPECT_EQ(12u, countStartingWith(lines, "ok: ")) << verified.output;
    EXPECT_TRUE(hasLine(lines, "ok: tamselsvc is RUNNING")) << verified.output;
    EXPECT_TRUE(hasLine(lines, "ok: image path \"" + folder + "\\brimlock.exe\" is quoted")) << verified.output;
    EXPECT_TRUE(hasLine(lines, "ok: brimlock.exe version " + next + ".0 in " + folder)) << verified.output;
    EXPECT_TRUE(hasLine(lines, "ok: brimlockdlg.exe version " + next + ".0 in " + folder)) << verified.output;
    EXPECT_TRUE(hasLine(lines, "ok: event source brimlock registered for " + folder + "\\brimlock.exe"))
        << verified.output;
    EXPECT_TRUE(hasLine(lines, "ok: ShouldOutputToEventlog is off (not set)")) << verified.output;
    EXPECT_TRUE(hasLine(lines, "ok: ShouldReportUnquotedPaths is off (not set)")) << verified.output;
    EXPECT_TRUE(hasLine(lines, "ok: ShouldGuardUnquotedPaths is off (not set)")) << verified.output;
    // The first free number: C:\Program1 of the renames above is taken.
    EXPECT_EQ(1u, countStartingWith(lines, "ok: the service renamed C:\\Program.brimlock-verify to "
                                           "C:\\Program2.brimlock-verify within "))
        << verified.output;
    EXPECT_TRUE(hasLine(lines, "every check passed")) << verified.output;
    EXPECT_FALSE(fileExists(L"C:\\Program.brimlock-verify"));
    EXPECT_FALSE(fileExists(L"C:\\Program2.brimlock-verify"));

    // ... and with the service stopped, that check fails, and only that one.
    ASSERT_EQ(0u, runSc(L"stop " + kService));
    ASSERT_TRUE(waitForServiceState(kService, SERVICE_STOPPED, 15000));
    verified = verify();
    ASSERT_TRUE(verified.finished);
    EXPECT_EQ(1u, verified.exitCode) << verified.output;
    lines = linesOf(verified.output);
    EXPECT_EQ(1u, countStartingWith(lines, "FAILED:")) << verified.output;
    EXPECT_TRUE(hasLine(lines, "FAILED: tamselsvc is not RUNNING (state STOPPED)")) << verified.output;
    EXPECT_EQ(10u, countStartingWith(lines, "ok: ")) << verified.output;

    // The installed scan runs by its full path; an undo file it left goes at uninstall.
    EXPECT_EQ(0u, runProcess(quoteArgument(productFolder() + L"\\brimlockscan.exe") + L" /json", 60000).exitCode);
    CreateDirectoryW((productFolder() + L"\\undo").c_str(), nullptr);
    ASSERT_TRUE(createFile(productFolder() + L"\\undo\\brimlockscan-undo-test.json"));

    ProcessResult uninstall = msiexec(L"/x " + quoteArgument(nextPackage), L"uninstall.log");
    ASSERT_TRUE(uninstall.finished);
    EXPECT_EQ(0u, uninstall.exitCode);
    expectNothingLeft();
    EXPECT_TRUE(installedVersions().empty());
    // Only the source's own key goes.
    EXPECT_EQ(7u, readMachineValue(kNeighbourKey, L"TypesSupported").number);
    // Files the service renamed are the administrator's to judge: the uninstall keeps them.
    EXPECT_TRUE(fileExists(L"C:\\Program1"));
}

TEST_F(Deployment, ScScriptsCreateTheEntryAsThePackageDoesAndRemoveIt)
{
    // The administrator's folder: both programs and the two scripts side by side.
    const std::wstring kit = makeTempDirectory(L"sc");
    for (const wchar_t* name : {L"brimlock.exe", L"brimlockdlg.exe"}) {
        ASSERT_TRUE(CopyFileW(builtProgram(name).c_str(), (kit + L"\\" + name).c_str(), FALSE)) << GetLastError();
    }
    for (const wchar_t* name : {L"install-service.cmd", L"uninstall-service.cmd"}) {
        ASSERT_TRUE(CopyFileW(sourcePath(std::wstring(L"packaging\\sc\\") + name).c_str(), (kit + L"\\" + name).c_str(),
                              FALSE))
            << GetLastError();
    }

    ProcessResult install = runProcess(L"cmd.exe /c " + quoteArgument(kit + L"\\install-service.cmd"), 60000, true);
    ASSERT_TRUE(install.finished);
    ASSERT_EQ(0u, install.exitCode) << install.output;

    ServiceEntry entry;
    EXPECT_TRUE(waitForServiceState(kService, SERVICE_RUNNING, 15000, &entry))
        << "state " << entry.status.dwCurrentState << ", open error " << entry.openError;
    expectShippedEntry(entry);
    expectEventSource();

    // sc has no command for the pre-shutdown time-out: the script writes the entry's value.
    DWORD timeout = 0;
    DWORD size = sizeof timeout;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\tamselsvc",
                                          L"PreshutdownTimeout", RRF_RT_REG_DWORD, nullptr, &timeout, &size));
    EXPECT_EQ(20000u, timeout);
    EXPECT_EQ(0u, entry.preshutdownError);

    // Wine's service control manager takes "sc failure" without keeping the actions, and
    // QueryServiceConfig2W fails there with ERROR_INVALID_LEVEL for them; Wine's sc has no
    // "failureflag", which the script reports and goes on.
    if (runningUnderWine()) {
        EXPECT_NE(std::string::npos, install.output.find("warning: sc failureflag failed")) << install.output;
        EXPECT_EQ(DWORD(ERROR_INVALID_LEVEL), entry.failureActionsFlagError);
    } else {
        EXPECT_EQ(std::string::npos, install.output.find("warning")) << install.output;
        EXPECT_EQ(0u, entry.failureActionsError);
        EXPECT_EQ(86400u, entry.resetPeriod);
        ASSERT_EQ(3u, entry.failureActions.size());
        EXPECT_EQ(SC_ACTION_RESTART, entry.failureActions[0].Type);
        EXPECT_EQ(5000u, entry.failureActions[0].Delay);
        EXPECT_EQ(SC_ACTION_RESTART, entry.failureActions[1].Type);
        EXPECT_EQ(60000u, entry.failureActions[1].Delay);
        EXPECT_EQ(SC_ACTION_NONE, entry.failureActions[2].Type);
        EXPECT_EQ(0u, entry.failureActionsFlagError);
        EXPECT_TRUE(entry.failureActionsOnNonCrashFailures);
    }
    expectProtection();

    ProcessResult uninstall = runProcess(L"cmd.exe /c " + quoteArgument(kit + L"\\uninstall-service.cmd"), 60000, true);
    ASSERT_TRUE(uninstall.finished);
    EXPECT_EQ(0u, uninstall.exitCode) << uninstall.output;
    expectNothingLeft();
    removeTree(kit);
}

// Each policy of packaging/policy/brimlock.admx, applied as Group Policy applies it (its
// registry value in the native view), takes effect at the service's next start: enabled
// turns the switch on, disabled turns it off. A policy added to the template needs its
// observation here.
TEST_F(Deployment, GroupPolicyTemplateTurnsEachSwitchOnAndOff)
{
    std::string error;
    const std::vector<PolicySetting> policies =
        readPolicyTemplate(sourcePath(L"packaging\\policy\\brimlock.admx"), error);
    ASSERT_TRUE(error.empty()) << error;

    DbwinListener listener;
    ASSERT_TRUE(listener.start());
    InstalledService installed;
    ASSERT_TRUE(installed.ok()) << installed.error();
    BootLog log;

    // One restart of the service under the policy's value; true when the switch showed.
    using Observation = std::function<bool(DWORD processId)>;
    const Observation diagnosticLines = [&](DWORD pid) {
        return listener.waitForText(pid, "CheckPoint", 3s) || !listener.linesOf(pid).empty();
    };
    const Observation ownRecords = [&](DWORD) {
        return log.waitFor("trace:eventlog:ReportEventW L\"Error ReadDirectoryChangesW (%d)\\n\"", 3000);
    };
    // The report's summary record, written after the first check of every start.
    const Observation unquotedPathReport = [&](DWORD) {
        return log.waitFor("trace:eventlog:ReportEventW L\"Program registrations were checked", 3000);
    };
    // The guard's record that an unquoted Run value whose program is nowhere is not guarded.
    const wchar_t* runKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    ASSERT_EQ(ERROR_SUCCESS, setMachineString(runKey, L"brimlock-policy", L"C:\\brimlock-policy\\No Such\\x.exe"));
    struct RunValueGone {
        const wchar_t* key;
        ~RunValueGone() { deleteMachineValue(key, L"brimlock-policy"); }
    } runValueGone{runKey};
    const Observation guardOfRegistrations = [&](DWORD) {
        return log.waitFor("trace:eventlog:ReportEventW L\"A path in front of a registered program is not guarded.", 3000);
    };
    const struct {
        const wchar_t* valueName;
        Observation shows;
    } switches[] = {{L"ShouldOutputToDebugView", diagnosticLines},
                    {L"ShouldOutputToEventlog", ownRecords},
                    {L"ShouldReportUnquotedPaths", unquotedPathReport},
                    {L"ShouldGuardUnquotedPaths", guardOfRegistrations}};

    ASSERT_EQ(std::size(switches), policies.size()) << "each policy needs its observation here";
    for (const auto& policy : policies) {
        SCOPED_TRACE(toUtf8(policy.name));
        const auto* known = std::find_if(std::begin(switches), std::end(switches),
                                         [&](const auto& s) { return policy.valueName == s.valueName; });
        ASSERT_NE(std::end(switches), known) << "no observation for " << toUtf8(policy.valueName);
        EXPECT_EQ(policy.valueName, policy.name);
        EXPECT_EQ(L"Machine", policy.policyClass);
        ASSERT_TRUE(policy.hasEnabledValue);
        ASSERT_TRUE(policy.hasDisabledValue);

        for (const bool enabled : {true, false}) {
            SCOPED_TRACE(enabled ? "enabled" : "disabled");
            ASSERT_EQ(ERROR_SUCCESS, setMachineDword(policy.key, policy.valueName,
                                                     enabled ? policy.enabledValue : policy.disabledValue));
            listener.clear();
            log.mark();
            ASSERT_TRUE(installed.scm().start()) << "StartService failed with " << GetLastError();
            SERVICE_STATUS_PROCESS status{};
            ASSERT_TRUE(installed.scm().waitForState(SERVICE_RUNNING, 15000, &status)) << status.dwCurrentState;
            Sleep(500);
            EXPECT_TRUE(installed.scm().stop());
            EXPECT_TRUE(installed.scm().waitForState(SERVICE_STOPPED, 15000));
            EXPECT_EQ(enabled, known->shows(status.dwProcessId));
        }
        deleteMachineValue(policy.key, policy.valueName);
    }
}
