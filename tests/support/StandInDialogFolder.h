#pragma once
// A folder that plays the service's folder, holding the test suite's stand-in dialog as
// brimlockdlg.exe. The stand-in writes started-<pid>.txt (its command line) when it
// starts and waits for a "release" file before it exits (StandInRecords.h).

#include "StandInRecords.h"
#include "TestPaths.h"
#include "Wait.h"

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

namespace brimlock_test {

class StandInDialogFolder {
public:
    explicit StandInDialogFolder(const std::wstring& hint) : _folder(makeTempDirectory(hint))
    {
        _copied = CopyFileW(builtProgram(L"launch_standin_dialog.exe").c_str(),
                            (_folder + L"\\brimlockdlg.exe").c_str(), FALSE) != FALSE;
    }
    ~StandInDialogFolder()
    {
        release();
        // Give released stand-ins a moment to exit before their folder goes.
        waitAllEnded(std::chrono::seconds(5));
        removeTree(_folder);
    }
    StandInDialogFolder(const StandInDialogFolder&) = delete;
    StandInDialogFolder& operator=(const StandInDialogFolder&) = delete;

    bool ready() const { return _copied; }
    const std::wstring& path() const { return _folder; }
    // The command line the stand-in gets for a notice: "<folder>\brimlockdlg.exe" <switch> "<file>".
    std::wstring commandLineFor(const std::wstring& noticeSwitch, const std::wstring& file) const
    {
        return L"\"" + _folder + L"\\brimlockdlg.exe\" " + noticeSwitch + L" \"" + file + L"\"";
    }

    // Command lines of every stand-in started so far.
    std::vector<std::wstring> startedCommandLines() const { return readStandInRecords(_folder, L"started-"); }
    size_t endedCount() const { return readStandInRecords(_folder, L"ended-").size(); }
    bool waitStarted(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(20)) const
    {
        return waitUntil([&] { return startedCommandLines().size() >= count; }, timeout);
    }
    // Every stand-in that started has ended.
    bool waitAllEnded(std::chrono::milliseconds timeout) const
    {
        return waitUntil([&] { return endedCount() >= startedCommandLines().size(); }, timeout);
    }

    // Lets every stand-in, running or to come, exit.
    void release() const
    {
        HANDLE file = CreateFileW((_folder + L"\\release").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
        }
    }

private:
    std::wstring _folder;
    bool _copied = false;
};

} // namespace brimlock_test
