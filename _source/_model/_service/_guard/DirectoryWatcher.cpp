#include "_model/_service/_guard/DirectoryWatcher.h"

#include "_model/_service/CandidateTable.h"
#include "_model/_service/MessageStrings.h"
#include "_model/_service/_guard/Countermeasure.h"
#include "_model/_service/_guard/FolderTrouble.h"
#include "_win32/LogDebug.h"

#include <atomic>
#include <exception>
#include <system_error>

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
// How long start() waits for the watchers to try their folders a first time.
constexpr DWORD kArmTimeoutMs = 10000;
// How often a folder that cannot be watched is tried again (and checked meanwhile), a
// watched folder looked up again by its path, and a failed check retried.
constexpr DWORD kTickMs = 2000;
constexpr wchar_t kReadErrorText[] = L"Error ReadDirectoryChangesW (%d)\n";
// One line per pass, for whoever must tell how many passes a burst of changes caused.
constexpr wchar_t kPassDoneText[] = L"Check after a change in %s ended\n";

std::thread startThread(std::function<void()> body)
{
    return std::thread(std::move(body));
}

int realCheck(HANDLE stopEvent)
{
    return checkAllCandidates(stopEvent);
}

bool isAbsence(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::wstring identityOf(HANDLE folder)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder, &info)) {
        return std::wstring();
    }
    return std::to_wstring(info.dwVolumeSerialNumber) + L"-" + std::to_wstring(info.nFileIndexHigh) + L"-" +
           std::to_wstring(info.nFileIndexLow);
}

// One overlapped directory-change read on a folder handle, issued again after each change.
// The records it writes are never read: a change only says that a check is due.
class ChangeRead {
public:
    explicit ChangeRead(HANDLE folder) : _folder(folder), _event(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        _eventError = _event ? 0 : GetLastError();
    }
    ~ChangeRead() { cancel(); }
    ChangeRead(const ChangeRead&) = delete;
    ChangeRead& operator=(const ChangeRead&) = delete;

    // Issues the read; 0 when it is under way (the watch is armed from here on: changes
    // from now on make it, or the next read, return), its error otherwise.
    DWORD arm()
    {
        if (!_event) {
            return _eventError;
        }
        ResetEvent(_event.get());
        _overlapped = OVERLAPPED{};
        _overlapped.hEvent = _event.get();
        if (!ReadDirectoryChangesW(_folder, _buffer, kBufferBytes, FALSE, kNotifyFilter, nullptr, &_overlapped,
                                   nullptr)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                return error;
            }
        }
        _pending = true;
        return 0;
    }

    // Set when the read has ended.
    HANDLE event() const { return _event.get(); }

    // After event(): 0 for a change, otherwise the read's error.
    DWORD result()
    {
        _pending = false;
        DWORD bytes = 0;
        return GetOverlappedResult(_folder, &_overlapped, &bytes, FALSE) ? 0 : GetLastError();
    }

    // Cancels this read only, and waits until it has ended, so that its buffer is free.
    void cancel()
    {
        if (!_pending) {
            return;
        }
        _pending = false;
        CancelIoEx(_folder, &_overlapped);
        DWORD bytes = 0;
        GetOverlappedResult(_folder, &_overlapped, &bytes, TRUE);
    }

private:
    HANDLE _folder;
    UniqueHandle _event;
    DWORD _eventError = 0;
    OVERLAPPED _overlapped{};
    alignas(DWORD) BYTE _buffer[kBufferBytes];
    bool _pending = false;
};

// One opening of a watched folder: its handle, its identity and its change read. A folder
// is opened anew whenever it was lost (moved, deleted, replaced) or could not be opened.
class WatchedFolder {
public:
    explicit WatchedFolder(const std::wstring& path) : _path(path) {}

