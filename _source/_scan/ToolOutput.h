#pragma once
// Where the console scan writes: a console gets UTF-16 through WriteConsoleW (any
// language shows), anything else, a pipe or a file, gets UTF-8 bytes. A write that fails
// (the reader closed the pipe) marks the output failed and every later write is dropped,
// so the program can end quietly with exit code 2. Holds no handle of its own.

#include <windows.h>

#include <string>

namespace brimlockscan {

class ToolOutput {
public:
    explicit ToolOutput(HANDLE handle);

    // False when this or an earlier write failed.
    bool write(const std::wstring& text);
    // UTF-8 text (JSON, CSV): as it is to a pipe or file, as UTF-16 to a console.
    bool writeUtf8(const std::string& text);
    bool failed() const { return _failed; }

private:
    bool writeBytes(const std::string& bytes);

    HANDLE _handle;
    bool _console;
    bool _failed = false;
};

} // namespace brimlockscan
