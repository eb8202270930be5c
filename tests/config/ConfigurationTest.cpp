// The registry switches and the service object's event source, against the prefix's real
// registry: readConfigDword, the once-per-process load of OutputSettings, and reportEvent
// (records caught at the ReportEventW seam).
#include "ConfigKey.h"
#include "EventLogSeams.h"
#include "Registry.h"
#include "TestPaths.h"
#include "TestProcess.h"

#include "_win32/Configuration.h"
#include "_win32/LogDebug.h"
#include "_win32/OutputSettings.h"
#include "_win32/ReportAppEvent.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using Corvane::Orlin::OutputSettings;
using Corvane::Orlin::readConfigDword;
using brimlock_test::ConfigKey;

namespace {

constexpr wchar_t kEventlog[] = L"ShouldOutputToEventlog";
constexpr wchar_t kDebugView[] = L"ShouldOutputToDebugView";
constexpr wchar_t kUnquoted[] = L"ShouldReportUnquotedPaths";
constexpr wchar_t kGuard[] = L"ShouldGuardUnquotedPaths";
constexpr DWORD kUntouched = 0xABCD1234;

bool prefixIs64Bit()
{
    return brimlock_test::environmentVariable(L"BRIMLOCK_WINEARCH") == L"win64";
}

// Each case starts with no configuration key, an unread cache and the diagnostic log off.
class Configuration : public ::testing::Test {
protected:
    void SetUp() override
    {
        Corvane::Orlin::ResetConfigurationCacheForTesting();
        Corvane::Orlin::g_outputToDebugView = false;
    }
    void TearDown() override
    {
        Corvane::Orlin::ResetConfigurationCacheForTesting();
        Corvane::Orlin::g_outputToDebugView = false;
    }
    ConfigKey key;
};

} // namespace

TEST_F(Configuration, ReadConfigDwordTakesOnlyADword)
{
    DWORD value = kUntouched;
    EXPECT_FALSE(readConfigDword(kEventlog, value)) << "no key";
    EXPECT_EQ(kUntouched, value);

    ASSERT_EQ(ERROR_SUCCESS, key.setDword(kDebugView, 1));
    EXPECT_FALSE(readConfigDword(kEventlog, value)) << "key without the value";
    EXPECT_EQ(kUntouched, value);

    ASSERT_EQ(ERROR_SUCCESS, key.setDword(kEventlog, 2));
    EXPECT_TRUE(readConfigDword(kEventlog, value));
    EXPECT_EQ(2u, value);

    const struct {
        const char* what;
        std::function<LSTATUS()> set;
    } notADword[] = {
        {"REG_SZ \"1\"", [&] { return key.setString(kEventlog, L"1"); }},
        {"REG_QWORD 1", [&] { return key.setQword(kEventlog, 1); }},
        {"REG_DWORD_BIG_ENDIAN 1", [&] {
             const BYTE bigEndianOne[4] = {0, 0, 0, 1};
             return key.setRaw(kEventlog, REG_DWORD_BIG_ENDIAN, bigEndianOne, 4);
         }},
        {"REG_BINARY 01 00 00 00", [&] {
             const BYTE one[4] = {1, 0, 0, 0};
             return key.setRaw(kEventlog, REG_BINARY, one, 4);
         }},
        {"REG_DWORD type with 300 bytes", [&] {
             std::vector<BYTE> big(300, 0);
             big[0] = 1;
             return key.setRaw(kEventlog, REG_DWORD, big.data(), static_cast<DWORD>(big.size()));
         }},
    };
    for (const auto& c : notADword) {
        ASSERT_EQ(ERROR_SUCCESS, c.set()) << c.what;
        value = kUntouched;
        EXPECT_FALSE(readConfigDword(kEventlog, value)) << c.what;
        EXPECT_EQ(kUntouched, value) << c.what;
    }
}

