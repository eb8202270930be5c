// Many launches the way the service makes them (and the other ways a start can go): the
// process's handle count comes back to where it began.
#include "FakeChildProcessApi.h"
#include "HandleCount.h"
#include "TestPaths.h"

#include "_process/ChildProcess.h"

#include <gtest/gtest.h>

#include <cstdio>

using brimlock_test::FakeChildProcessApi;
using brimlock_test::Step;
using Corvane::Orlin::ChildProcess;

namespace {

TEST(HandleLeakTest, TheCountSeesOneHandleMore)
{
    const DWORD before = brimlock_test::openHandleCount();
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, event) << GetLastError();
    EXPECT_EQ(before + 1, brimlock_test::openHandleCount());
    CloseHandle(event);
    EXPECT_EQ(before, brimlock_test::openHandleCount());
}

TEST(HandleLeakTest, TwoHundredStartsAndWaitsLeaveTheHandleCountWhereItWas)
{
    const std::wstring child = brimlock_test::builtProgram(L"process_child.exe");
    // One launch first, so that what the system keeps once per process is already there.
    {
        ChildProcess warmUp(child, L"exit 0");
        ASSERT_TRUE(warmUp.startProcessAsUser(0, false, true));
        ASSERT_TRUE(warmUp.waitProcessEnd(INFINITE));
    }
    const DWORD before = brimlock_test::openHandleCount();
    int started = 0;
    for (int i = 0; i < 200; ++i) {
        ChildProcess process(child, L"exit " + std::to_wstring(i));
        // Mostly as the service launches; every fourth with pipes, every eighth as a plain child.
        const bool pipes = i % 4 == 1;
        const bool ok = i % 8 == 3 ? process.startProcess(false, pipes) : process.startProcessAsUser(0, false, pipes);
        ASSERT_TRUE(ok) << "start " << i;
        ++started;
        DWORD code = 0;
        ASSERT_TRUE(process.waitProcessEnd(INFINITE, &code));
        EXPECT_EQ(DWORD(i), code);
    }
    // And failed starts, at each step, with pipes.
    for (Step step : {Step::CreatePipeOut, Step::DuplicateHandleErr, Step::ActiveSession, Step::QueryUserToken,
                      Step::DuplicateToken, Step::EnvironmentBlock, Step::CreateProcessAsUser}) {
        for (int i = 0; i < 5; ++i) {
            FakeChildProcessApi api;
            api.failAt = step;
            ChildProcess process(child, L"exit 0", api);
            EXPECT_FALSE(process.startProcessAsUser(0, false, true));
            EXPECT_FALSE(process.waitProcessEnd(INFINITE));
        }
    }
    // A missing program, for real.
    for (int i = 0; i < 5; ++i) {
        ChildProcess process(brimlock_test::moduleDirectory() + L"\\missing.exe", L"", Corvane::Orlin::CChildProcessApi::instance());
        EXPECT_FALSE(process.startProcessAsUser(0, false, true));
        EXPECT_FALSE(process.startProcess(false, true));
    }
    const DWORD after = brimlock_test::openHandleCount();
    DWORD reported = 0;
    GetProcessHandleCount(GetCurrentProcess(), &reported);
    std::printf("open handles: %lu before, %lu after %d starts and waits (GetProcessHandleCount says %lu)\n",
                static_cast<unsigned long>(before), static_cast<unsigned long>(after), started,
                static_cast<unsigned long>(reported));
    RecordProperty("HandlesBefore", static_cast<int>(before));
    RecordProperty("HandlesAfter", static_cast<int>(after));
    EXPECT_EQ(before, after);
}

} // namespace
