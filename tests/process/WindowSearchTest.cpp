// getWindowHandle against real windows on the prefix's display (Xvfb).
#include "LogCapture.h"
#include "TestPaths.h"
#include "Wait.h"

#include "_process/ChildProcess.h"

#include <gtest/gtest.h>

#include <cstdio>

using brimlock_test::LogCapture;
using Corvane::Orlin::ChildProcess;
using namespace std::chrono_literals;

namespace {

class WindowSearchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(log.start()) << "DBWIN listener busy, error " << GetLastError(); }

    LogCapture log;
    const std::wstring program = brimlock_test::builtProgram(L"process_window.exe");
};

TEST_F(WindowSearchTest, FindsTheChildsVisibleUnownedWindow)
{
    ChildProcess process(program, L"visible brimlock-probe-window");
    ASSERT_TRUE(process.startProcess(false, false));
    ASSERT_EQ(0u, WaitForInputIdle(process.getProcessHandle(), 10000)) << GetLastError();
    HWND found = nullptr;
    EXPECT_TRUE(brimlock_test::waitUntil([&] { return (found = process.getWindowHandle(L"probe", 0)) != nullptr; }, 10s));
    ASSERT_NE(nullptr, found);
    DWORD owner = 0;
    GetWindowThreadProcessId(found, &owner);
    EXPECT_EQ(GetProcessId(process.getProcessHandle()), owner);
    wchar_t title[64] = L"";
    GetWindowTextW(found, title, 64);
    EXPECT_STREQ(L"brimlock-probe-window", title);

    char target[64];
    std::snprintf(target, sizeof target, "ChildProcess::getWindowHandle: Target %lu",
                  static_cast<unsigned long>(owner));
    char windowLine[128];
    _snprintf(windowLine, sizeof windowLine, "%p[%lu]:brimlock-probe-window", static_cast<void*>(found),
                  static_cast<unsigned long>(owner));
    const auto lines = log.messages();
    EXPECT_TRUE(LogCapture::contains(lines, target)) << ::testing::PrintToString(lines);
    EXPECT_TRUE(LogCapture::contains(lines, windowLine)) << ::testing::PrintToString(lines);
    PostMessageW(found, WM_CLOSE, 0, 0);
    EXPECT_TRUE(process.waitProcessEnd(10000));
}

// Without a visible unowned window of its own, the whole list is walked and nothing found:
// one line per top-level window, then null.
TEST_F(WindowSearchTest, ReturnsNullAfterWalkingTheWholeList)
{
    for (const wchar_t* mode : {L"none", L"owned brimlock-owned-window"}) {
        SCOPED_TRACE(testing::Message() << mode);
        ChildProcess process(program, mode);
        ASSERT_TRUE(process.startProcess(false, false));
        ASSERT_EQ(0u, WaitForInputIdle(process.getProcessHandle(), 10000)) << GetLastError();
        log.clear();
        size_t windows = 0;
        for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
            ++windows;
        }
        EXPECT_EQ(nullptr, process.getWindowHandle(L"probe", 0));
        const auto lines = log.messages();
        size_t walked = 0;
        for (const auto& line : lines) {
            if (line.size() > 14 && line.compare(line.size() - 14, 14, ":probe Skipped") == 0) {
                ++walked;
            } else if (line.find("]:") != std::string::npos && line.find("ChildProcess") == std::string::npos) {
                ++walked;
            }
        }
        EXPECT_GT(windows, 0u);
        EXPECT_EQ(windows, walked) << ::testing::PrintToString(lines);
        EXPECT_FALSE(LogCapture::contains(lines, "brimlock-owned-window"));
        TerminateProcess(process.getProcessHandle(), 0);
        EXPECT_TRUE(process.waitProcessEnd(10000));
    }
}

} // namespace
