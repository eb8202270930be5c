// The two ways an administrator deploys the service, each carried out under Wine as on a
// customer's PC: the Windows Installer package (silent install and uninstall with msiexec)
// and the sc.exe scripts of packaging/sc. After the install the entry is what the package
// promises and the service protects; after the uninstall nothing of it is left.
#include "MessageBoxProbe.h"
#include "ServiceEntry.h"
#include "ServiceInstall.h"
#include "TestPaths.h"
#include "TestProcess.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace std::chrono_literals;
using namespace brimlock_test;

namespace {

const std::wstring kService = L"tamselsvc";

// A Unix path of the build tree as Windows sees it: drive Z: is the Unix root.
std::wstring windowsPathOf(std::wstring unixPath)
{
    for (auto& c : unixPath) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return L"Z:" + unixPath;
}

std::wstring packagePath()
{
    return windowsPathOf(environmentVariable(L"BRIMLOCK_MSI"));
}

bool folderExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Wine's sc.exe accepts "sc failure" but its service control manager keeps no failure
// actions; the tests expect them only where they are kept.
bool runningUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::string renamedRecord(const std::wstring& from, const std::wstring& to)
{
    return "warn:eventlog:ReportEventW " +
           wineDebugString(L"The file was renamed as follows.\r\n\r\n\"" + from + L"\" -> \"" + to + L"\"");
}

// The entry that both ways create. `wineQuotesNotPath`: Wine's installer (msi.dll of Wine
// 8) writes the image path of a ServiceInstall row without quotes, where Windows Installer
// quotes it; sc.exe keeps what it is given.
void expectShippedEntry(const ServiceEntry& entry, bool installerUnderWine = false)
{
    EXPECT_EQ(0u, entry.openError);
    EXPECT_EQ(DWORD(SERVICE_WIN32_OWN_PROCESS), entry.serviceType);
    EXPECT_EQ(DWORD(SERVICE_AUTO_START), entry.startType);
    EXPECT_EQ(DWORD(SERVICE_ERROR_NORMAL), entry.errorControl);
    EXPECT_EQ(L"LocalSystem", entry.startName);
    const std::wstring program = productFolder() + L"\\brimlock.exe";
    if (installerUnderWine && entry.binaryPath == program) {
        std::printf("note: Wine's installer left the image path unquoted: %s\n", toUtf8(program).c_str());
    } else {
        EXPECT_EQ(L"\"" + program + L"\"", entry.binaryPath) << "the path must be quoted";
    }
    EXPECT_EQ(L"brimlock unquoted path protection", entry.displayName);
    EXPECT_TRUE(entry.haveDescription);
    EXPECT_EQ(0u, entry.description.find(L"Renames files such as C:\\Program that would be started"))
        << toUtf8(entry.description);
}

class Deployment : public ::testing::Test {
protected:
    void TearDown() override
    {
        endProcesses(L"brimlockdlg.exe");
        for (const wchar_t* name : {L"C:\\Program", L"C:\\Program1", L"C:\\Program2"}) {
            DeleteFileW(name);
        }
        // A failed test may leave the service behind: take it away for the next one.
        if (readServiceEntry(kService).openError == 0) {
            runSc(L"stop " + kService);
            waitForServiceState(kService, SERVICE_STOPPED, 10000);
            runSc(L"delete " + kService);
        }
        removeTree(makerFolder());
    }

    // Plants C:\Program and expects the running service to rename it and record it.
    void expectProtection()
    {
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
        EXPECT_FALSE(folderExists(productFolder()));
        EXPECT_FALSE(folderExists(makerFolder()));
    }
};

} // namespace

