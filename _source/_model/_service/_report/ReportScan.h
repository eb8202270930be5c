#pragma once
// The records of the report of unquoted registrations, under the source "brimlock". Only
// reports: it never renames, deletes or writes a file or a registry value.
//
// A scan visits every registration (RegistrationScan.h, then ScheduledTasks.h) and, for each one that is unquoted
// with spaces (UnquotedCommandLine.h) and was not reported before by this reporter with the
// same place, name and text:
// - one information record, the finding: the name and place, the text as stored, the paths
//   Windows tries before the real program (the longest prefix that exists; each path
//   marked when ordinary users can create files in its folder, FolderAccess.h), and the
//   command that quotes exactly that program. When no prefix exists, every tried path and
//   no command; when no command can be typed safely at cmd, the value to set instead.
//   Bounded: at most kMaxListedPaths paths ("... and N more"), the stored text and the
//   name shown up to a few thousand characters, the record under kMaxRecordChars;
// - then one warning record for each shorter prefix that exists now as a file, a program
//   that Windows would start in place of the registered one. A file in one of the guard's
//   own candidate folders with a candidate's stem gets none: the guard renames it and
//   records that itself.
// A registration whose check fails (out of memory, say) gets one warning record naming it,
// once, and the scan goes on with the next.
// Files and folders are looked at only for paths on a fixed local drive ("X:\..."), so
// that a scan never waits on the network or on a removable drive, and as the 64-bit system
// sees them: the real ports turn file-system redirection off around each look-up, on the
// report's own thread, and back on at once.
// The first scan that reads the registrations through can end with the summary: one
// information record with the number of registrations checked and of those found unquoted
// with spaces. A scan whose listing fails is no empty scan: it writes no summary, keeps the
// set already reported, and gives one warning record with the error code (once, until a
// scan succeeds again); the caller tries again.
// A reporter made without records (the guard's switch alone) writes none of these: its
// scans only fill the guard's set.
// The guard's set (GuardedPaths.h): each path tried before the real program of each
// unquoted registration, when it lies on a fixed local drive, is a guarded path; the rest
// is named with its reason. Bounded by kMaxGuardedPaths.

#include "_model/_service/GuardedPaths.h"
#include "_model/_service/_report/RegistrationScan.h"
#include "_model/_service/_report/ScheduledTasks.h"
#include "_win32/Ports.h"

#include <windows.h>

#include <functional>
#include <string>
#include <unordered_set>

namespace tamselsvc { namespace model { namespace service {

// What a scan asks of the system; tests swap it whole (Ports.h).
struct ReportScanPorts {
    // 0, ERROR_CANCELLED when the visitor ended it, or the error that cut the listing short.
    DWORD (*enumerateRegistrations)(RegistrationVisitor& visitor);
    // The same for the program actions of the scheduled tasks (ScheduledTasks.h), listed after
    // the registry's.
    DWORD (*enumerateScheduledTasks)(RegistrationVisitor& visitor);
    UINT(WINAPI* getDriveType)(LPCWSTR root);
    DWORD(WINAPI* getFileAttributes)(LPCWSTR path);
    // The folder's DACL, owned by the caller (LocalFree); null when it cannot be read.
    PSECURITY_DESCRIPTOR (*readFolderSecurity)(const wchar_t* folder);
    // One record under "brimlock" (ReportAppEvent).
    void (*report)(const std::wstring& text, WORD eventType, DWORD eventId);
};
extern Corvane::Orlin::Ports<ReportScanPorts> reportScanPorts;

// Characters in one record: ReportEventW refuses strings of about 32K characters.
constexpr std::size_t kMaxRecordChars = 31000;

class ReportScan {
public:
    explicit ReportScan(bool withRecords = true) : _withRecords(withRecords) {}

    struct Counts {
        unsigned checked = 0;  // registrations visited
        unsigned found = 0;    // of them unquoted with spaces
        unsigned reported = 0; // of them reported by this scan (new or changed)
    };

    // One scan, with the summary record at its end when `withSummary`; true when it read
    // every registration. `stopRequested` is asked before each registration; when it says
    // yes the scan ends at once, writes no summary and returns false; so does a scan whose
    // listing failed (see above; failed() tells). Whatever was reported stays remembered.
    // After a whole scan, registrations found unquoted before and not found now (fixed or
    // removed) are forgotten, so that one made again is reported again.
    // With `guarded`, a scan that returns true has filled it with the guard's set (a scan
    // in which a registration's check failed also returns true but leaves `guarded`
    // unsettled(): not a set to act on).
    bool scan(const std::function<bool()>& stopRequested, bool withSummary, GuardedSet* guarded = nullptr);

    // The last scan could not check every registration (its check raised): its set of
    // guarded paths is not complete.
    bool unsettled() const { return _unsettled; }

    // The last scan's listing failed: try again later.
    bool failed() const { return _failing; }

    // The figures of the last scan.
    const Counts& counts() const { return _counts; }

private:
    std::unordered_set<std::wstring> _reported; // place, name and stored text of each finding
    Counts _counts;
    bool _failing = false; // the last scan's listing failed (and said so once)
    bool _unsettled = false;
    bool _withRecords;
};

}}} // namespace tamselsvc::model::service
