#pragma once
// The records of the report of unquoted registrations, under the source "brimlock". Only
// reports: it never renames, deletes or writes a file or a registry value.
//
// A scan visits every registration (RegistrationScan.h) and, for each one that is unquoted
// with spaces (UnquotedCommandLine.h) and was not reported before by this reporter with the
// same place, name and text:
// - one information record, the finding: the name and place, the text as stored, the paths
//   Windows tries before the real program (each marked when ordinary users can create files
//   in its folder, FolderAccess.h), and the command that quotes it;
// - then one warning record for each of those paths that exists now as a file, a program
//   that Windows would start in place of the registered one. A file in one of the guard's
//   own candidate folders with a candidate's stem gets none: the guard renames it and
//   records that itself.
// Files and folders are looked at only for paths on a fixed local drive ("X:\..."), so
// that a scan never waits on the network or on a removable drive.
// The first scan can end with the summary: one information record with the number of
// registrations checked and of those found unquoted with spaces.

#include "_model/_service/_report/RegistrationScan.h"
#include "_win32/Ports.h"

#include <windows.h>

#include <functional>
#include <string>
#include <unordered_set>

namespace tamselsvc { namespace model { namespace service {

// What a scan asks of the system; tests swap it whole (Ports.h).
struct ReportScanPorts {
    bool (*enumerateRegistrations)(RegistrationVisitor& visitor);
    UINT(WINAPI* getDriveType)(LPCWSTR root);
    DWORD(WINAPI* getFileAttributes)(LPCWSTR path);
    // The folder's DACL, owned by the caller (LocalFree); null when it cannot be read.
    PSECURITY_DESCRIPTOR (*readFolderSecurity)(const wchar_t* folder);
    // One record under "brimlock" (ReportAppEvent).
    void (*report)(const std::wstring& text, WORD eventType, DWORD eventId);
};
extern Corvane::Orlin::Ports<ReportScanPorts> reportScanPorts;

class ReportScan {
public:
    struct Counts {
        unsigned checked = 0;  // registrations visited
        unsigned found = 0;    // of them unquoted with spaces
        unsigned reported = 0; // of them reported by this scan (new or changed)
    };

    // One scan, with the summary record at its end when `withSummary`. `stopRequested` is
    // asked before each registration; when it says yes the scan ends at once, writes no
    // summary and returns false. Whatever was reported stays remembered. Registrations
    // found unquoted before and not found now (fixed or removed) are forgotten, so that
    // one made again is reported again.
    bool scan(const std::function<bool()>& stopRequested, bool withSummary);

    // The figures of the last scan.
    const Counts& counts() const { return _counts; }

private:
    std::unordered_set<std::wstring> _reported; // place, name and stored text of each finding
    Counts _counts;
};

}}} // namespace tamselsvc::model::service
