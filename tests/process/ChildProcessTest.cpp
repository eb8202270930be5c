// ChildProcess as an ordinary parent: real children, with and without pipes, a new process
// group and a console control event, the waits, and the log lines read back.
#include "EchoChild.h"
#include "HandleCount.h"
#include "LogCapture.h"
#include "TestPaths.h"
#include "Wait.h"

#include "_process/ChildProcess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using Corvane::Orlin::ChildProcess;
using namespace std::chrono_literals;

namespace {

std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end()); // test paths are ASCII
}

std::string pointerText(const void* p)
{
    char text[32];
    _snprintf(text, sizeof text, "%p", p); // the diagnostic log formats with the runtime's own printf
    return text;
}

bool inheritable(HANDLE handle)
{
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(handle, &flags)) << GetLastError();
    return (flags & HANDLE_FLAG_INHERIT) != 0;
}

class ChildProcessTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(log.start()) << "DBWIN listener busy, error " << GetLastError(); }

    brimlock_test::LogCapture log;
    const std::wstring child = brimlock_test::builtProgram(L"process_child.exe");
};

TEST_F(ChildProcessTest, StartWithoutPipesReadsExitCodeAndLogsItsSteps)
{
    std::string address;
    {
        ChildProcess process(child, L"exit 5");
        address = pointerText(&process);
        ASSERT_TRUE(process.startProcess(false, false));
        EXPECT_NE(nullptr, process.getProcessHandle());
        EXPECT_NE(nullptr, process.getThreadHandle());
        EXPECT_EQ(process.getProcessHandle(), process.getHandle());
        EXPECT_EQ(nullptr, process.getStdInWriteHandle());
        EXPECT_EQ(nullptr, process.getStdOutReadHandle());
        DWORD code = 0xDEAD;
        ASSERT_TRUE(process.waitProcessEnd(INFINITE, &code));
        EXPECT_EQ(5u, code);
        // The handles stay open after the child's end, until the object goes.
        DWORD again = 0;
        EXPECT_TRUE(GetExitCodeProcess(process.getProcessHandle(), &again)) << GetLastError();
        EXPECT_EQ(5u, again);
        EXPECT_TRUE(process.waitProcessEnd(0)); // no out-parameter
    }
    const auto lines = log.messages();
    ASSERT_EQ(3u, lines.size()) << ::testing::PrintToString(lines);
    EXPECT_EQ("ChildProcess " + address, lines[0]);
    EXPECT_EQ("ChildProcess::startProcess: \"" + narrow(child) + "\" exit 5", lines[1]);
    EXPECT_EQ("~ChildProcess " + address, lines[2]);
}

TEST_F(ChildProcessTest, PipesCarryStandardInputToOutputAndError)
{
    ChildProcess process(child, L"echo");
    ASSERT_TRUE(process.startProcess(false, true));
    const HANDLE in = process.getStdInWriteHandle();
    const HANDLE out = process.getStdOutReadHandle();
    ASSERT_NE(nullptr, in);
    ASSERT_NE(nullptr, out);
    // The parent's ends must not reach the child, or the child would never see the pipe end.
    EXPECT_FALSE(inheritable(in));
    EXPECT_FALSE(inheritable(out));
    brimlock_test::expectEchoed(process, "hello pipes");
}

TEST_F(ChildProcessTest, CommandLineIsBarePathWithoutArgumentsAndQuotedPathWithThem)
{
    // The child writes back the command line it received.
    {
        ChildProcess bare(child, L"");
        EXPECT_EQ(child, bare.commandLine());
        ASSERT_TRUE(bare.startProcess(false, true));
        EXPECT_EQ(narrow(child), brimlock_test::readAll(bare.getStdOutReadHandle()));
        DWORD code = 0;
        ASSERT_TRUE(bare.waitProcessEnd(10000, &code));
        EXPECT_EQ(3u, code);
    }
    ChildProcess quoted(L"C:\\Some Folder\\x.exe", L"/a \"b c\"");
    EXPECT_EQ(L"\"C:\\Some Folder\\x.exe\" /a \"b c\"", quoted.commandLine());
    quoted.setCommandLine(L"C:\\y.exe", L"z");
    EXPECT_EQ(L"\"C:\\y.exe\" z", quoted.commandLine());
    // Assigning the object's own strings (through a copy of the reference) keeps them.
    quoted.setCommandLine(std::wstring(L"C:\\y.exe"), std::wstring());
    EXPECT_EQ(L"C:\\y.exe", quoted.commandLine());
}

TEST_F(ChildProcessTest, NewProcessGroupReceivesCtrlBreak)
{
    // The child inherits this process's console. Wine gives a program started from a pipe
    // a console placeholder that nothing can attach to, so the test makes a real one.
    if (GetConsoleCP() == 0) {
        FreeConsole();
        ASSERT_TRUE(AllocConsole()) << GetLastError();
    }
    ChildProcess process(child, L"break");
    ASSERT_TRUE(process.startProcess(true, true));
    // Wait for "ready": the handler is in place before the event is sent.
    std::string text;
    ASSERT_TRUE(brimlock_test::waitUntil(
        [&] {
            DWORD available = 0, got = 0;
            char chunk[64];
            if (PeekNamedPipe(process.getStdOutReadHandle(), nullptr, 0, nullptr, &available, nullptr) && available &&
                ReadFile(process.getStdOutReadHandle(), chunk, sizeof chunk, &got, nullptr)) {
                text.append(chunk, got);
            }
            return text.find("ready") != std::string::npos;
        },
        10s))
        << text;
    ASSERT_TRUE(process.sendConsoleCtrlEvent(CTRL_BREAK_EVENT));
    EXPECT_EQ(nullptr, process.getStdInWriteHandle());
    EXPECT_EQ(nullptr, process.getStdOutReadHandle());
    DWORD code = 0;
    ASSERT_TRUE(process.waitProcessEnd(20000, &code));
    const auto lines = log.messages();
    EXPECT_FALSE(brimlock_test::LogCapture::contains(lines, "ChildProcess::sendConsoleCtrlEvent: AttachConsole failed."))
        << ::testing::PrintToString(lines);
    const std::string failed = "ChildProcess::sendConsoleCtrlEvent: GenerateConsoleCtrlEvent failed.";
    if (brimlock_test::LogCapture::contains(lines, failed)) {
        // Wine 8 refuses every control event (ERROR_INVALID_HANDLE): the child is then ended.
        EXPECT_EQ(brimlock_test::errorLine(ERROR_INVALID_HANDLE), brimlock_test::LogCapture::after(lines, failed));
        EXPECT_EQ(0xFFFFFFFFu, code) << "the child must have been terminated";
        RecordProperty("CtrlEvent", "refused by the system; child terminated");
    } else {
        EXPECT_EQ(42u, code) << "99: the child never saw CTRL_BREAK";
        RecordProperty("CtrlEvent", "delivered");
    }
}