    // Opens the folder and arms its read: 0 when it is watched from now on; kNoFolder when
    // there is no folder at the path (nothing, or a file); the Win32 error otherwise.
    DWORD open()
    {
        _handle.reset(watcherPorts().createFile(_path.c_str(), FILE_LIST_DIRECTORY,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                                                nullptr));
        if (!_handle) {
            const DWORD error = GetLastError();
            return isAbsence(error) ? kNoFolder : error;
        }
        BY_HANDLE_FILE_INFORMATION info;
        if (GetFileInformationByHandle(_handle.get(), &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return kNoFolder; // a file where the folder should be: nothing can be planted in it
        }
        _identity = identityOf(_handle.get());
        _read = std::make_unique<ChangeRead>(_handle.get());
        return _read->arm();
    }

    ChangeRead& read() { return *_read; }

    // False when the path no longer leads to the folder this handle watches: gone, pending
    // deletion, or another folder there now. True when it does, or cannot be told (the
    // folder is held without sharing).
    bool stillThere() const
    {
        UniqueFile now(watcherPorts().createFile(_path.c_str(), FILE_READ_ATTRIBUTES,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!now) {
            const DWORD error = GetLastError();
            return !isAbsence(error) && error != ERROR_ACCESS_DENIED;
        }
        return _identity.empty() || identityOf(now.get()) == _identity;
    }

    static constexpr DWORD kNoFolder = 0xFFFFFFFF;

private:
    std::wstring _path;
    UniqueFile _handle;
    std::wstring _identity;
    std::unique_ptr<ChangeRead> _read; // declared after the handle: cancelled before it closes
};

void runCheck(HANDLE quit)
{
    try {
        watcherPorts().check(quit);
    } catch (const std::exception& e) {
        LogDebugA("checkAllCandidates failed: %s", e.what());
    } catch (...) {
        LogDebugA("checkAllCandidates failed: unknown exception");
    }
}

} // namespace

Corvane::Orlin::Ports<WatcherPorts> watcherPorts{WatcherPorts{&startThread, &realCheck, &::CreateFileW}};

struct CandidateWatchers::Watcher {
    std::wstring folder;
    UniqueHandle settled; // set once the first opening has been tried
    std::thread thread;

