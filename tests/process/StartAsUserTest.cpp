// startProcessAsUser: for real where Wine can (WTSQueryUserToken gives the caller's own
// token there), and each failure step through the substitute system calls, with what
// every step asked for and what it left open.
#include "EchoChild.h"
#include "FakeChildProcessApi.h"
#include "HandleCount.h"
#include "LogCapture.h"
#include "TestPaths.h"

#include "_process/ChildProcess.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

using brimlock_test::FakeChildProcessApi;
using brimlock_test::LogCapture;
using brimlock_test::Step;
using Corvane::Orlin::ChildProcess;

namespace {

class StartAsUserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(log.start()) << "DBWIN listener busy, error " << GetLastError();
        // What the system opens once per process on a first start of each kind (session,
        // profile and token look-ups, error texts) is opened here, before any count.
        for (DWORD flags : {0u, 0x01u, 0x02u, 0x08u, 0x10u}) {
            ChildProcess warmUp(child, L"exit 0");
            if (warmUp.startProcessAsUser(flags, false, true)) {
                warmUp.waitProcessEnd(20000);
            }
        }
        ChildProcess missing(brimlock_test::moduleDirectory() + L"\\missing.exe", L"");
        missing.startProcessAsUser(0, false, false);
        log.clear();
    }

    LogCapture log;
    const std::wstring child = brimlock_test::builtProgram(L"process_child.exe");
};

TEST_F(StartAsUserTest, FlagsZeroStartsTheChildInTheActiveSession)
{
    ChildProcess process(child, L"exit 9");
    ASSERT_TRUE(process.startProcessAsUser(0, false, false));
    DWORD code = 0;
    ASSERT_TRUE(process.waitProcessEnd(INFINITE, &code));
    EXPECT_EQ(9u, code);
    const DWORD session = WTSGetActiveConsoleSessionId();
    const auto lines = log.messages();
    EXPECT_TRUE(LogCapture::contains(lines, "Session Id = " + std::to_string(static_cast<int>(session))))
        << ::testing::PrintToString(lines);
    RecordProperty("ActiveConsoleSessionId", std::to_string(session));
    std::printf("WTSGetActiveConsoleSessionId() = %lu\n", static_cast<unsigned long>(session));
}

TEST_F(StartAsUserTest, PipesWorkForAUserStart)
{
    ChildProcess process(child, L"echo");
    ASSERT_TRUE(process.startProcessAsUser(0, false, true));
    brimlock_test::expectEchoed(process, "as user");
}

