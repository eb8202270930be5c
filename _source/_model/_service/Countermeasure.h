#pragma once
// The check that finds offending files in the candidate folders and moves them out of the
// way: renamed at once to the first free numbered name (C:\Program -> C:\Program1), or,
// when that fails, renamed at the next restart; deleted at the next restart when no
// numbered name is free. Every action writes one record under "brimlock"; then, as a rule,
// a detached notification thread tells the user at the console.
//
// One pass at a time: a pass holds one lock from start to end, so passes started at the
// same time on several threads run one after the other, and the second finds only what
// the first left.

#include "_model/_service/CandidateTable.h"
#include "_model/_service/FatalGate.h"
#include "_model/_service/NoticeLauncher.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

enum class RenameResult : std::int32_t {
    Renamed = 0,         // renamed at once
    RenameScheduled = 1, // immediate rename failed; the same rename is scheduled for the restart
    Failed = 2,          // immediate rename and its scheduling both failed
    NoFreeName = 3,      // none of the 100 numbered names was free; nothing done yet
};

struct RenameOutcome {
    RenameResult result;
    std::wstring newPath; // for Renamed and RenameScheduled; empty otherwise
};

using PathPredicate = std::function<bool(const std::wstring& path)>;

// One full pass over the chosen table. 0 after a complete pass; 1, doing nothing, when no
// table is chosen. Raises what ends a pass early (a folder that cannot be read, memory,
// a notification thread that cannot be started, a description that cannot be converted);
// files handled before that stay handled and their notification threads keep running.
int checkAllCandidates();

// Handles one offending file: the name search over its folder, the immediate rename
// (which never replaces an existing file), and on failure the scheduled rename. Writes
// the records of the rename itself; starts no notification.
RenameOutcome renameOffendingFile(const std::wstring& path);

// Full paths of the folder's entries, in the order the file system gives them, that are
// not folders (following links and junctions) and satisfy `predicate`. Links to files and
// dangling links count as files. A missing folder (or a file where the folder should be)
// gives an empty list; any other failure to enumerate, or to learn whether a matching
// entry is a folder, raises std::system_error.
std::vector<std::wstring> listMatchingFiles(const std::wstring& folder, const PathPredicate& predicate);

// True for a path whose lower-cased stem equals that of one of `row.files`.
PathPredicate sameStemAsCandidate(const CandidateFolder& row);
// True for a path whose lower-cased stem contains one of `lowerStems`.
PathPredicate stemContainsCandidate(std::vector<std::wstring> lowerStems);

// Body of a "/fatal" notification thread: the dialog, then the release of g_fatalGate,
// whether the dialog was shown or raised an error (which is logged, not passed on).
void notifyFatal(const std::wstring& filePath);

// ---- Seams for tests (nullptr restores the real function) ----

// Starts a detached thread running `body`; raises std::system_error when it cannot.
using ThreadStartFn = void (*)(std::function<void()> body);
void setThreadStartForTesting(ThreadStartFn fn);

using MoveFileExFn = BOOL(WINAPI*)(LPCWSTR existingFileName, LPCWSTR newFileName, DWORD flags);
void setMoveFileExForTesting(MoveFileExFn fn);

// Where the records go instead of ReportAppEvent.
using ReportFn = void (*)(const std::wstring& text, WORD eventType, DWORD eventId);
void setReportForTesting(ReportFn fn);

}}} // namespace tamselsvc::model::service
