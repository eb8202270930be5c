#include "_model/_service/_guard/Countermeasure.h"

#include "_model/_service/MessageStrings.h"
#include "_model/_service/Paths.h"
#include "_model/_service/_guard/FloodWindow.h"
#include "_model/_service/_guard/FolderListing.h"
#include "_model/_service/_guard/FolderTrouble.h"
#include "_model/_service/_guard/HandledFiles.h"
#include "_model/_service/_guard/NameRules.h"
#include "_model/_service/_guard/OffendingEntry.h"
#include "_model/_service/_guard/RenameError.h"
#include "_model/_service/_guard/RestartList.h"
#include "_process/NotificationLaunch.h"
#include "_win32/LogDebug.h"
#include "_win32/SrwLock.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>

namespace tamselsvc { namespace model { namespace service {

using Corvane::Orlin::LogDebugA;
using Corvane::Orlin::LogDebugW;

namespace {

// Held for a whole pass: two passes that reach the same file must not both try to rename
// it, or the loser's failed rename would turn into Failed records and a "/fatal" notice.
// It also guards s_handled, s_flood and s_checkTrouble.
Corvane::Orlin::SrwLock s_passLock;
HandledFiles s_handled;
FloodWindow s_flood;
FolderTrouble s_checkTrouble(IDS_GUARD_CANNOT_CHECK, IDS_GUARD_CHECKED_AGAIN);
// Set while the last pass could not check every folder (or ended on an error): the
// watchers then run another within two seconds.
std::atomic<bool> s_retryDue{false};

constexpr size_t kMaxFileNameLength = 255;
constexpr int kRandomNameDraws = 4;
constexpr unsigned kMaxTargetsPerFile = 4;

void report(const std::wstring& text, WORD eventType)
{
    countermeasurePorts().report(text, eventType, 0);
}

std::wstring quotedPair(const std::wstring& oldPath, const std::wstring& newPath)
{
    return L"\"" + oldPath + L"\" -> \"" + newPath + L"\"";
}

// A record of a move: the table's head, or for a file in front of a registration its own
// head and the registration at the end.
void reportMove(UINT head, UINT headInFront, const std::wstring& body, const InFrontOf* why)
{
    if (!why) {
        report(messageString(head) + body, EVENTLOG_WARNING_TYPE);
        return;
    }
    report(messageString(headInFront) + body + L"\r\n" + messageString(IDS_GUARD_IN_FRONT_OF) + why->registration,
           EVENTLOG_WARNING_TYPE);
}

void reportRenamed(const std::wstring& oldPath, const std::wstring& newPath, const InFrontOf* why)
{
    reportMove(IDS_MESSAGE_RENAMED, IDS_GUARD_IN_FRONT_RENAMED, quotedPair(oldPath, newPath), why);
}

void reportRenameScheduled(const std::wstring& oldPath, const std::wstring& newPath, const InFrontOf* why)
{
    reportMove(IDS_MESSAGE_RENAME_SCHEDULED, IDS_GUARD_IN_FRONT_RENAME_SCHEDULED, quotedPair(oldPath, newPath), why);
}

void reportDeleteScheduled(const std::wstring& path, const InFrontOf* why)
{
    reportMove(IDS_MESSAGE_DELETE_SCHEDULED, IDS_GUARD_IN_FRONT_DELETE_SCHEDULED, L"\"" + path + L"\"", why);
}

void reportSchedulingFailed(DWORD errorCode)
{
    report(messageString(IDS_MESSAGE_ERROR_CODE) + std::to_wstring(errorCode), EVENTLOG_ERROR_TYPE);
}

// Notification thread bodies. An error must not leave a detached thread (it would end the
// process): it goes to the diagnostic log.
template <typename Body>
void guarded(const char* what, Body body)
{
    try {
        body();
    } catch (const std::exception& e) {
        LogDebugA("%s: %s", what, e.what());
    } catch (...) {
        LogDebugA("%s: unknown exception", what);
    }
}

void startNotification(std::function<void()> body)
{
    countermeasurePorts().startThread(std::move(body));
}

void startNotifyViaSession(const std::wstring& filePath)
{
    startNotification([filePath] {
        guarded("notifyActiveUser", [&] { countermeasurePorts().notifyActiveUser(filePath, std::wstring()); });
    });
}

// True once the notice's thread has started; false when the launch gate was held. Raises
// when the thread cannot be started.
bool giveRestartNotice(const std::wstring& filePath)
{
    if (!process::g_restartPending.exchange(true)) {
        // The first scheduled action of the process: shown without the gate.
        const std::wstring noticeSwitch = process::currentMessageSwitch();
        startNotification([noticeSwitch, filePath] {
            guarded("launchDialog", [&] { countermeasurePorts().launchDialog(noticeSwitch, filePath); });
        });
        return true;
    }
    // Only a test: the notification thread takes the gate for its own dialog and must not
    // find it still held here.
    if (!process::g_launchGate.try_lock()) {
        return false;
    }
    process::g_launchGate.unlock();
    startNotifyViaSession(filePath);
    return true;
}

// True once the notice's thread has started; false when a fatal notice is on screen or
// starting. Raises when the thread cannot be started.
bool startFatalNotice(const std::wstring& filePath)
{
    if (!g_fatalGate.tryAcquire()) {
        return false;
    }
    try {
        startNotification([filePath] { notifyFatal(filePath); });
    } catch (...) {
        // No thread will release the gate: release it here, or no fatal notice would
        // ever be shown again in this process.
        g_fatalGate.release();
        throw;
    }
    return true;
}

// One listed offending file, before its notice. Must be called under the pass lock.
struct FileHandling {
    RenameOutcome outcome;
    std::wstring identity; // OffendingEntry::identity()
};

const wchar_t* leftAloneReason(OffendingEntry::State state)
{
    switch (state) {
    case OffendingEntry::State::Folder:
        return L"a folder by now";
    case OffendingEntry::State::Gone:
        return L"gone before its rename";
    case OffendingEntry::State::Elsewhere:
        return L"its handle leads elsewhere (a link that was followed)";
    default:
        return L"a name the system refuses as a path";
    }
}

// What a failed rename says about the name it was given.
enum class NameVerdict {
    FileFault, // the name is free: the file itself cannot be renamed now
    Taken,     // something has that name (or is leaving it): the next name may do
    Unusable,  // no name of this form can be used (too long, refused): another form is needed
};

// Whether anything is at `path` now, in any form: a name whose entry is pending deletion
// answers access denied, and cannot be taken either.
bool nameInUse(const std::wstring& path)
{
    if (GetFileAttributesW(extendedPathOf(path).c_str()) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

NameVerdict verdictOf(DWORD error, const std::wstring& newPath)
{
    switch (error) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return NameVerdict::Taken;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return NameVerdict::Unusable;
    case ERROR_ACCESS_DENIED:
    case ERROR_DELETE_PENDING:
    case ERROR_SHARING_VIOLATION:
        // The same answers come for a file that cannot be moved: the name decides.
        return nameInUse(newPath) ? NameVerdict::Taken : NameVerdict::FileFault;
    default:
        return NameVerdict::FileFault;
    }
}

bool nameFits(const std::wstring& path)
{
    return fileNameOf(path).size() <= kMaxFileNameLength;
}

// A name nobody can take in advance and that is no candidate: the stem, a hyphen and
// sixteen random hexadecimal digits, then the extension, cut where the whole name would be
// longer than a file name may be. Empty when the system has no random bytes to give.
std::wstring randomName(const std::wstring& parent, const std::wstring& stem, std::wstring extension)
{
    unsigned char bytes[8];
    if (!countermeasurePorts().randomBytes(bytes, sizeof(bytes))) {
        LogDebugA("No random bytes for a name (%lu)", GetLastError());
        return std::wstring();
    }
    std::wstring name = stem + L"-";
    for (const unsigned char byte : bytes) {
        name += L"0123456789abcdef"[byte >> 4];
        name += L"0123456789abcdef"[byte & 15];
    }
    if (name.size() + extension.size() > kMaxFileNameLength) {
        extension.resize(name.size() < kMaxFileNameLength ? kMaxFileNameLength - name.size() : 0);
        while (!extension.empty() && (extension.back() == L'.' || extension.back() == L' ')) {
            extension.pop_back();
        }
    }
    return joinPath(parent, name + extension);
}

FileHandling renamed(const std::wstring& path, const std::wstring& newPath, const std::wstring& identity,
                     const InFrontOf* why)
{
    s_handled.forget(path);
    // The file has moved: whatever its record does, the outcome is a rename.
    try {
        reportRenamed(path, newPath, why);
    } catch (const std::exception& e) {
        LogDebugA("The record of a rename failed: %s", e.what());
    } catch (...) {
        LogDebugA("The record of a rename failed: unknown exception");
    }
    return {{RenameResult::Renamed, newPath}, identity};
}

// A file whose rename was scheduled to `file.target` and that still cannot be moved: when
// something has taken that name since, the rename at the restart would fail and the file
// would start again, so the rename is scheduled anew to `freeName`, a name free now (a few
// times per file at most).
void keepScheduledTargetValid(const std::wstring& path, HandledFile& file, const std::wstring& freeName,
                              const InFrontOf* why)
{
    if (freeName.empty() || sameName(freeName, file.target) || !nameInUse(file.target)) {
        return;
    }
    if (file.targets >= kMaxTargetsPerFile) {
        LogDebugW(L"The restart rename of %s to %s is stale; no further target is scheduled\n", path.c_str(),
                  file.target.c_str());
        return;
    }
    const DWORD error = scheduleRenameAtRestart(path, freeName);
    if (error != 0) {
        LogDebugW(L"The restart rename of %s cannot be scheduled anew (%lu)\n", path.c_str(), error);
        return;
    }
    file.target = freeName;
    ++file.targets;
    reportRenameScheduled(path, freeName, why);
}

// The immediate rename to `target` failed with `error`: the error record, the rename
// scheduled for the restart, and its record; once per file and outcome, and each record at
// most once per path in ten minutes (FloodWindow.h).
FileHandling renameFailed(const std::wstring& path, const std::wstring& identity, DWORD error,
                          const std::wstring& target, const InFrontOf* why)
{
    HandledFile* known = s_handled.find(path, identity);
    if (known && known->kind == HandledKind::RenameScheduled) {
        keepScheduledTargetValid(path, *known, target, why);
        return {{RenameResult::RenameScheduled, known->target, true}, identity};
    }
    if (!known && s_flood.admit(path, FloodWindow::Record::RenameError)) {
        report(renameErrorDescription(error, path, target), EVENTLOG_ERROR_TYPE);
    }
    const DWORD schedulingError = scheduleRenameAtRestart(path, target);
    const HandledKind kind = schedulingError == 0 ? HandledKind::RenameScheduled : HandledKind::Failed;
    FileHandling handling{schedulingError == 0 ? RenameOutcome{RenameResult::RenameScheduled, target}
                                               : RenameOutcome{RenameResult::Failed, std::wstring()},
                          identity};
    if (known && known->kind == kind) {
        handling.outcome.repeated = true;
        return handling;
    }
    const bool admitted = s_flood.admit(path, schedulingError == 0 ? FloodWindow::Record::RenameScheduled
                                                                   : FloodWindow::Record::SchedulingFailed);
    HandledFile& file = s_handled.remember(path, identity, kind);
    if (kind == HandledKind::RenameScheduled) {
        file.target = target;
        ++file.targets;
    }
    file.noticeDue = admitted;
    handling.outcome.repeated = !admitted;
    if (admitted) {
        if (schedulingError == 0) {
            reportRenameScheduled(path, target, why);
        } else {
            reportSchedulingFailed(schedulingError);
        }
    }
    return handling;
}

FileHandling renameListedFile(const std::wstring& path, std::unordered_set<std::wstring>& taken,
                              const InFrontOf* why = nullptr)
{
    OffendingEntry entry(path);
    FileHandling handling{{RenameResult::LeftAlone, std::wstring()}, entry.identity()};
    const OffendingEntry::State state = entry.state();
    if (state != OffendingEntry::State::Open && state != OffendingEntry::State::Refused) {
        LogDebugW(L"Left alone, %s (%lu): %s\n", leftAloneReason(state), entry.openError(), path.c_str());
        s_handled.forget(path);
        return handling;
    }
    // A file in front of a registration is asked again on its handle before each move: the
    // registration's real program is never moved.
    const auto mayMove = [&] {
        if (why && !why->mayMove(handling.identity)) {
            LogDebugW(L"Left alone, the real program of %s now: %s\n", why->registration.c_str(), path.c_str());
            return false;
        }
        return true;
    };
    if (!mayMove()) {
        return handling;
    }

    const std::wstring parent = parentOf(path);
    const std::wstring fileName = fileNameOf(path);
    const std::wstring stem = stemOf(fileName);
    const std::wstring extension = extensionOf(fileName);
    // The numbered names first, on the same open entry: a name taken since the listing (or
    // leaving, pending deletion) is taken for the rest of the pass too, and the search goes
    // on with the next number. A name the file itself could not take is given back, so that
    // the next file of the pass may use it.
    std::wstring target;
    DWORD error = 0;
    for (;;) {
        const std::wstring numbered = findFreeNumberedName(parent, stem, extension, taken);
        if (numbered.empty()) {
            break;
        }
        if (!nameFits(numbered)) {
            taken.erase(lowerStemOfPath(numbered));
            break; // and every later number is longer still
        }
        if (!mayMove()) {
            taken.erase(lowerStemOfPath(numbered));
            return handling;
        }
        error = entry.renameTo(numbered);
        if (error == 0) {
            return renamed(path, numbered, handling.identity, why);
        }
        const NameVerdict verdict = verdictOf(error, numbered);
        if (verdict == NameVerdict::Taken) {
            continue;
        }
        taken.erase(lowerStemOfPath(numbered));
        if (verdict == NameVerdict::FileFault) {
            target = numbered;
        }
        break;
    }
    if (!target.empty()) {
        entry.close(); // others may use the file from here on
        return renameFailed(path, handling.identity, error, target, why);
    }
    // No numbered name can be had (all taken, or too long): a name nobody can take in
    // advance, at once, so that the file does not stay runnable until the restart.
    for (int draw = 0; draw < kRandomNameDraws; ++draw) {
        const std::wstring random = randomName(parent, stem, extension);
        if (random.empty()) {
            break;
        }
        if (!mayMove()) {
            return handling;
        }
        error = entry.renameTo(random);
        if (error == 0) {
            return renamed(path, random, handling.identity, why);
        }
        if (verdictOf(error, random) != NameVerdict::Taken) {
            break;
        }
    }
    entry.close();
    handling.outcome.result = RenameResult::NoFreeName;
    return handling;
}

// The deletion at the restart of a file that cannot be moved to any name: scheduled,
// recorded and notified once per file and outcome, and within the flood bound for the path.
void scheduleDeletion(const std::wstring& path, FileHandling& handling, const InFrontOf* why)
{
    HandledFile* known = s_handled.find(path, handling.identity);
    if (known && known->kind == HandledKind::DeletionScheduled) {
        handling.outcome.repeated = true;
        return;
    }
    const DWORD error = scheduleDeletionAtRestart(path);
    const HandledKind kind = error == 0 ? HandledKind::DeletionScheduled : HandledKind::DeletionFailed;
    if (known && known->kind == kind) {
        handling.outcome.repeated = true;
        return;
    }
    const bool admitted = s_flood.admit(path, error == 0 ? FloodWindow::Record::DeletionScheduled
                                                         : FloodWindow::Record::DeletionFailed);
    HandledFile& file = s_handled.remember(path, handling.identity, kind);
    file.noticeDue = admitted && error == 0; // a failed deletion gives no notice
    handling.outcome.repeated = !file.noticeDue;
    if (!admitted) {
        return;
    }
    if (error == 0) {
        reportDeleteScheduled(path, why);
    } else {
        reportSchedulingFailed(error);
    }
}

// Gives the notice of a file that could not be moved at once. True once its thread has
// started; false when its gate was held or the thread could not be started (the notice
// stays due, and a later pass gives it).
bool giveNoticeOfUnmoved(const std::wstring& path, RenameResult result)
{
    try {
        return result == RenameResult::Failed ? startFatalNotice(path) : giveRestartNotice(path);
    } catch (const std::exception& e) {
        LogDebugA("A notice could not be started: %s", e.what());
    } catch (...) {
        LogDebugA("A notice could not be started: unknown exception");
    }
    return false;
}

void actOnOutcome(const std::wstring& path, FileHandling handling, const InFrontOf* why = nullptr)
{
    switch (handling.outcome.result) {
    case RenameResult::LeftAlone:
        return;
    case RenameResult::Renamed:
        startNotifyViaSession(path);
        return;
    case RenameResult::NoFreeName:
        scheduleDeletion(path, handling, why);
        break;
    default:
        break;
    }
    HandledFile* file = s_handled.find(path, handling.identity);
    if (!file || !file->noticeDue) {
        return;
    }
    const RenameResult kind = file->kind == HandledKind::Failed ? RenameResult::Failed : handling.outcome.result;
    file->noticeDue = !giveNoticeOfUnmoved(path, kind);
}

// The lower-cased stems of the row's candidates.
std::vector<std::wstring> rowStems(const CandidateFolder& row)
{
    std::vector<std::wstring> stems;
    for (const std::wstring& file : row.files) {
        stems.push_back(lowerStemOfPath(file));
    }
    return stems;
}

// The lower-cased stems of every candidate of the table, in table order.
std::vector<std::wstring> candidateStems(const CandidateTable* table)
{
    std::vector<std::wstring> stems;
    if (table) {
        for (const CandidateFolder& row : *table) {
            const std::vector<std::wstring> ofRow = rowStems(row);
            stems.insert(stems.end(), ofRow.begin(), ofRow.end());
        }
    }
    return stems;
}

bool stopRequested(HANDLE stopEvent)
{
    return stopEvent && WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0;
}

} // namespace

void notifyFatal(const std::wstring& filePath)
{
    guarded("launchDialog", [&] { countermeasurePorts().launchDialog(process::kNoticeFatal, filePath); });
    g_fatalGate.release();
}

RenameOutcome renameOffendingFile(const std::wstring& path)
{
    std::lock_guard<Corvane::Orlin::SrwLock> pass(s_passLock);
    FolderListing listing = listCandidateFolder(parentOf(path), {}, candidateStems(g_activeCandidates.load()));
    return renameListedFile(path, listing.takenNames).outcome;
}

RenameOutcome moveFileInFront(const std::wstring& path, const InFrontOf& why)
{
    std::lock_guard<Corvane::Orlin::SrwLock> pass(s_passLock);
    // The names taken are those with the file's own stem (and the table's, so that the
    // table's own numbered names are not taken from under it).
    std::vector<std::wstring> stems = candidateStems(g_activeCandidates.load());
    stems.push_back(lowerStemOfPath(path));
    FolderListing listing = listCandidateFolder(parentOf(path), {}, stems);
    FileHandling handling = renameListedFile(path, listing.takenNames, &why);
    const RenameOutcome outcome = handling.outcome;
    actOnOutcome(path, std::move(handling), &why);
    return outcome;
}

int checkAllCandidates(HANDLE stopEvent)
{
    const CandidateTable* table = g_activeCandidates.load();
    if (!table) {
        return 1;
    }
    std::lock_guard<Corvane::Orlin::SrwLock> pass(s_passLock);
    // A pass that ends on an error (a notice that cannot be started) is retried too.
    s_retryDue = true;
    bool complete = true;
    const std::vector<std::wstring> allStems = candidateStems(table);
    for (const CandidateFolder& row : *table) {
        if (stopRequested(stopEvent)) {
            LogDebugA("Check ended early: the service stops");
            return 0;
        }
        FolderListing listing;
        try {
            listing = listCandidateFolder(row.folder, rowStems(row), allStems);
            s_checkTrouble.recovered(row.folder);
        } catch (const std::system_error& e) {
            // The other folders are still checked; this one again within two seconds.
            s_checkTrouble.failed(row.folder, static_cast<DWORD>(e.code().value()));
            complete = false;
            continue;
        }
        s_handled.keepOnlyListed(row.folder, listing.offending);
        for (const std::wstring& path : listing.offending) {
            if (stopRequested(stopEvent)) {
                LogDebugA("Check ended early: the service stops");
                return 0;
            }
            actOnOutcome(path, renameListedFile(path, listing.takenNames));
        }
    }
    s_retryDue = !complete;
    return 0;
}

bool checkIsDueAgain()
{
    return s_retryDue.load();
}

}}} // namespace tamselsvc::model::service
