#pragma once
// Starting helper programs from a test and collecting what they did.

#include "_model/_service/_report/UnquotedCommandLine.h"
#include "_win32/UniqueHandle.h"

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

// A process started and left running: the caller waits for it, or ends it, by its handle.
struct StartedProcess {
    Corvane::Orlin::UniqueHandle process; // empty when CreateProcessW failed
    DWORD processId = 0;
};

// Starts `commandLine` (CreateProcessW rules) without waiting for it.
StartedProcess startProcess(const std::wstring& commandLine);

// Quotes one argument by the rules CommandLineToArgvW reads back: the product's own
// quoting (the commands of the report of unquoted registrations), so that every test that
// builds a command line with it checks it against the real split as well.
using tamselsvc::model::service::quoteArgument;

} // namespace brimlock_test