// The flags Wine can carry out, for real: the child runs whatever the token steps logged.
TEST_F(StartAsUserTest, OtherFlagsThatWineCarriesOut)
{
    struct Case {
        DWORD flags;
        const char* name;
    } cases[] = {
        {Corvane::Orlin::OwnProcessToken, "OwnProcessToken"},
        {Corvane::Orlin::WinlogonDesktop, "WinlogonDesktop"},
        {Corvane::Orlin::UiAccess, "UiAccess"},
        {Corvane::Orlin::SessionZero, "SessionZero"},
        {Corvane::Orlin::OwnProcessToken | Corvane::Orlin::SessionZero, "OwnProcessToken|SessionZero"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        const DWORD before = brimlock_test::openHandleCount();
        {
            ChildProcess process(child, L"exit 4");
            ASSERT_TRUE(process.startProcessAsUser(c.flags, false, false));
            DWORD code = 0;
            ASSERT_TRUE(process.waitProcessEnd(20000, &code));
            EXPECT_EQ(4u, code);
        }
        EXPECT_EQ(before, brimlock_test::openHandleCount());
        const auto lines = log.messages();
        for (const auto& line : lines) {
            std::printf("[%s] %s\n", c.name, line.c_str());
        }
        if (c.flags & Corvane::Orlin::SessionZero) {
            EXPECT_TRUE(LogCapture::contains(lines, "Session Id = 0"));
        }
        // A refused UI access is only logged (Wine refuses it with ERROR_INVALID_FUNCTION).
        const std::string uiAccess = "SetTokenInformation (UI Access) failed.";
        if (LogCapture::contains(lines, uiAccess)) {
            EXPECT_TRUE(c.flags & Corvane::Orlin::UiAccess);
            EXPECT_EQ(0u, LogCapture::after(lines, uiAccess).find("errorcode="));
        }
    }
}

// A real ElevatedLinkedToken start: what Wine's token answers is logged for the record;
// either way nothing is left open.
TEST_F(StartAsUserTest, ElevatedLinkedTokenUnderWine)
{
    const DWORD before = brimlock_test::openHandleCount();
    bool started = false;
    {
        ChildProcess process(child, L"exit 4");
        started = process.startProcessAsUser(Corvane::Orlin::ElevatedLinkedToken, false, true);
        if (started) {
            EXPECT_TRUE(process.waitProcessEnd(20000));
        }
    }
    EXPECT_EQ(before, brimlock_test::openHandleCount());
    const auto lines = log.messages();
    for (const auto& line : lines) {
        std::printf("[ElevatedLinkedToken] %s\n", line.c_str());
    }
    RecordProperty("ElevatedLinkedTokenStarted", started ? "yes" : "no");
    if (!started) {
        // Wine's user is an elevated administrator whose linked token is the limited one.
        EXPECT_TRUE(LogCapture::contains(lines, "User's linked token is not elevated")) << ::testing::PrintToString(lines);
        EXPECT_EQ(std::string::npos, LogCapture::after(lines, "User's linked token is not elevated").find("errorcode="));
    }
}

struct FailureCase {
    Step step;
    DWORD flags;
    const char* message;
    bool errorLine;
};

void PrintTo(const FailureCase& c, std::ostream* out)
{
    *out << c.message;
}

class StartAsUserFailureTest : public StartAsUserTest, public ::testing::WithParamInterface<FailureCase> {};

// Each failing step: its own line (and the error line of the injected code), a false
// result, no process, and nothing left open: no handle, no environment block, and the
// pipe ends of an earlier start back in place.
TEST_P(StartAsUserFailureTest, LogsItsLineAndReleasesEverything)
{
    const FailureCase& c = GetParam();
    for (bool pipes : {false, true}) {
        if (!pipes && (c.step == Step::CreatePipeIn || c.step == Step::CreatePipeOut ||
                       c.step == Step::DuplicateHandleIn || c.step == Step::DuplicateHandleOut ||
                       c.step == Step::DuplicateHandleErr)) {
            continue;
        }
        SCOPED_TRACE(pipes ? "with pipes" : "without pipes");
        FakeChildProcessApi api;
        api.fakeLinkedToken = true;
        api.linkedElevated = c.step != Step::None; // Step::None stands for "not elevated"
        ChildProcess process(child, L"echo", api);
        HANDLE earlierIn = nullptr, earlierOut = nullptr;
        if (pipes) {
            // An earlier start's pipe ends, which a failed start must leave in place.
            ASSERT_TRUE(process.startProcess(false, true));
            earlierIn = process.getStdInWriteHandle();
            earlierOut = process.getStdOutReadHandle();
        }
        const HANDLE earlierProcess = process.getProcessHandle();
        const DWORD before = brimlock_test::openHandleCount();
        log.clear();

        api.failAt = c.step;
        api.failError = ERROR_PRIVILEGE_NOT_HELD;
        EXPECT_FALSE(process.startProcessAsUser(c.flags, false, pipes));

        EXPECT_EQ(before, brimlock_test::openHandleCount()) << "handles left open";
        EXPECT_EQ(api.environmentsCreated, api.environmentsDestroyed);
        EXPECT_EQ(earlierProcess, process.getProcessHandle());
        EXPECT_EQ(earlierIn, process.getStdInWriteHandle());
        EXPECT_EQ(earlierOut, process.getStdOutReadHandle());
        const auto lines = log.messages();
        ASSERT_TRUE(LogCapture::contains(lines, c.message)) << ::testing::PrintToString(lines);
        if (c.errorLine) {
            const DWORD code = c.step == Step::QueryUserToken ? ERROR_INVALID_HANDLE : ERROR_PRIVILEGE_NOT_HELD;
            EXPECT_EQ(brimlock_test::errorLine(code), LogCapture::after(lines, c.message));
        } else {
            EXPECT_EQ(std::string::npos, LogCapture::after(lines, c.message).find("errorcode="));
        }
        EXPECT_EQ(0, api.createCalls - (pipes ? 1 : 0) - (c.step == Step::CreateProcessAsUser ? 1 : 0));
        if (pipes) {
            // The earlier ends still work: the earlier child answers through them.
            brimlock_test::expectEchoed(process, "still");
        }
    }
}

using Corvane::Orlin::ElevatedLinkedToken;
using Corvane::Orlin::OwnProcessToken;

std::string caseName(const ::testing::TestParamInfo<FailureCase>& info)
{
    std::string name;
    for (const char* c = info.param.message; *c; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c))) {
            name.push_back(*c);
        }
    }
    return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StartAsUserFailureTest,
    ::testing::Values(
        FailureCase{Step::CreatePipeIn, 0, "ChildProcess::_prepareConnectingConsoleIo: CreatePipe(in) failed.", false},
        FailureCase{Step::CreatePipeOut, 0, "ChildProcess::_prepareConnectingConsoleIo: CreatePipe(out) failed.", false},
        FailureCase{Step::DuplicateHandleIn, 0, "ChildProcess::_prepareConnectingConsoleIo: DuplicateHandle(in) failed.", false},
        FailureCase{Step::DuplicateHandleOut, 0, "ChildProcess::_prepareConnectingConsoleIo: DuplicateHandle(out) failed.", false},
        FailureCase{Step::DuplicateHandleErr, 0, "ChildProcess::_prepareConnectingConsoleIo: DuplicateHandle(err) failed.", false},
        FailureCase{Step::ActiveSession, 0, "WTSGetActiveConsoleSessionId failed", true},
        FailureCase{Step::OpenProcessToken, OwnProcessToken, "OpenProcessToken failed", true},
        // No user at the console: no line of its own, the duplicate of "no token" fails.
        FailureCase{Step::QueryUserToken, 0, "DuplicateTokenEx failed", true},
        FailureCase{Step::LinkedToken, ElevatedLinkedToken, "Failed to get linked token handle.", true},
        FailureCase{Step::LinkedTokenNull, ElevatedLinkedToken, "Failed to get linked token handle.", true},
        FailureCase{Step::Elevation, ElevatedLinkedToken, "Failed to get elevation information.", true},
        FailureCase{Step::None, ElevatedLinkedToken, "User's linked token is not elevated", false},
        FailureCase{Step::DuplicateToken, 0, "DuplicateTokenEx failed", true},
        FailureCase{Step::EnvironmentBlock, 0, "CreateEnvironmentBlock failed", true},
        FailureCase{Step::CreateProcessAsUser, 0, "CreateProcessAsUser failed", true},
        FailureCase{Step::CreateProcessAsUser, ElevatedLinkedToken | Corvane::Orlin::UiAccess, "CreateProcessAsUser failed", true}),
    caseName);

