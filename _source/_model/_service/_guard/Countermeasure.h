#pragma once
// The check that finds offending files in the candidate folders and moves them out of the
// way: renamed at once to the first free numbered name (C:\Program -> C:\Program1), or,
// when that fails, renamed at the next restart. When no numbered name can be had (all
// taken, or too long), the file is renamed at once to a name nobody can take in advance
// (its stem, a hyphen and sixteen random hexadecimal digits, then its extension); only
// when that fails too is its deletion scheduled for the restart. Every action writes one
// record under "brimlock"; then, as a rule, a detached notification thread tells the user
// at the console.
//
// A pass lists each candidate folder once; that one listing gives both the offending files
// and the names already taken in the folder, by any entry (file, folder or link), and the
// names the pass takes are added as it takes them. Each offending file is opened once and
// renamed through that handle (OffendingEntry.h): a folder is never moved, a link is
// renamed as the link, nothing is ever replaced, and a name that something takes between
// the listing and the rename makes the rename go on to the next free number.
//
// Once per file and outcome: a file that could not be moved at once is recorded, scheduled
// and notified the first time a pass of this process finds it with that outcome; later
// passes try the immediate rename again and stay silent while the outcome stays the same
// (HandledFiles.h); a notice that found its gate held is tried again by the next pass. A
// scheduled rename whose new name something takes later is scheduled anew to a name free
// then. A path that keeps failing, whatever file sits there, writes at most one set of
// records and gives one notice in ten minutes (FloodWindow.h); renames done at once are
// always recorded. A restart operation that is already scheduled is not added again, not
// even by a new service process (RestartList.h).
//
// A folder that cannot be listed does not end the pass: the other folders are checked, one
// warning record names the folder and the error (once, until it can be listed again), and
// checkIsDueAgain() asks the watchers for another pass within two seconds.
//
// One pass at a time: a pass holds one lock from start to end, so passes started at the
// same time on several threads run one after the other, and the second finds only what
// the first left.

#include "_model/_service/CandidateTable.h"
#include "_model/_service/_guard/CountermeasurePorts.h"
#include "_model/_service/_guard/FatalGate.h"

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
    NoFreeName = 3,      // no numbered name could be had and the rename to a random name
                         // failed too; nothing scheduled yet
    LeftAlone = 4,       // by the time it was opened: gone, a folder, or a name the system
                         // refuses as a path; nothing done, nothing recorded (one diagnostic line)
};

struct RenameOutcome {
    RenameResult result;
    std::wstring newPath; // for Renamed and RenameScheduled; empty otherwise
    // RenameScheduled or Failed that this file already gave in this process: nothing was
    // scheduled or recorded now, and no notice is due.
    bool repeated = false;
};

// One full pass over the chosen table. 0 after a pass, and after a pass that `stopEvent`
// (when given) ended early: it is tested before each folder and each file, so a stop ends
// the pass before the next file, never in the middle of a rename. 1, doing nothing, when no
// table is chosen. Raises what ends a pass early (memory, the notification thread of a
// rename that cannot be started); files handled before that stay handled and their
// notification threads keep running.
int checkAllCandidates(HANDLE stopEvent = nullptr);

// True while the last pass could not list every folder, or ended on an error: another
// pass is due soon (the watchers run one within two seconds).
bool checkIsDueAgain();

// Handles one offending file as a pass does (it lists the file's folder for the taken
// names first): the immediate rename, and on failure the scheduled rename, with their
// records; no deletion and no notification. Takes the pass lock.
RenameOutcome renameOffendingFile(const std::wstring& path);

// Why a file is moved when it is not a candidate of the table: it stands at a path that
// Windows tries before a registration's real program (RegistrationGuard.h).
struct InFrontOf {
    std::wstring registration; // "name" (place), as the records show it
    // Asked on the opened entry right before each move (and before a move is scheduled):
    // false leaves the file alone, as it has become the registration's real program.
    // `identity` is OffendingEntry::identity() ("" when the entry could not be opened).
    std::function<bool(const std::wstring& identity)> mayMove;
};

// Moves the file at `path` out of the way exactly as a pass moves an offending file (the
// same open, renames, restart fallback, once-per-file memory, flood bound and notices),
// with records that name `why.registration`. Lists the file's folder for the taken names
// first; takes the pass lock. LeftAlone when `why.mayMove` says no. Raises what a pass
// raises; what was done before stays done.
RenameOutcome moveFileInFront(const std::wstring& path, const InFrontOf& why);

// Body of a "/fatal" notification thread: the dialog, then the release of g_fatalGate,
// whether the dialog was shown or raised an error (which is logged, not passed on).
void notifyFatal(const std::wstring& filePath);

}}} // namespace tamselsvc::model::service
