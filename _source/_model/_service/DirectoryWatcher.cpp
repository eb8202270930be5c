#include "_model/_service/DirectoryWatcher.h"

#include "_model/_service/CandidateTable.h"
#include "_model/_service/Countermeasure.h"
#include "_win32/LogDebug.h"
#include "_win32/ThreadHandle.h"
#include "_win32/UniqueHandle.h"

#include <atomic>
#include <exception>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

using Corvane::Orlin::LogDebugA;
using Corvane::Orlin::LogDebugW;
using Corvane::Orlin::OutputSettings;
using Corvane::Orlin::UniqueFile;
using Corvane::Orlin::UniqueHandle;

namespace {

constexpr DWORD kNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;
constexpr DWORD kBufferBytes = 128;
constexpr DWORD kPauseMs = 1000;
// How long the supervisor waits for a watcher between two cancellations of its read.
constexpr DWORD kCancelRetryMs = 10;
constexpr wchar_t kReadErrorText[] = L"Error ReadDirectoryChangesW (%d)\n";
// One line per pass, for whoever must tell how many passes a burst of changes caused.
constexpr wchar_t kPassDoneText[] = L"Check after a change in %s ended\n";

std::thread startThread(std::function<void()> body)
{
    return std::thread(std::move(body));
}

std::atomic<WatcherThreadStartFn> s_startWatcher{&startThread};
std::atomic<CheckFn> s_check{&checkAllCandidates};

bool quitRequested(HANDLE quitEvent, DWORD waitMs)
{
    return quitEvent && WaitForSingleObject(quitEvent, waitMs) == WAIT_OBJECT_0;
}

void runCheck()
{
    try {
        s_check.load()();
    } catch (const std::exception& e) {
        LogDebugA("checkAllCandidates failed: %s", e.what());
    } catch (...) {
        LogDebugA("checkAllCandidates failed: unknown exception");
    }
}

// Ends one watcher: its read is cancelled again and again until the thread has ended, so
// that a watcher between the test of the quit event and its read cannot block for good.
void endWatcher(std::thread& watcher)
{
    if (!watcher.joinable()) {
        return;
    }
    const HANDLE handle = Corvane::Orlin::NativeThreadHandle(watcher);
    for (;;) {
        CancelSynchronousIo(handle);
        const DWORD wait = WaitForSingleObject(handle, kCancelRetryMs);
        if (wait != WAIT_TIMEOUT) {
            break; // ended (or the handle cannot be waited on: join decides)
        }
    }
    watcher.join();
}

void endWatchers(std::vector<std::thread>& watchers, HANDLE quitEvent)
{
    if (quitEvent) {
        SetEvent(quitEvent);
    }
    for (std::thread& watcher : watchers) {
        endWatcher(watcher);
    }
}

} // namespace

void setWatcherThreadStartForTesting(WatcherThreadStartFn fn)
{
    s_startWatcher.store(fn ? fn : &startThread);
}

void setWatcherCheckForTesting(CheckFn fn)
{
    s_check.store(fn ? fn : &checkAllCandidates);
}

bool waitForFolderChange(HANDLE folderHandle)
{
    // The records are never read: a change only says that a check is due.
    alignas(DWORD) BYTE buffer[kBufferBytes];
    DWORD returned = 0;
    return ReadDirectoryChangesW(folderHandle, buffer, kBufferBytes, FALSE, kNotifyFilter, &returned, nullptr,
                                 nullptr) != FALSE;
}

void watchFolder(const std::wstring& folder, const OutputSettings& settings, HANDLE quitEvent)
{
    // A folder that cannot be opened leaves an invalid handle; the first read then fails
    // and its error is the one recorded.
    UniqueFile handle(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    DWORD error = 0;
    for (;;) {
        if (quitRequested(quitEvent, 0)) {
            error = ERROR_OPERATION_ABORTED;
            break;
        }
        if (!waitForFolderChange(handle.get())) {
            error = GetLastError();
            // Wine reports an overflowing buffer as this failure; Windows as success
            // without records. Both mean "something changed".
            if (error != ERROR_NOTIFY_ENUM_DIR) {
                break;
            }
        }
        if (quitRequested(quitEvent, kPauseMs)) {
            error = ERROR_OPERATION_ABORTED;
            break;
        }
        if (!quitEvent) {
            Sleep(kPauseMs);
        }
        runCheck();
        LogDebugW(kPassDoneText, folder.c_str());
    }
    settings.reportEvent(error, kReadErrorText);
    LogDebugW(kReadErrorText, static_cast<int>(error));
}

void watchCandidateFolders(HANDLE stopEvent, const OutputSettings& settings)
{
    const CandidateTable* table = g_activeCandidates.load();
    if (!table) {
        return;
    }
    // The watchers' own quit signal: set on every way out, also when the host's stop
    // event was never signalled (a failed start, a failed wait).
    UniqueHandle quit(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!quit) {
        LogDebugA("CreateEventW failed (%lu); watchers end only by cancellation", GetLastError());
    }
    const HANDLE quitEvent = quit.get();
    std::vector<std::thread> watchers;
    bool allStarted = false;
    try {
        watchers.reserve(table->size()); // so that appending a started thread cannot fail
        for (const CandidateFolder& row : *table) {
            std::wstring folder = row.folder;
            watchers.push_back(s_startWatcher.load()([folder = std::move(folder), &settings, quitEvent] {
                watchFolder(folder, settings, quitEvent);
            }));
        }
        allStarted = true;
    } catch (const std::exception& e) {
        LogDebugA("cannot start a watcher: %s", e.what());
    } catch (...) {
        LogDebugA("cannot start a watcher: unknown exception");
    }
    if (allStarted) {
        if (WaitForSingleObject(stopEvent, INFINITE) != WAIT_OBJECT_0) {
            LogDebugA("WaitForSingleObject failed (%lu)", GetLastError());
        }
    }
    endWatchers(watchers, quitEvent);
}

}}} // namespace tamselsvc::model::service