// The 64-bit view is the one read. Set here with Wine's own reg tool, the way an
// administrator would.
TEST_F(Configuration, OnlyTheNativeKeyCountsOn64BitWindows)
{
    const std::wstring add =
        L"reg.exe add HKLM\\SOFTWARE\\Corvane\\Tamsel /v ShouldOutputToEventlog /t REG_DWORD /d 1 /f /reg:32";
    const auto result = brimlock_test::runProcess(add, 30000, true);
    ASSERT_TRUE(result.finished) << result.output;
    ASSERT_TRUE(brimlock_test::machineKeyExists(L"SOFTWARE\\Corvane\\Tamsel", KEY_WOW64_32KEY))
        << "reg did not write the 32-bit view: " << result.output;
    DWORD value = kUntouched;
    if (prefixIs64Bit()) {
        EXPECT_FALSE(readConfigDword(kEventlog, value)) << "a WOW6432Node value must not be seen";
        EXPECT_EQ(kUntouched, value);
        EXPECT_FALSE(OutputSettings(L"tamselsvc").shouldOutputToEventlog());
        Corvane::Orlin::ResetConfigurationCacheForTesting();
    } else {
        // 32-bit Windows has one registry: the same key in either view.
        EXPECT_TRUE(readConfigDword(kEventlog, value));
    }

    ASSERT_EQ(ERROR_SUCCESS, key.setDword(kEventlog, 1, KEY_WOW64_64KEY));
    value = kUntouched;
    EXPECT_TRUE(readConfigDword(kEventlog, value));
    EXPECT_EQ(1u, value);
    EXPECT_TRUE(OutputSettings(L"tamselsvc").shouldOutputToEventlog());
}

TEST_F(Configuration, ASwitchIsOnOnlyForTheDwordOne)
{
    const struct {
        const char* what;
        std::function<LSTATUS(const wchar_t*)> set;
        bool on;
    } cases[] = {
        {"REG_DWORD 1", [&](const wchar_t* n) { return key.setDword(n, 1); }, true},
        {"REG_DWORD 0", [&](const wchar_t* n) { return key.setDword(n, 0); }, false},
        {"REG_DWORD 2", [&](const wchar_t* n) { return key.setDword(n, 2); }, false},
        {"REG_SZ \"1\"", [&](const wchar_t* n) { return key.setString(n, L"1"); }, false},
        {"REG_QWORD 1", [&](const wchar_t* n) { return key.setQword(n, 1); }, false},
        {"missing value", [&](const wchar_t*) { return key.setDword(L"Unrelated", 1); }, false},
        {"missing key", [&](const wchar_t*) { ConfigKey::removeEverywhere(); return LSTATUS(ERROR_SUCCESS); }, false},
    };
    for (const auto& c : cases) {
        for (const wchar_t* name : {kEventlog, kDebugView, kUnquoted, kGuard}) {
            ConfigKey::removeEverywhere();
            Corvane::Orlin::ResetConfigurationCacheForTesting();
            Corvane::Orlin::g_outputToDebugView = false;
            ASSERT_EQ(ERROR_SUCCESS, c.set(name)) << c.what;
            OutputSettings settings(L"tamselsvc");
            EXPECT_EQ(c.on && name == kEventlog, settings.shouldOutputToEventlog()) << c.what;
            EXPECT_EQ(c.on && name == kDebugView, settings.shouldOutputToDebugView()) << c.what;
            EXPECT_EQ(c.on && name == kUnquoted, settings.shouldReportUnquotedPaths()) << c.what;
            EXPECT_EQ(c.on && name == kGuard, settings.shouldGuardUnquotedPaths()) << c.what;
            EXPECT_EQ(c.on && name == kDebugView, Corvane::Orlin::g_outputToDebugView.load())
                << c.what << ": the diagnostic log follows ShouldOutputToDebugView only";
        }
    }
}