// A failing SetTokenInformation is logged and the start goes on.
TEST_F(StartAsUserTest, FailedTokenSettingsAreLoggedAndTheChildStillStarts)
{
    for (Step step : {Step::SetSessionId, Step::SetUiAccess}) {
        FakeChildProcessApi api;
        api.failAt = step;
        api.failError = ERROR_PRIVILEGE_NOT_HELD;
        log.clear();
        {
            ChildProcess process(child, L"exit 6", api);
            ASSERT_TRUE(process.startProcessAsUser(OwnProcessToken | Corvane::Orlin::UiAccess, false, false));
            DWORD code = 0;
            ASSERT_TRUE(process.waitProcessEnd(20000, &code));
            EXPECT_EQ(6u, code);
        }
        const char* message = step == Step::SetSessionId ? "SetTokenInformation (Session Id) failed"
                                                         : "SetTokenInformation (UI Access) failed.";
        EXPECT_EQ(brimlock_test::errorLine(ERROR_PRIVILEGE_NOT_HELD), LogCapture::after(log.messages(), message));
        EXPECT_EQ(1, api.environmentsCreated);
        EXPECT_EQ(1, api.environmentsDestroyed);
    }
}

// What each flag asks of the system, seen at the substitute calls.
TEST_F(StartAsUserTest, FlagsChooseTokenSessionAndDesktop)
{
    struct Case {
        DWORD flags;
        bool queriesSession;
        bool opensOwnToken;
        bool setsSession;
        bool setsUiAccess;
        const wchar_t* desktop; // nullptr: none named
    } cases[] = {
        {0, true, false, false, false, L"winsta0\\default"},
        {OwnProcessToken, true, true, true, false, L"winsta0\\default"},
        {Corvane::Orlin::WinlogonDesktop, true, false, false, false, L"winsta0\\Winlogon"},
        {Corvane::Orlin::UiAccess, true, false, false, true, L"winsta0\\default"},
        {Corvane::Orlin::SessionZero, false, false, true, false, nullptr},
        {Corvane::Orlin::SessionZero | OwnProcessToken, false, true, false, false, nullptr},
        {0xFFFFFFE0u, true, false, false, false, L"winsta0\\default"}, // unknown bits are ignored
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags 0x" << std::hex << c.flags);
        FakeChildProcessApi api;
        api.activeSession = 7;
        api.reallyCreate = false;
        ChildProcess process(child, L"exit 0", api);
        EXPECT_FALSE(process.startProcessAsUser(c.flags, true, false));
        EXPECT_EQ(c.queriesSession, api.calls.front() == "WTSGetActiveConsoleSessionId");
        const DWORD session = c.queriesSession ? 7 : 0;
        if (c.opensOwnToken) {
            EXPECT_EQ(DWORD(TOKEN_DUPLICATE | TOKEN_IMPERSONATE | TOKEN_QUERY), api.openProcessTokenAccess);
            EXPECT_EQ(0xEu, api.openProcessTokenAccess);
        } else {
            EXPECT_EQ(session, api.queriedSession);
        }
        EXPECT_EQ(0xF01FFu, api.duplicateAccess);
        EXPECT_EQ(SecurityIdentification, api.duplicateLevel);
        EXPECT_EQ(TokenPrimary, api.duplicateType);
        EXPECT_FALSE(api.environmentFromDuplicate) << "the block comes from the user's token";
        std::vector<std::pair<TOKEN_INFORMATION_CLASS, DWORD>> expected;
        if (c.setsSession) {
            expected.emplace_back(TokenSessionId, session);
        }
        if (c.setsUiAccess) {
            expected.emplace_back(TokenUIAccess, 1);
        }
        EXPECT_EQ(expected, api.tokenSettings);
        EXPECT_EQ(c.desktop != nullptr, api.desktopNamed);
        if (c.desktop) {
            EXPECT_EQ(c.desktop, api.desktop);
        }
        EXPECT_TRUE(api.applicationNameNull);
        EXPECT_TRUE(api.inheritHandles);
        EXPECT_TRUE(api.currentDirectoryNull);
        EXPECT_EQ(68u, api.startupSize);
        EXPECT_EQ(0u, api.startupFlags);
        EXPECT_TRUE(api.environmentGiven);
        EXPECT_EQ(DWORD(CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT), api.creationFlags)
            << "a new process group adds no creation flag";
        EXPECT_EQ(L"\"" + child + L"\" exit 0", api.commandLine);
        EXPECT_EQ(1, api.environmentsDestroyed);
    }
}

