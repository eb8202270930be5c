#include "_model/_service/Countermeasure.h"

#include "_model/_service/MessageStrings.h"
#include "_model/_service/NameRules.h"
#include "_model/_service/RenameError.h"
#include "_process/NotificationLaunch.h"
#include "_win32/DetachedThread.h"
#include "_win32/LogDebug.h"
#include "_win32/ReportAppEvent.h"
#include "_win32/SrwLock.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <unordered_set>

namespace tamselsvc { namespace model { namespace service {

using Corvane::Orlin::LogDebugA;

FatalGate g_fatalGate;

namespace {

void startDetachedThread(std::function<void()> body)
{
    Corvane::Orlin::StartDetachedThread(std::move(body));
}

std::atomic<ThreadStartFn> s_startThread{&startDetachedThread};
std::atomic<MoveFileExFn> s_moveFileEx{&::MoveFileExW};
std::atomic<ReportFn> s_report{&Corvane::Orlin::ReportAppEvent};

// Held for a whole pass: two passes that reach the same file must not both try to rename
// it, or the loser's failed rename would turn into Failed records and a "/fatal" notice.
Corvane::Orlin::SrwLock s_passLock;

// The immediate rename. No MOVEFILE_REPLACE_EXISTING: a file that appears under the new
// name between the listing and the rename must make the rename fail (and the scheduled
// rename take over), not be overwritten and lost.
constexpr DWORD kRenameNowFlags = MOVEFILE_COPY_ALLOWED;

void report(const std::wstring& text, WORD eventType)
{
    s_report.load()(text, eventType, 0);
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
    s_startThread.load()(std::move(body));
}

void startNotifyViaSession(const std::wstring& filePath)
{
    startNotification([filePath] {
        guarded("notifyActiveUser", [&] { currentNoticeLauncher().notifyActiveUser(filePath, std::wstring()); });
    });
}

void giveRestartNotice(const std::wstring& filePath)
{
    if (!process::g_restartPending.exchange(true)) {
        // The first scheduled action of the process: shown without the gate.
        const std::wstring noticeSwitch = process::currentMessageSwitch();
        startNotification([noticeSwitch, filePath] {
            guarded("launchDialog", [&] { currentNoticeLauncher().launchDialog(noticeSwitch, filePath); });
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

void actOnOutcome(const std::wstring& path, const RenameOutcome& outcome)
{
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
        if (s_moveFileEx.load()(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            reportDeleteScheduled(path);
            giveRestartNotice(path);
        } else {
            reportSchedulingFailed(GetLastError());
        }
        break;
    }
}

std::vector<std::wstring> candidateStems(const CandidateTable* table)
{
    std::vector<std::wstring> stems;
    if (table) {
        for (const CandidateFolder& row : *table) {
            for (const std::wstring& file : row.files) {
                stems.push_back(lowerStemOfPath(file));
            }
        }
    }
    return stems;
}

} // namespace

void setThreadStartForTesting(ThreadStartFn fn)
{
    s_startThread.store(fn ? fn : &startDetachedThread);
}

void setMoveFileExForTesting(MoveFileExFn fn)
{
    s_moveFileEx.store(fn ? fn : &::MoveFileExW);
}

void setReportForTesting(ReportFn fn)
{
    s_report.store(fn ? fn : &Corvane::Orlin::ReportAppEvent);
}

PathPredicate sameStemAsCandidate(const CandidateFolder& row)
{
    std::vector<std::wstring> stems;
    for (const std::wstring& file : row.files) {
        stems.push_back(lowerStemOfPath(file));
    }
    return [stems](const std::wstring& path) { return stemEqualsAny(path, stems); };
}

PathPredicate stemContainsCandidate(std::vector<std::wstring> lowerStems)
{
    return [stems = std::move(lowerStems)](const std::wstring& path) { return stemContainsAny(path, stems); };
}

void notifyFatal(const std::wstring& filePath)
{
    guarded("launchDialog", [&] { currentNoticeLauncher().launchDialog(process::kNoticeFatal, filePath); });
    g_fatalGate.release();
}

RenameOutcome renameOffendingFile(const std::wstring& path)
{
    const std::wstring parent = parentOf(path);
    const std::wstring fileName = fileNameOf(path);

    std::unordered_set<std::wstring> taken;
    for (const std::wstring& listed :
         listMatchingFiles(parent, stemContainsCandidate(candidateStems(g_activeCandidates.load())))) {
        taken.insert(lowerStemOfPath(listed));
    }
    const std::wstring newPath = findFreeNumberedName(parent, stemOf(fileName), extensionOf(fileName), taken);
    if (newPath.empty()) {
        return {RenameResult::NoFreeName, std::wstring()};
    }

    const MoveFileExFn moveFileEx = s_moveFileEx.load();
    std::wstring description;
    try {
        if (!moveFileEx(path.c_str(), newPath.c_str(), kRenameNowFlags)) {
            throw RenameError(GetLastError(), path, newPath);
        }
        reportRenamed(path, newPath);
        return {RenameResult::Renamed, newPath};
    } catch (const std::exception& e) {
        description = descriptionToWide(e.what());
    } catch (...) {
        description = L"Unknown exception";
    }
    report(description, EVENTLOG_ERROR_TYPE);

    if (moveFileEx(path.c_str(), newPath.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT)) {
        reportRenameScheduled(path, newPath);
        return {RenameResult::RenameScheduled, newPath};
    }
    reportSchedulingFailed(GetLastError());
    return {RenameResult::Failed, std::wstring()};
}

int checkAllCandidates()
{
    const CandidateTable* table = g_activeCandidates.load();
    if (!table) {
        return 1;
    }
    std::lock_guard<Corvane::Orlin::SrwLock> pass(s_passLock);
    for (const CandidateFolder& row : *table) {
        for (const std::wstring& path : listMatchingFiles(row.folder, sameStemAsCandidate(row))) {
            actOnOutcome(path, renameOffendingFile(path));
        }
    }
    return 0;
}

}}} // namespace tamselsvc::model::service
