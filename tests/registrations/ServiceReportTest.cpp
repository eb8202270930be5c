// The installed service's report of unquoted registrations, read back from Wine's
// eventlog channel (the prefix's boot log): services made with "sc create" and an unquoted
// binPath, a Run value, a file planted in front of one, a service made while it runs; and
// with the switch off, no record at all.
#include "InstalledServiceTest.h"
#include "RegistrationsTesting.h"
#include "TestPaths.h"
#include "Wait.h"

#include <gtest/gtest.h>

#include <string>

using namespace brimlock_test;

namespace {

const std::wstring kRoot = kRegistrationsRoot;
constexpr wchar_t kRunValue[] = L"brimlock-reg-run";
constexpr wchar_t kSwitch[] = L"ShouldReportUnquotedPaths";

// Wine's channel shows the first 300 or so characters of a record: records are matched by
// their beginning, "L\"<text>" without the closing quote.
std::string channelStart(const char* level, const std::wstring& text)
{
    const std::string quoted = wineDebugString(text);
    return std::string(level) + ":eventlog:ReportEventW " + quoted.substr(0, quoted.size() - 1);
}

std::string findingStart(const std::wstring& name, const std::wstring& place, const std::wstring& more = L"")
{
    return channelStart("trace", L"A program is registered with an unquoted path that contains spaces.\r\n\r\n"
                                 L"Registration: \"" + name + L"\" (" + place + L")\r\n" + more);
}

const std::wstring kServices = L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\";

// What the case makes besides the folder and the Run value, removed before and after it.
struct CleanUp {
    CleanUp() { cleanUp(); }
    ~CleanUp() { cleanUp(); }
    static void cleanUp()
    {
        runSc(L"delete brimlock-unq");
        runSc(L"delete brimlock-unq-later");
        setServiceSwitch(kSwitch, false);
    }
};

using UnquotedPathReportService = InstalledServiceTest;

} // namespace

TEST_F(UnquotedPathReportService, RecordsOnTheEventlogChannelOnlyWithTheSwitch)
{
    CleanUp cleanUpAround;
    TestFolder folder;
    const RunValue run(kRunValue);
    const std::wstring planted = kRoot + L"\\Unq.exe";
    ASSERT_TRUE(createFile(planted));
    ASSERT_TRUE(CreateDirectoryW((kRoot + L"\\Unq Svc").c_str(), nullptr) && createFile(kRoot + L"\\Unq Svc\\svc.exe"));
    ASSERT_EQ(0u, runSc(L"create brimlock-unq binPath= \"C:\\brimlock-reg\\Unq Svc\\svc.exe -k x\" type= own start= demand"));
    ASSERT_EQ(ERROR_SUCCESS, run.set(L"C:\\brimlock-reg\\Run Dir\\r.exe /startup"));
    InstalledService installed;
    ASSERT_TRUE(installed.ok()) << installed.error();
    log.mark();
    const std::string anyReport = ":eventlog:ReportEventW L\"Program registrations were checked";

    // Off: the service does its work and says nothing about registrations.
    startService(installed);
    Sleep(3000);
    EXPECT_EQ(0u, log.count(anyReport)) << log.fresh();
    EXPECT_EQ(0u, log.count("A program is registered")) << log.fresh();
    stopService(installed);

    // On: one finding per registration, the warning for the planted file, the summary.
    ASSERT_TRUE(setServiceSwitch(kSwitch, true));
    log.mark();
    startService(installed);
    ASSERT_TRUE(log.waitFor(anyReport, 15000)) << log.fresh();
    const std::string unq = findingStart(L"brimlock-unq", kServices + L"brimlock-unq");
    EXPECT_EQ(1u, log.count(findingStart(L"brimlock-unq", kServices + L"brimlock-unq",
                                         L"Command line: C:\\brimlock-reg\\Unq Svc\\svc.exe -k x\r\n")))
        << log.fresh();
    EXPECT_EQ(1u, log.count(findingStart(kRunValue, L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run")))
        << log.fresh();
    EXPECT_EQ(1u, log.count(channelStart("warn", L"A file exists that Windows would start in place of a registered "
                                                 L"program.\r\n\r\n\"C:\\brimlock-reg\\Unq.exe\"\r\n"
                                                 L"Registration: \"brimlock-unq\" (")))
        << log.fresh();

    // A service made while it runs: reported a few seconds later, once; the others not again.
    log.mark();
    const DWORD made = GetTickCount();
    ASSERT_EQ(0u, runSc(L"create brimlock-unq-later binPath= \"C:\\brimlock-reg\\Later Svc\\l.exe\" type= own start= demand"));
    const std::string later = findingStart(L"brimlock-unq-later", kServices + L"brimlock-unq-later");
    ASSERT_TRUE(log.waitFor(later, 10000)) << log.fresh();
    EXPECT_LT(GetTickCount() - made, 6000u);
    Sleep(3000);
    EXPECT_EQ(1u, log.count(later));
    EXPECT_EQ(0u, log.count(unq)) << "unchanged registrations are not reported again";
    EXPECT_EQ(0u, log.count(anyReport)) << "the summary belongs to the start";

    // Nothing outside the candidate table is renamed, and a stop is not held up.
    EXPECT_TRUE(fileExists(planted));
    EXPECT_FALSE(fileExists(kRoot + L"\\Unq1.exe"));
    EXPECT_LT(stopService(installed), 2000u);
}