TEST_F(Configuration, TheRegistryIsReadOncePerProcess)
{
    ASSERT_EQ(ERROR_SUCCESS, key.setDword(kEventlog, 1));
    OutputSettings first(L"tamselsvc");
    EXPECT_TRUE(first.shouldOutputToEventlog());
    EXPECT_FALSE(first.shouldOutputToDebugView());

    ASSERT_EQ(ERROR_SUCCESS, key.setDword(kEventlog, 0));
    ASSERT_EQ(ERROR_SUCCESS, key.setDword(kDebugView, 1));
    ASSERT_EQ(ERROR_SUCCESS, key.setDword(kUnquoted, 1));
    ASSERT_EQ(ERROR_SUCCESS, key.setDword(kGuard, 1));
    OutputSettings second(L"tamselsvc");
    EXPECT_TRUE(second.shouldOutputToEventlog()) << "the second takes the cached switches";
    EXPECT_FALSE(second.shouldOutputToDebugView());
    EXPECT_FALSE(second.shouldReportUnquotedPaths());
    EXPECT_FALSE(second.shouldGuardUnquotedPaths());
    EXPECT_FALSE(Corvane::Orlin::g_outputToDebugView.load());
    // Each registers a source of its own; Wine's stub hands out one constant handle, so
    // the two registrations are counted on Wine's debug channel (eventlog_channel.sh).
    EXPECT_NE(nullptr, first.eventSource()) << "RegisterEventSourceW";
    EXPECT_NE(nullptr, second.eventSource());

    // Only a new process (here: the reset seam) reads the registry again.
    Corvane::Orlin::ResetConfigurationCacheForTesting();
    OutputSettings third(L"tamselsvc");
    EXPECT_FALSE(third.shouldOutputToEventlog());
    EXPECT_TRUE(third.shouldOutputToDebugView());
    EXPECT_TRUE(third.shouldReportUnquotedPaths());
    EXPECT_TRUE(third.shouldGuardUnquotedPaths());
    EXPECT_TRUE(Corvane::Orlin::g_outputToDebugView.load());
}

TEST_F(Configuration, ReportEventWritesOneUnformattedInformationRecordWhenOn)
{
    brimlock_test::CaughtRecords caught;
    const std::wstring text = L"Error ReadDirectoryChangesW (%d)\n";

    OutputSettings off(L"tamselsvc");
    ASSERT_FALSE(off.shouldOutputToEventlog());
    off.reportEvent(6, text);
    EXPECT_TRUE(caught.records().empty()) << "nothing is written with the switch off";

    ASSERT_EQ(ERROR_SUCCESS, key.setDword(kEventlog, 1));
    Corvane::Orlin::ResetConfigurationCacheForTesting();
    OutputSettings on(L"tamselsvc");
    on.reportEvent(6, text);
    const std::vector<brimlock_test::ServiceRecord> records = caught.records();
    ASSERT_EQ(1u, records.size());
    const brimlock_test::ServiceRecord& r = records[0];
    EXPECT_EQ(on.eventSource(), r.source);
    EXPECT_EQ(WORD(EVENTLOG_INFORMATION_TYPE), r.type);
    EXPECT_EQ(0, r.category);
    EXPECT_EQ(6u, r.eventId);
    EXPECT_EQ(nullptr, r.sid);
    EXPECT_EQ(1, r.stringCount);
    EXPECT_EQ(0u, r.dataSize);
    EXPECT_EQ(nullptr, r.data);
    EXPECT_EQ(text, r.text) << "stored with its %d";
}

// The event log cannot be reached (its service stopped, the source refused): the service
// object is made all the same, its records are lost and nothing else changes.
TEST_F(Configuration, AnUnavailableEventSourceLosesTheRecordsOnly)
{
    brimlock_test::CaughtRecords caught;
    brimlock_test::RefusedEventSources refused;
    ASSERT_EQ(ERROR_SUCCESS, key.setDword(kEventlog, 1));
    ASSERT_EQ(ERROR_SUCCESS, key.setDword(kDebugView, 1));
    OutputSettings settings(L"tamselsvc");
    EXPECT_EQ(1, refused.registrationsTried());
    EXPECT_EQ(nullptr, settings.eventSource());
    EXPECT_TRUE(settings.shouldOutputToEventlog()) << "the switches are read all the same";
    EXPECT_TRUE(Corvane::Orlin::g_outputToDebugView.load());
    settings.reportEvent(995, L"Error ReadDirectoryChangesW (%d)\n");
    EXPECT_TRUE(caught.records().empty()) << "no record is written through a null source";

    // The application records are dropped the same way.
    Corvane::Orlin::ReportAppEvent(L"The file was renamed as follows.", EVENTLOG_WARNING_TYPE, 0);
    EXPECT_EQ(2, refused.registrationsTried());
}