    void run(const OutputSettings& settings, HANDLE quit, const std::atomic<int>& unwatched);
};

// The folder is opened and its read armed; when it cannot be (held, denied, missing), the
// watcher tries again every two seconds, and meanwhile runs a check each time for a folder
// that exists. Every two seconds a watched folder is looked up again by its path: a folder
// moved, deleted or replaced is let go and the one at the path now is watched (and
// checked). A read that fails writes its record and the folder is opened anew.
void CandidateWatchers::Watcher::run(const OutputSettings& settings, HANDLE quit, const std::atomic<int>& unwatched)
{
    FolderTrouble trouble(IDS_GUARD_CANNOT_WATCH, IDS_GUARD_WATCHED_AGAIN);
    DWORD lastReadError = 0;
    for (bool first = true;; first = false) {
        WatchedFolder watched(folder);
        const DWORD opened = watched.open();
        const bool armed = opened == 0;
        if (armed) {
            trouble.recovered(folder);
        } else if (opened != WatchedFolder::kNoFolder) {
            trouble.failed(folder, opened);
        }
        if (first) {
            SetEvent(settled.get());
        } else if (armed) {
            runCheck(quit); // a folder watched anew: what it holds already
        }
        DWORD error = 0;
        for (;;) {
            const HANDLE waits[] = {quit, armed ? watched.read().event() : nullptr};
            const DWORD woke = WaitForMultipleObjects(armed ? 2 : 1, waits, FALSE, kTickMs);
            if (woke == WAIT_OBJECT_0) {
                error = ERROR_OPERATION_ABORTED;
                break;
            }
            if (woke == WAIT_TIMEOUT) {
                if (!armed) {
                    if (opened != WatchedFolder::kNoFolder) {
                        runCheck(quit); // there, but not watched: checked every two seconds
                    }
                    break;
                }
                if (!watched.stillThere()) {
                    LogDebugW(L"The watched folder %s was moved, deleted or replaced\n", folder.c_str());
                    break;
                }
                if (checkIsDueAgain() || unwatched.load() > 0) {
                    runCheck(quit);
                }
                continue;
            }
            if (woke != WAIT_OBJECT_0 + 1) {
                LogDebugA("WaitForMultipleObjects failed (%lu)", GetLastError());
                error = ERROR_OPERATION_ABORTED;
                break;
            }
            error = watched.read().result();
            // Wine reports an overflowing buffer as this failure; Windows as success without
            // records. Both mean "something changed".
            if (error != 0 && error != ERROR_NOTIFY_ENUM_DIR) {
                if (error != lastReadError) {
                    settings.reportEvent(error, kReadErrorText);
                    LogDebugW(kReadErrorText, static_cast<int>(error));
                }
                lastReadError = error;
                // Opened anew after a pause, so that a read that fails at once cannot spin.
                if (WaitForSingleObject(quit, kTickMs) != WAIT_TIMEOUT) {
                    error = ERROR_OPERATION_ABORTED;
                }
                break;
            }
            lastReadError = 0;
            if (WaitForSingleObject(quit, kPauseMs) != WAIT_TIMEOUT) {
                error = ERROR_OPERATION_ABORTED;
                break;
            }
            runCheck(quit);
            LogDebugW(kPassDoneText, folder.c_str());
            error = watched.read().arm();
            if (error != 0) {
                break; // opened anew
            }
        }
        if (error == ERROR_OPERATION_ABORTED && WaitForSingleObject(quit, 0) == WAIT_OBJECT_0) {
            settings.reportEvent(ERROR_OPERATION_ABORTED, kReadErrorText);
            LogDebugW(kReadErrorText, static_cast<int>(ERROR_OPERATION_ABORTED));
            return;
        }
    }
}

CandidateWatchers::CandidateWatchers(const OutputSettings& settings) : _settings(settings) {}

CandidateWatchers::~CandidateWatchers()
{
    end();
}

void CandidateWatchers::start()
{
    const CandidateTable* table = g_activeCandidates.load();
    if (!table) {
        return;
    }
    _quit.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!_quit) {
        LogDebugA("No watcher can be started: CreateEventW failed (%lu)", GetLastError());
        _unwatched = static_cast<int>(table->size());
        return;
    }
    const HANDLE quit = _quit.get();
    const OutputSettings& settings = _settings;
    const std::atomic<int>& unwatched = _unwatched;
    FolderTrouble trouble(IDS_GUARD_CANNOT_WATCH, IDS_GUARD_WATCHED_AGAIN);
    for (const CandidateFolder& row : *table) {
        try {
            auto watcher = std::make_unique<Watcher>();
            watcher->folder = row.folder;
            watcher->settled.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            if (!watcher->settled) {
                throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateEventW");
            }
            Watcher* body = watcher.get();
            _watchers.push_back(nullptr); // room first, so that keeping a started watcher cannot fail
            watcher->thread =
                watcherPorts().startThread([body, &settings, quit, &unwatched] { body->run(settings, quit, unwatched); });
            _watchers.back() = std::move(watcher);
        } catch (const std::exception& e) {
            // The service goes on: the other watchers check this folder every two seconds.
            if (!_watchers.empty() && !_watchers.back()) {
                _watchers.pop_back();
            }
            LogDebugA("cannot start a watcher: %s", e.what());
            trouble.failed(row.folder, ERROR_TOO_MANY_TCBS);
            ++_unwatched;
        }
    }
    const DWORD deadline = GetTickCount() + kArmTimeoutMs;
    for (const auto& watcher : _watchers) {
        const DWORD left = deadline - GetTickCount();
        if (WaitForSingleObject(watcher->settled.get(), left > kArmTimeoutMs ? 0 : left) != WAIT_OBJECT_0) {
            LogDebugW(L"The watcher of %s has not tried its folder yet\n", watcher->folder.c_str());
        }
    }
}

void CandidateWatchers::end()
{
    if (_quit) {
        SetEvent(_quit.get());
    }
    for (const auto& watcher : _watchers) {
        if (watcher->thread.joinable()) {
            watcher->thread.join();
        }
    }
    _watchers.clear();
}

DWORD watchCandidateFolders(HANDLE stopEvent, const OutputSettings& settings)
{
    if (!g_activeCandidates.load()) {
        return 0;
    }
    CandidateWatchers watchers(settings);
    watchers.start();
    watchers.waitForStop(stopEvent);
    watchers.end();
    return 0;
}

void CandidateWatchers::waitForStop(HANDLE stopEvent)
{
    // With a folder that has no watcher, nobody else checks it every two seconds.
    for (;;) {
        const DWORD woke = WaitForSingleObject(stopEvent, _unwatched.load() > 0 ? kTickMs : INFINITE);
        if (woke == WAIT_TIMEOUT) {
            runCheck(stopEvent);
            continue;
        }
        if (woke != WAIT_OBJECT_0) {
            LogDebugA("WaitForSingleObject failed (%lu)", GetLastError());
        }
        return;
    }
}

}}} // namespace tamselsvc::model::service
