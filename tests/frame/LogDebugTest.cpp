// The diagnostic log, read back through a real DBWIN_BUFFER listener as a debug-output
// viewer reads it.
#include "DbwinListener.h"

#include "_win32/LogDebug.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using Corvane::Orlin::g_outputToDebugView;
using Corvane::Orlin::LogDebugA;
using Corvane::Orlin::LogDebugW;
using namespace std::chrono_literals;

namespace {

class LogDebugTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(listener.start()) << "DBWIN_BUFFER is owned by another listener, error " << GetLastError();
    }
    void TearDown() override { g_outputToDebugView = false; }

    // Sends a marker line and waits for it, so that everything sent before it has arrived.
    std::vector<std::string> drain()
    {
        const bool was = g_outputToDebugView;
        g_outputToDebugView = true;
        LogDebugA("--marker--");
        g_outputToDebugView = was;
        EXPECT_TRUE(listener.waitForText(GetCurrentProcessId(), "--marker--", 5s));
        std::vector<std::string> lines;
        for (const auto& line : listener.linesOf(GetCurrentProcessId())) {
            if (line.find("--marker--") == std::string::npos) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    std::string prefixNow()
    {
        char expected[64];
        std::snprintf(expected, sizeof expected, "%lu:[Tamsel] ", GetCurrentProcessId());
        return expected;
    }

    brimlock_test::DbwinListener listener;
};

// Checks "<pid>:[Tamsel] YYYY/MM/DD hh:mm:ss <message>\n" against the local time around the call.
void expectLine(const std::string& line, const std::string& message, const SYSTEMTIME& before)
{
    char head[64];
    std::snprintf(head, sizeof head, "%lu:[Tamsel] %04u/%02u/%02u ", GetCurrentProcessId(), before.wYear,
                  before.wMonth, before.wDay);
    ASSERT_EQ(0u, line.find(head)) << line;
    const std::string time = line.substr(std::string(head).size(), 8);
    ASSERT_EQ(':', time[2]) << line;
    ASSERT_EQ(':', time[5]) << line;
    const int seconds = std::stoi(time.substr(0, 2)) * 3600 + std::stoi(time.substr(3, 2)) * 60 + std::stoi(time.substr(6, 2));
    const int expected = before.wHour * 3600 + before.wMinute * 60 + before.wSecond;
    EXPECT_GE(seconds, expected) << line;
    EXPECT_LE(seconds, expected + 2) << line;
    EXPECT_EQ(" " + message + "\n", line.substr(std::string(head).size() + 8)) << line;
}

} // namespace

TEST_F(LogDebugTest, NarrowLineHasProcessTagLocalTimeAndMessage)
{
    g_outputToDebugView = true;
    SYSTEMTIME now;
    GetLocalTime(&now);
    LogDebugA("value %d and %s", 42, "text");
    LogDebugA("wide %S in narrow", L"path");
    const auto lines = drain();
    ASSERT_EQ(2u, lines.size());
    expectLine(lines[0], "value 42 and text", now);
    expectLine(lines[1], "wide path in narrow", now);
}

TEST_F(LogDebugTest, WideLineTakesWideStringsForPercentS)
{
    g_outputToDebugView = true;
    SYSTEMTIME now;
    GetLocalTime(&now);
    LogDebugW(L"Error ReadDirectoryChangesW (%d)\n", 995);
    LogDebugW(L"folder %s", L"C:\\Program Files");
    const auto lines = drain();
    ASSERT_EQ(2u, lines.size());
    expectLine(lines[0], "Error ReadDirectoryChangesW (995)\n", now); // a message ending in \n gives two
    expectLine(lines[1], "folder C:\\Program Files", now);
}

TEST_F(LogDebugTest, MessageIsCutTo260Characters)
{
    g_outputToDebugView = true;
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::string narrow(300, 'n');
    narrow[259] = 'X';
    std::wstring wide(300, L'w');
    wide[259] = L'Y';
    LogDebugA("%s", narrow.c_str());
    LogDebugW(L"%s", wide.c_str());
    const auto lines = drain();
    ASSERT_EQ(2u, lines.size());
    expectLine(lines[0], narrow.substr(0, 260), now);
    expectLine(lines[1], std::string(259, 'w') + "Y", now);
}

TEST_F(LogDebugTest, SwitchedOffSendsNothingAndBothVariantsKeepTheLastError)
{
    g_outputToDebugView = false;
    SetLastError(ERROR_ACCESS_DENIED);
    LogDebugA("must not appear %d", 1);
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), GetLastError());
    SetLastError(ERROR_FILE_NOT_FOUND);
    LogDebugW(L"must not appear %d", 2);
    EXPECT_EQ(DWORD(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_TRUE(drain().empty());

    g_outputToDebugView = true;
    SetLastError(ERROR_SHARING_VIOLATION);
    LogDebugA("appears");
    EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), GetLastError());
    SetLastError(ERROR_INVALID_NAME);
    LogDebugW(L"appears too");
    EXPECT_EQ(DWORD(ERROR_INVALID_NAME), GetLastError());
    EXPECT_EQ(2u, drain().size());
}
