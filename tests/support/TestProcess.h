#pragma once
// Starting helper programs from a test and collecting what they did.

#include <windows.h>

#include <string>

namespace brimlock_test {

struct ProcessResult {
    bool started = false;
    bool finished = false; // false: still running at the time-out and then terminated
    DWORD exitCode = 0;
    DWORD processId = 0;
    std::string output;    // standard output and standard error, when captured
};

// Runs `commandLine` (CreateProcessW rules), waits at most `timeoutMs`, and terminates
// the process if it is still running then.
ProcessResult runProcess(const std::wstring& commandLine, DWORD timeoutMs, bool captureOutput = false);

// Quotes one argument by the rules CommandLineToArgvW reads back.
std::wstring quoteArgument(const std::wstring& argument);

} // namespace brimlock_test
