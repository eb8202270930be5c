#pragma once
// The diagnostic log of this test process, read back through a DBWIN_BUFFER listener as a
// debug-output viewer sees it. Switches the log on for the test's life.

#include "DbwinListener.h"

#include "_win32/LogDebug.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace brimlock_test {

class LogCapture {
public:
    // False when another listener owns the prefix's DBWIN objects.
    bool start()
    {
        Corvane::Orlin::g_outputToDebugView = true;
        return _listener.start();
    }
    ~LogCapture() { Corvane::Orlin::g_outputToDebugView = false; }

    // The messages (the text after "<pid>:[Tamsel] <date> <time> ", without the line
    // break) logged by this process so far; a marker line is sent and awaited first so
    // that everything logged before has arrived.
    std::vector<std::string> messages()
    {
        const std::string marker = "--marker-" + std::to_string(++_markers) + "--";
        Corvane::Orlin::LogDebugA("%s", marker.c_str());
        EXPECT_TRUE(_listener.waitForText(GetCurrentProcessId(), marker, std::chrono::seconds(10)));
        std::vector<std::string> result;
        for (const std::string& line : _listener.linesOf(GetCurrentProcessId())) {
            const size_t tag = line.find("] ");
            std::string message = tag == std::string::npos ? line : line.substr(std::min(line.size(), tag + 22));
            while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
                message.pop_back();
            }
            if (message.rfind("--marker-", 0) != 0) {
                result.push_back(message);
            }
        }
        return result;
    }
    void clear() { _listener.clear(); }

    static bool contains(const std::vector<std::string>& lines, const std::string& message)
    {
        return std::find(lines.begin(), lines.end(), message) != lines.end();
    }
    static size_t count(const std::vector<std::string>& lines, const std::string& message)
    {
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), message));
    }
    // The line right after the first `message`, or "<none>".
    static std::string after(const std::vector<std::string>& lines, const std::string& message)
    {
        auto it = std::find(lines.begin(), lines.end(), message);
        if (it == lines.end() || ++it == lines.end()) {
            return "<none>";
        }
        return *it;
    }

private:
    DbwinListener _listener;
    int _markers = 0;
};

// The error line for `code` as ChildProcess writes it after a failed call.
std::string errorLine(DWORD code);

} // namespace brimlock_test
