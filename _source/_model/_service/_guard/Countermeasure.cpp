#include "_model/_service/_guard/Countermeasure.h"

#include "_model/_service/MessageStrings.h"
#include "_model/_service/Paths.h"
#include "_model/_service/_guard/FolderListing.h"
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

namespace tamselsvc { namespace model { namespace service {

using Corvane::Orlin::LogDebugA;
using Corvane::Orlin::LogDebugW;

namespace {

// Held for a whole pass: two passes that reach the same file must not both try to rename
// it, or the loser's failed rename would turn into Failed records and a "/fatal" notice.
// It also guards s_handled.
Corvane::Orlin::SrwLock s_passLock;
HandledFiles s_handled;

void report(const std::wstring& text, WORD eventType)
{
    countermeasurePorts().report(text, eventType, 0);
}

std::wstring quotedPair(const std::wstring& oldPath, const std::wstring& newPath)
{
    return L"\"" + oldPath + L"\" -> \"" + newPath + L"\"";
}

void reportRenamed(const std::wstring& oldPath, const std::wstring& newPath)
{
    report(messageString(IDS_MESSAGE_RENAMED) + quotedPair(oldPath, newPath), EVENTLOG_WARNING_TYPE);
}

void reportRenameScheduled(const std::wstring& oldPath, const std::wstring& newPath)
{
    report(messageString(IDS_MESSAGE_RENAME_SCHEDULED) + quotedPair(oldPath, newPath), EVENTLOG_WARNING_TYPE);
}

void reportDeleteScheduled(const std::wstring& path)
{
    report(messageString(IDS_MESSAGE_DELETE_SCHEDULED) + L"\"" + path + L"\"", EVENTLOG_WARNING_TYPE);
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

void giveRestartNotice(const std::wstring& filePath)
{
    if (!process::g_restartPending.exchange(true)) {
        // The first scheduled action of the process: shown without the gate.
        const std::wstring noticeSwitch = process::currentMessageSwitch();
        startNotification([noticeSwitch, filePath] {
            guarded("launchDialog", [&] { countermeasurePorts().launchDialog(noticeSwitch, filePath); });
        });
        return;
    }
    // Only a test: the notification thread takes the gate for its own dialog and must not
    // find it still held here.
    if (!process::g_launchGate.try_lock()) {
        return;
    }
    process::g_launchGate.unlock();
    try {
        startNotifyViaSession(filePath);
    } catch (...) {
        // A later restart notice is a repetition; losing it does not end the pass.
    }
}

void startFatalNotice(const std::wstring& filePath)
{
    if (!g_fatalGate.tryAcquire()) {
        return; // a fatal notice is on screen or starting
    }
    try {
        startNotification([filePath] { notifyFatal(filePath); });
    } catch (...) {
        // No thread will release the gate: release it here, or no fatal notice would
        // ever be shown again in this process.
        g_fatalGate.release();
        throw;
    }
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
    default:
        return L"a name the system refuses as a path";
    }
}

FileHandling renameListedFile(const std::wstring& path, std::unordered_set<std::wstring>& taken)
{
    OffendingEntry entry(path);
    FileHandling handling{{RenameResult::LeftAlone, std::wstring()}, entry.identity()};
    const OffendingEntry::State state = entry.state();
    if (state != OffendingEntry::State::Open && state != OffendingEntry::State::Refused) {
        LogDebugW(L"Left alone, %s (%lu): %s\n", leftAloneReason(state), entry.openError(), path.c_str());
        s_handled.forget(path);
        return handling;
    }

    const std::wstring parent = parentOf(path);
    const std::wstring fileName = fileNameOf(path);
    const std::wstring stem = stemOf(fileName);
    const std::wstring extension = extensionOf(fileName);
    std::wstring newPath;
    DWORD error = 0;
    // A name taken since the listing (the rename finds it there) is taken for the rest of
    // the pass too; the search goes on with the next number, on the same open entry.
    do {
        newPath = findFreeNumberedName(parent, stem, extension, taken);
        if (newPath.empty()) {
            handling.outcome.result = RenameResult::NoFreeName;
            return handling;
        }
        error = entry.renameTo(newPath);
    } while (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS);
    entry.close(); // others may use the file (under its new name) from here on

    if (error == 0) {
        s_handled.forget(path);
        handling.outcome = {RenameResult::Renamed, newPath};
        // The file has moved: whatever its record does, the outcome is a rename.
        try {
            reportRenamed(path, newPath);
        } catch (const std::exception& e) {
            LogDebugA("The record of a rename failed: %s", e.what());
        } catch (...) {
            LogDebugA("The record of a rename failed: unknown exception");
        }
        return handling;
    }

    const std::wstring& identity = handling.identity;
    if (s_handled.gave(path, identity, HandledKind::RenameScheduled)) {
        // Scheduled already; the immediate rename was tried again and failed again.
        handling.outcome = {RenameResult::RenameScheduled, newPath, true};
        return handling;
    }
    const DWORD schedulingError = scheduleRenameAtRestart(path, newPath);
    const HandledKind kind = schedulingError == 0 ? HandledKind::RenameScheduled : HandledKind::Failed;
    handling.outcome = schedulingError == 0 ? RenameOutcome{RenameResult::RenameScheduled, newPath}
                                            : RenameOutcome{RenameResult::Failed, std::wstring()};
    if (s_handled.gave(path, identity, kind)) {
        handling.outcome.repeated = true;
        return handling;
    }
    s_handled.remember(path, identity, kind);
    report(renameErrorDescription(error, path, newPath), EVENTLOG_ERROR_TYPE);
    if (schedulingError == 0) {
        reportRenameScheduled(path, newPath);
    } else {
        reportSchedulingFailed(schedulingError);
    }
    return handling;
}

// The deletion at the restart of a file for which no numbered name is free: scheduled,
// recorded and notified once per file and outcome.
void scheduleDeletion(const std::wstring& path, const std::wstring& identity)
{
    if (s_handled.gave(path, identity, HandledKind::DeletionScheduled)) {
        return;
    }
    const DWORD error = scheduleDeletionAtRestart(path);
    const HandledKind kind = error == 0 ? HandledKind::DeletionScheduled : HandledKind::DeletionFailed;
    if (s_handled.gave(path, identity, kind)) {
        return;
    }
    s_handled.remember(path, identity, kind);
    if (error == 0) {
        reportDeleteScheduled(path);
        giveRestartNotice(path);
    } else {
        reportSchedulingFailed(error);
    }
}

void notify(const std::wstring& path, const FileHandling& handling)
{
    const RenameOutcome& outcome = handling.outcome;
    switch (outcome.result) {
    case RenameResult::Renamed:
        startNotifyViaSession(path);
        break;
    case RenameResult::RenameScheduled:
        giveRestartNotice(path);
        break;
    case RenameResult::Failed:
        startFatalNotice(path);
        break;
    case RenameResult::NoFreeName:
        scheduleDeletion(path, handling.identity);
        break;
    case RenameResult::LeftAlone:
        break;
    }
}

void actOnOutcome(const std::wstring& path, const FileHandling& handling)
{
    if (handling.outcome.repeated) {
        return;
    }
    try {
        notify(path, handling);
    } catch (...) {
        // The notice could not be started (the pass ends here): the next pass takes the
        // file as new, so that its notice is not lost for good.
        s_handled.forget(path);
        throw;
    }
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

int checkAllCandidates(HANDLE stopEvent)
{
    const CandidateTable* table = g_activeCandidates.load();
    if (!table) {
        return 1;
    }
    std::lock_guard<Corvane::Orlin::SrwLock> pass(s_passLock);
    const std::vector<std::wstring> allStems = candidateStems(table);
    for (const CandidateFolder& row : *table) {
        if (stopRequested(stopEvent)) {
            LogDebugA("Check ended early: the service stops");
            return 0;
        }
        FolderListing listing = listCandidateFolder(row.folder, rowStems(row), allStems);
        s_handled.keepOnlyListed(row.folder, listing.offending);
        for (const std::wstring& path : listing.offending) {
            if (stopRequested(stopEvent)) {
                LogDebugA("Check ended early: the service stops");
                return 0;
            }
            actOnOutcome(path, renameListedFile(path, listing.takenNames));
        }
    }
    return 0;
}

}}} // namespace tamselsvc::model::service
