#pragma once
// Listens to debug output over the DBWIN_BUFFER protocol, as a debug-output viewer does:
// a 4096-byte shared section "DBWIN_BUFFER" (process id, then the text), an event
// "DBWIN_BUFFER_READY" the listener sets when the section is free, and an event
// "DBWIN_DATA_READY" a writer sets when it has filled it. OutputDebugStringW reaches the
// listener converted to the ANSI code page.
//
// One listener per object namespace at a time: start() fails when another one already
// owns the objects.

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brimlock_test {

struct DebugLine {
    DWORD processId;
    std::string text;
};

class DbwinListener {
public:
    DbwinListener() = default;
    ~DbwinListener();
    DbwinListener(const DbwinListener&) = delete;
    DbwinListener& operator=(const DbwinListener&) = delete;

    // Creates the section and events and starts the reading thread. False (with the
    // error in GetLastError) when they cannot be made or another listener holds them.
    bool start();
    void stop();

    std::vector<DebugLine> lines() const;
    std::vector<std::string> linesOf(DWORD processId) const;
    // Waits until `done` holds for the lines received so far, or the time-out passes.
    bool waitFor(const std::function<bool(const std::vector<DebugLine>&)>& done,
                 std::chrono::milliseconds timeout) const;
    // Waits until a line of `processId` (0: any process) contains `fragment`.
    bool waitForText(DWORD processId, const std::string& fragment, std::chrono::milliseconds timeout) const;
    void clear();

private:
    void readLoop();

    HANDLE _section = nullptr;
    void* _view = nullptr;
    HANDLE _bufferReady = nullptr;
    HANDLE _dataReady = nullptr;
    HANDLE _quit = nullptr;
    std::thread _reader;
    mutable std::mutex _lock;
    mutable std::condition_variable _changed;
    std::vector<DebugLine> _lines;
};

} // namespace brimlock_test