// An exception from inside a start (a substitute's, or an allocation's) releases what the
// start made and puts the earlier pipe ends back.
TEST_F(StartAsUserTest, ExceptionReleasesTokensEnvironmentAndPipes)
{
    // The runtime's first exception opens what it keeps for later ones.
    try {
        throw std::runtime_error("first");
    } catch (const std::runtime_error&) {
    }
    for (Step step : {Step::DuplicateHandleErr, Step::EnvironmentBlock, Step::CreateProcessAsUser, Step::CreateProcess}) {
        SCOPED_TRACE(static_cast<int>(step));
        FakeChildProcessApi api;
        ChildProcess process(child, L"exit 0", api);
        ASSERT_TRUE(process.startProcess(false, true));
        const HANDLE earlierIn = process.getStdInWriteHandle();
        ASSERT_TRUE(process.waitProcessEnd(10000));
        const DWORD before = brimlock_test::openHandleCount();
        api.failAt = step;
        api.throwInsteadOfFailing = true;
        if (step == Step::CreateProcess) {
            EXPECT_THROW(process.startProcess(false, true), std::runtime_error);
        } else {
            EXPECT_THROW(process.startProcessAsUser(0, false, true), std::runtime_error);
        }
        EXPECT_EQ(before, brimlock_test::openHandleCount());
        EXPECT_EQ(api.environmentsCreated, api.environmentsDestroyed);
        EXPECT_EQ(earlierIn, process.getStdInWriteHandle());
    }
}

} // namespace
