#include "_model/_service/_guard/RegistrationGuard.h"

#include "_model/_service/MessageStrings.h"
#include "_model/_service/Paths.h"
#include "_model/_service/_guard/Countermeasure.h"
#include "_model/_service/_guard/CountermeasurePorts.h"
#include "_model/_service/_guard/OffendingEntry.h"
#include "_model/_service/_guard/RestartList.h"
#include "_win32/LogDebug.h"
#include "_win32/NativeFileSystem.h"

#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

using Corvane::Orlin::LogDebugA;
using Corvane::Orlin::LogDebugW;

namespace {

// Names ordered as Windows compares them (ordinal, without regard to case), so that two
// spellings of one path are one key.
struct NameLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const
    {
        return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                    TRUE) == CSTR_LESS_THAN;
    }
};
using NameSet = std::set<std::wstring, NameLess>;

// The name a plain path opens: Windows drops trailing dots and blanks ("p.exe  " is p.exe),
// so a line with blanks after its program does not put the program in front of itself.
std::wstring openedName(std::wstring path)
{
    while (!path.empty() && (path.back() == L' ' || path.back() == L'.')) {
        path.pop_back();
    }
    return path;
}

void report(const std::wstring& text, WORD type)
{
    countermeasurePorts().report(text, type, 0);
}

UINT headOf(NotGuardedWhy why)
{
    switch (why) {
    case NotGuardedWhy::NotLocal:
        return IDS_GUARD_WHY_NOT_LOCAL;
    case NotGuardedWhy::NoProgram:
        return IDS_GUARD_WHY_NO_PROGRAM;
    case NotGuardedWhy::NotListed:
        return IDS_GUARD_WHY_NOT_LISTED;
    case NotGuardedWhy::UsersText:
        return IDS_GUARD_WHY_USERS_TEXT;
    default:
        return IDS_GUARD_WHY_TOO_MANY;
    }
}

} // namespace

// What the guard's thread alone works with.
struct RegistrationGuard::Work {
    // Each guarded path, with the registrations it stands in front of.
    std::map<std::wstring, std::vector<GuardedPath>, NameLess> byPath;
    NameSet folders;
    std::vector<Corvane::Orlin::UniqueChangeNotification> notices;
    std::set<NotGuardedWhy> said;
    bool saidNotAllWatched = false;

    void take(GuardedSet set)
    {
        NameSet programs;
        for (const std::wstring& program : set.programs) {
            programs.insert(openedName(program));
        }
        byPath.clear();
        NameSet newFolders;
        for (GuardedPath& guarded : set.paths) {
            std::wstring path = openedName(guarded.path);
            if (programs.count(path)) {
                continue; // some registration's real program
            }
            newFolders.insert(parentOf(path));
            byPath[std::move(path)].push_back(std::move(guarded));
        }
        for (const NotGuarded& left : set.notGuarded) {
            sayOnce(left);
        }
        if (newFolders != folders) {
            folders = std::move(newFolders);
            watchFolders();
        }
    }

    void sayOnce(const NotGuarded& left)
    {
        if (!said.insert(left.why).second) {
            return;
        }
        std::wstring text = messageString(IDS_GUARD_NOT_GUARDED) + messageString(headOf(left.why));
        if (left.why == NotGuardedWhy::TooMany) {
            text += std::to_wstring(kMaxGuardedPaths);
        }
        text += L"\r\n";
        if (!left.path.empty()) {
            text += L"\"" + left.path + L"\"\r\n";
        }
        report(text + messageString(IDS_REPORT_REGISTRATION) + left.registration, EVENTLOG_INFORMATION_TYPE);
    }

    // A notification for each of the first kMaxWatchedFolders folders; a folder that cannot
    // be watched (missing, say) is left to the passes.
    void watchFolders()
    {
        notices.clear();
        {
            const Corvane::Orlin::NativeFileSystem native; // no record, no library in here
            for (const std::wstring& folder : folders) {
                if (notices.size() == kMaxWatchedFolders) {
                    break;
                }
                Corvane::Orlin::UniqueChangeNotification notice(
                    FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME));
                if (notice) {
                    notices.push_back(std::move(notice));
                }
            }
        }
        if (folders.size() > kMaxWatchedFolders && !saidNotAllWatched) {
            saidNotAllWatched = true;
            report(messageString(IDS_GUARD_NOT_ALL_WATCHED) + messageString(IDS_GUARD_FOLDERS_WATCHED) +
                       std::to_wstring(kMaxWatchedFolders) + L"\r\n" + messageString(IDS_GUARD_FOLDERS_CHECKED) +
                       std::to_wstring(folders.size() - kMaxWatchedFolders),
                   EVENTLOG_INFORMATION_TYPE);
        }
    }
};

RegistrationGuard::RegistrationGuard(HANDLE stopEvent, const Corvane::Orlin::OutputSettings& settings)
{
    if (!settings.shouldGuardUnquotedPaths()) {
        return;
    }
    _quit.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    _wake.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!_quit || !_wake) {
        LogDebugA("Guard of registrations not started: CreateEventW failed (%lu)", GetLastError());
        return;
    }
    try {
        _thread = std::thread([this, stopEvent] { run(stopEvent); });
    } catch (const std::exception& e) {
        LogDebugA("Guard of registrations not started: %s", e.what());
    }
}

