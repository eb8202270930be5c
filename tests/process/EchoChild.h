#pragma once
// The pipes of the test child (process_child.exe): read to their end, and its "echo"
// round trip through a start with connected console I/O.

#include "_process/ChildProcess.h"

#include <gtest/gtest.h>

#include <string>

namespace brimlock_test {

// Reads the pipe until every writer has closed it, at most `timeoutMs`.
inline std::string readAll(HANDLE pipe, DWORD timeoutMs = 20000)
{
    std::string text;
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
            return text; // broken pipe: the child and every copy of its ends are gone
        }
        if (available) {
            char chunk[512];
            DWORD got = 0;
            if (!ReadFile(pipe, chunk, sizeof chunk, &got, nullptr)) {
                return text;
            }
            text.append(chunk, got);
        } else if (GetTickCount() - start > timeoutMs) {
            ADD_FAILURE() << "pipe still open after " << timeoutMs << " ms; read so far: " << text;
            return text;
        } else {
            Sleep(10);
        }
    }
}

// Sends `line` to a child started with "echo" and pipes: it comes back on standard output
// and on standard error, the output pipe then closes (no copy of a write end is left
// anywhere) and the child ends with 7.
inline void expectEchoed(Corvane::Orlin::ChildProcess& process, const std::string& line)
{
    const std::string sent = line + "\n";
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(process.getStdInWriteHandle(), sent.data(), static_cast<DWORD>(sent.size()), &written,
                          nullptr))
        << GetLastError();
    EXPECT_EQ(sent.size(), written);
    const std::string text = readAll(process.getStdOutReadHandle());
    EXPECT_NE(std::string::npos, text.find("out:" + sent)) << text;
    EXPECT_NE(std::string::npos, text.find("err:" + sent)) << text;
    DWORD code = 0;
    ASSERT_TRUE(process.waitProcessEnd(10000, &code));
    EXPECT_EQ(7u, code);
}

} // namespace brimlock_test
