#include "_model/_service/_guard/DirectoryWatcher.h"

#include "_model/_service/CandidateTable.h"
#include "_model/_service/_guard/Countermeasure.h"
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
// How long start() waits for the watchers to arm their first reads.
constexpr DWORD kArmTimeoutMs = 10000;
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

// No folder to watch: nothing at the path, or a file there (nothing can be planted in it).
bool folderIsMissing(HANDLE folder, DWORD openError)
{
    if (openError) {
        return isAbsence(openError);
    }
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(folder, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
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
    UniqueHandle settled;            // set once the first read is armed, or the watcher ends before
    std::atomic<DWORD> unwatchable{0}; // the error of a folder that exists but cannot be watched
    std::thread thread;

    void run(const OutputSettings& settings, HANDLE quit);
};

void CandidateWatchers::Watcher::run(const OutputSettings& settings, HANDLE quit)
{
    // A folder that cannot be opened leaves an invalid handle; the first read then fails
    // and its error is the one recorded.
    UniqueFile handle(watcherPorts().createFile(folder.c_str(), FILE_LIST_DIRECTORY,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                                                nullptr));
    const DWORD openError = handle ? 0 : GetLastError();
    ChangeRead read(handle.get());
    DWORD error = read.arm();
    if (error != 0 && !folderIsMissing(handle.get(), openError)) {
        unwatchable = openError ? openError : error;
    }
    SetEvent(settled.get());
    while (error == 0) {
        const HANDLE waits[] = {read.event(), quit};
        const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (woke != WAIT_OBJECT_0) {
            if (woke != WAIT_OBJECT_0 + 1) {
                LogDebugA("WaitForMultipleObjects failed (%lu)", GetLastError());
            }
            read.cancel();
            error = ERROR_OPERATION_ABORTED;
            break;
        }
        error = read.result();
        // Wine reports an overflowing buffer as this failure; Windows as success without
        // records. Both mean "something changed".
        if (error != 0 && error != ERROR_NOTIFY_ENUM_DIR) {
            break;
        }
        if (WaitForSingleObject(quit, kPauseMs) != WAIT_TIMEOUT) {
            error = ERROR_OPERATION_ABORTED;
            break;
        }
        runCheck(quit);
        LogDebugW(kPassDoneText, folder.c_str());
        error = read.arm();
    }
    settings.reportEvent(error, kReadErrorText);
    LogDebugW(kReadErrorText, static_cast<int>(error));
}

CandidateWatchers::CandidateWatchers(const OutputSettings& settings) : _settings(settings) {}

CandidateWatchers::~CandidateWatchers()
{
    end();
}

bool CandidateWatchers::start()
{
    const CandidateTable* table = g_activeCandidates.load();
    if (!table) {
        return true;
    }
    const auto fail = [this](const std::wstring& folder, DWORD error) {
        _failedFolder = folder;
        _failure = error;
        end();
        return false;
    };
    _quit.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!_quit) {
        return fail(std::wstring(), GetLastError());
    }
    const HANDLE quit = _quit.get();
    const OutputSettings& settings = _settings;
    std::wstring folder;
    try {
        _watchers.reserve(table->size()); // so that keeping a started watcher cannot fail
        for (const CandidateFolder& row : *table) {
            folder = row.folder;
            auto watcher = std::make_unique<Watcher>();
            watcher->folder = row.folder;
            watcher->settled.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            if (!watcher->settled) {
                return fail(folder, GetLastError());
            }
            Watcher* body = watcher.get();
            watcher->thread = watcherPorts().startThread([body, &settings, quit] { body->run(settings, quit); });
            _watchers.push_back(std::move(watcher));
        }
    } catch (const std::exception& e) {
        LogDebugA("cannot start a watcher: %s", e.what());
        return fail(folder, ERROR_TOO_MANY_TCBS);
    }
    const DWORD deadline = GetTickCount() + kArmTimeoutMs;
    for (const auto& watcher : _watchers) {
        const DWORD left = deadline - GetTickCount();
        if (WaitForSingleObject(watcher->settled.get(), left > kArmTimeoutMs ? 0 : left) != WAIT_OBJECT_0) {
            LogDebugW(L"The watcher of %s has not armed its read yet\n", watcher->folder.c_str());
        }
    }
    for (const auto& watcher : _watchers) {
        if (const DWORD error = watcher->unwatchable.load()) {
            return fail(watcher->folder, error);
        }
    }
    return true;
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
    if (!watchers.start()) {
        return watchers.failure();
    }
    if (WaitForSingleObject(stopEvent, INFINITE) != WAIT_OBJECT_0) {
        LogDebugA("WaitForSingleObject failed (%lu)", GetLastError());
    }
    watchers.end();
    return 0;
}

}}} // namespace tamselsvc::model::service