TEST_F(Deployment, SilentMsiInstallStartsAProtectingServiceAndUninstallLeavesNothing)
{
    const std::wstring package = packagePath();
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(package.c_str())) << toUtf8(package);
    const std::wstring logs = makeTempDirectory(L"msi");

    ProcessResult install =
        runProcess(L"msiexec.exe /i " + quoteArgument(package) + L" /qn /l*v " + quoteArgument(logs + L"\\install.log"),
                   120000);
    ASSERT_TRUE(install.started);
    ASSERT_TRUE(install.finished);
    ASSERT_EQ(0u, install.exitCode);

    ServiceEntry entry;
    EXPECT_TRUE(waitForServiceState(kService, SERVICE_RUNNING, 15000, &entry))
        << "state " << entry.status.dwCurrentState << ", open error " << entry.openError;
    expectShippedEntry(entry, runningUnderWine());
    EXPECT_TRUE(fileExists(productFolder() + L"\\brimlock.exe"));
    EXPECT_TRUE(fileExists(productFolder() + L"\\brimlockdlg.exe"));
    expectProtection();

    ProcessResult uninstall = runProcess(
        L"msiexec.exe /x " + quoteArgument(package) + L" /qn /l*v " + quoteArgument(logs + L"\\uninstall.log"), 120000);
    ASSERT_TRUE(uninstall.started);
    ASSERT_TRUE(uninstall.finished);
    EXPECT_EQ(0u, uninstall.exitCode);
    expectNothingLeft();
    // Files the service renamed are the administrator's to judge: the uninstall keeps them.
    EXPECT_TRUE(fileExists(L"C:\\Program1"));
    removeTree(logs);
}

TEST_F(Deployment, ScScriptsCreateTheEntryAsThePackageDoesAndRemoveIt)
{
    // The administrator's folder: both programs and the two scripts side by side.
    const std::wstring kit = makeTempDirectory(L"sc");
    const std::wstring scripts = windowsPathOf(environmentVariable(L"BRIMLOCK_SOURCE_DIR")) + L"\\packaging\\sc\\";
    for (const wchar_t* name : {L"brimlock.exe", L"brimlockdlg.exe"}) {
        ASSERT_TRUE(CopyFileW(builtProgram(name).c_str(), (kit + L"\\" + name).c_str(), FALSE)) << GetLastError();
    }
    for (const wchar_t* name : {L"install-service.cmd", L"uninstall-service.cmd"}) {
        ASSERT_TRUE(CopyFileW((scripts + name).c_str(), (kit + L"\\" + name).c_str(), FALSE)) << GetLastError();
    }

    ProcessResult install = runProcess(L"cmd.exe /c " + quoteArgument(kit + L"\\install-service.cmd"), 60000, true);
    ASSERT_TRUE(install.finished);
    ASSERT_EQ(0u, install.exitCode) << install.output;

    ServiceEntry entry;
    EXPECT_TRUE(waitForServiceState(kService, SERVICE_RUNNING, 15000, &entry))
        << "state " << entry.status.dwCurrentState << ", open error " << entry.openError;
    expectShippedEntry(entry);

    // sc has no command for the pre-shutdown time-out: the script writes the entry's value.
    DWORD timeout = 0;
    DWORD size = sizeof timeout;
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Services\\tamselsvc",
                                          L"PreshutdownTimeout", RRF_RT_REG_DWORD, nullptr, &timeout, &size));
    EXPECT_EQ(20000u, timeout);
    EXPECT_EQ(0u, entry.preshutdownError);

    // Wine's service control manager takes "sc failure" without keeping the actions, and
    // QueryServiceConfig2W fails there with ERROR_INVALID_LEVEL for them.
    if (!runningUnderWine()) {
        EXPECT_EQ(0u, entry.failureActionsError);
        EXPECT_EQ(86400u, entry.resetPeriod);
        ASSERT_EQ(3u, entry.failureActions.size());
        EXPECT_EQ(SC_ACTION_RESTART, entry.failureActions[0].Type);
        EXPECT_EQ(5000u, entry.failureActions[0].Delay);
        EXPECT_EQ(SC_ACTION_RESTART, entry.failureActions[1].Type);
        EXPECT_EQ(60000u, entry.failureActions[1].Delay);
        EXPECT_EQ(SC_ACTION_NONE, entry.failureActions[2].Type);
    }
    expectProtection();

    ProcessResult uninstall = runProcess(L"cmd.exe /c " + quoteArgument(kit + L"\\uninstall-service.cmd"), 60000, true);
    ASSERT_TRUE(uninstall.finished);
    EXPECT_EQ(0u, uninstall.exitCode) << uninstall.output;
    expectNothingLeft();
    removeTree(kit);
}