TEST_F(ChildProcessTest, CtrlEventNeedsAStartedChildInANewGroup)
{
    const std::string line =
        "ChildProcess::sendConsoleCtrlEvent: Any child processes not started or new process group was not created.";
    ChildProcess notStarted(child, L"exit 0");
    EXPECT_FALSE(notStarted.sendConsoleCtrlEvent(CTRL_BREAK_EVENT));
    ChildProcess sameGroup(child, L"exit 0");
    ASSERT_TRUE(sameGroup.startProcess(false, false));
    EXPECT_FALSE(sameGroup.sendConsoleCtrlEvent(CTRL_BREAK_EVENT));
    EXPECT_TRUE(sameGroup.waitProcessEnd(10000));
    EXPECT_EQ(2u, brimlock_test::LogCapture::count(log.messages(), line));
}

TEST_F(ChildProcessTest, WaitOfZeroOnARunningChildTimesOut)
{
    ChildProcess process(child, L"sleep 30000");
    ASSERT_TRUE(process.startProcess(false, false));
    EXPECT_FALSE(process.waitProcessEnd(0));
    EXPECT_FALSE(process.waitProcessEnd(50));
    ASSERT_TRUE(TerminateProcess(process.getProcessHandle(), 3)) << GetLastError();
    DWORD code = 0;
    EXPECT_TRUE(process.waitProcessEnd(INFINITE, &code));
    EXPECT_EQ(3u, code);
    EXPECT_EQ(2u, brimlock_test::LogCapture::count(log.messages(), "ChildProcess::waitProcessEnd: Timed-out."));
}

TEST_F(ChildProcessTest, FailedStartLogsErrorLineAndLeavesNoProcess)
{
    const std::wstring missing = brimlock_test::moduleDirectory() + L"\\no-such-program.exe";
    ChildProcess process(missing, L"x");
    const DWORD before = brimlock_test::openHandleCount();
    EXPECT_FALSE(process.startProcess(false, true));
    EXPECT_EQ(nullptr, process.getProcessHandle());
    EXPECT_EQ(nullptr, process.getThreadHandle());
    EXPECT_EQ(nullptr, process.getStdInWriteHandle());
    EXPECT_EQ(nullptr, process.getStdOutReadHandle());
    EXPECT_EQ(before, brimlock_test::openHandleCount()) << "pipe handles left open by the failed start";
    DWORD code = 0xABC;
    EXPECT_FALSE(process.waitProcessEnd(INFINITE, &code));
    EXPECT_EQ(0xABCu, code);
    EXPECT_EQ(nullptr, process.getWindowHandle(L"x", 0));

    const auto lines = log.messages();
    EXPECT_TRUE(brimlock_test::LogCapture::contains(lines, "ChildProcess::startProcess: \"" + narrow(missing) + "\" x"));
    EXPECT_EQ(brimlock_test::errorLine(ERROR_FILE_NOT_FOUND),
              brimlock_test::LogCapture::after(lines, "ChildProcess::startProcess: CreateProcess failed."))
        << ::testing::PrintToString(lines);
    EXPECT_TRUE(brimlock_test::LogCapture::contains(lines, "ChildProcess::waitProcessEnd: Any child processes not started."));
    EXPECT_TRUE(brimlock_test::LogCapture::contains(lines, "ChildProcess::getWindowHandle: Any child processes not started."));
}

TEST_F(ChildProcessTest, EmptyProgramPathStartsNothing)
{
    ChildProcess process(L"", L"exit 1");
    EXPECT_FALSE(process.startProcess(false, true));
    EXPECT_FALSE(process.startProcessAsUser(0, false, true));
    EXPECT_EQ(nullptr, process.getProcessHandle());
    EXPECT_EQ(nullptr, process.getStdInWriteHandle());
    const auto lines = log.messages();
    ASSERT_EQ(3u, lines.size()) << ::testing::PrintToString(lines);
    EXPECT_EQ("ChildProcess::startProcess: Command line was not set.", lines[1]);
    EXPECT_EQ("ChildProcess::startProcessAsUser: Command line was not set.", lines[2]);
}

TEST_F(ChildProcessTest, SecondStartReplacesTheFirstsHandles)
{
    ChildProcess process(child, L"echo");
    ASSERT_TRUE(process.startProcess(false, true));
    brimlock_test::expectEchoed(process, "one");
    process.setCommandLine(child, L"echo");
    ASSERT_TRUE(process.startProcess(false, true));
    brimlock_test::expectEchoed(process, "two");
}

} // namespace