RegistrationGuard::~RegistrationGuard()
{
    if (_thread.joinable()) {
        SetEvent(_quit.get());
        _thread.join();
    }
}

void RegistrationGuard::publish(GuardedSet set)
{
    {
        std::lock_guard<Corvane::Orlin::SrwLock> hold(_lock);
        _next = std::move(set);
        _nextWaiting = true;
        _settled = true;
    }
    SetEvent(_wake.get());
}

void RegistrationGuard::unsettle()
{
    std::lock_guard<Corvane::Orlin::SrwLock> hold(_lock);
    if (_settled) {
        _settled = false;
        _unsettledSince = GetTickCount64();
    }
}

bool RegistrationGuard::settled()
{
    std::lock_guard<Corvane::Orlin::SrwLock> hold(_lock);
    return !_nextWaiting && (_settled || GetTickCount64() - _unsettledSince >= kMaxUnsettledMs);
}

GuardedSet RegistrationGuard::takeNext()
{
    std::lock_guard<Corvane::Orlin::SrwLock> hold(_lock);
    _nextWaiting = false;
    GuardedSet set = std::move(_next);
    _next = GuardedSet();
    return set;
}

void RegistrationGuard::run(HANDLE stopEvent)
{
    // An error must not leave the thread (it would end the process): the guard ends and
    // the service goes on.
    try {
        std::vector<HANDLE> stops{_quit.get()};
        if (stopEvent) {
            stops.push_back(stopEvent);
        }
        const auto stopRequested = [&stops](DWORD timeoutMs) {
            return WaitForMultipleObjects(static_cast<DWORD>(stops.size()), stops.data(), FALSE, timeoutMs) !=
                   WAIT_TIMEOUT;
        };
        Work work;
        // Right before each move, on the opened entry: still in front of every registration
        // it was found in front of, whose real program is still there and another file.
        const auto mayMove = [this](const std::wstring& path, const std::vector<GuardedPath>& inFront,
                                    const std::wstring& identity) {
            if (!settled()) {
                return false;
            }
            for (const GuardedPath& guarded : inFront) {
                const std::wstring program = identityOfFileAt(guarded.program);
                if (sameName(path, guarded.program) || program.empty() || program == identity) {
                    return false;
                }
            }
            return true;
        };
        // A 32-bit service on 64-bit Windows sees SysWOW64 at System32: paths there are looked
        // at and moved with file-system redirection off. Only there, since a library loaded
        // meanwhile (by a record, say) would be looked for in the native folder.
        wchar_t systemFolder[MAX_PATH];
        const UINT systemLength = GetSystemDirectoryW(systemFolder, MAX_PATH);
        const auto inSystemFolder = [&](const std::wstring& path) {
            return systemLength > 0 && systemLength < MAX_PATH && path.size() > systemLength &&
                   path[systemLength] == L'\\' &&
                   sameName(path.substr(0, systemLength), std::wstring(systemFolder, systemLength));
        };
        const auto pass = [&] {
            if (!settled()) {
                return;
            }
            for (const auto& guarded : work.byPath) {
                if (stopRequested(0)) {
                    return;
                }
                std::optional<Corvane::Orlin::NativeFileSystem> native;
                if (inSystemFolder(guarded.first)) {
                    native.emplace();
                }
                const DWORD attributes = GetFileAttributesW(extendedPathOf(guarded.first).c_str());
                if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    continue;
                }
                const std::vector<GuardedPath>& inFront = guarded.second;
                const InFrontOf why{inFront.front().registration,
                                    [&](const std::wstring& identity) { return mayMove(guarded.first, inFront, identity); }};
                try {
                    moveFileInFront(guarded.first, why);
                } catch (const std::exception& e) {
                    LogDebugW(L"Guard of registrations: %s not handled this time\n", guarded.first.c_str());
                    LogDebugA("Guard of registrations: %s", e.what());
                }
            }
        };
        for (;;) {
            std::vector<HANDLE> waits = stops;
            waits.push_back(_wake.get());
            for (const auto& notice : work.notices) {
                waits.push_back(notice.get());
            }
            const DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE, kPassMs);
            if (woke == WAIT_FAILED) {
                LogDebugA("Guard of registrations: the wait failed (%lu); the guard ends", GetLastError());
                return;
            }
            const DWORD index = woke - WAIT_OBJECT_0;
            if (woke != WAIT_TIMEOUT && index < stops.size()) {
                return;
            }
            if (woke != WAIT_TIMEOUT && index == stops.size()) {
                work.take(takeNext());
            } else if (woke != WAIT_TIMEOUT) {
                // A change in a watched folder: armed again, then the pause that lets a
                // burst of changes end.
                FindNextChangeNotification(waits[index]);
                if (stopRequested(kSettleMs)) {
                    return;
                }
            }
            pass();
        }
    } catch (const std::exception& e) {
        LogDebugA("Guard of registrations ended: %s", e.what());
    } catch (...) {
        LogDebugA("Guard of registrations ended: unknown exception");
    }
}

}}} // namespace tamselsvc::model::service
