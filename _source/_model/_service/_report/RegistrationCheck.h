#pragma once
// One registration checked as the system that starts it would: which paths Windows tries
// before its real program, which of them are files now, which of their folders ordinary
// users can create files in, and how to quote it. What the report writes, and what every
// other reader of the registrations (the guard, a console scan) acts on, comes from here,
// so that all of them see one list.
//
// Files and folders are looked at only for paths on a fixed local drive ("X:\..."), so that
// a check never waits on the network or on a removable drive, and, through the ports, as
// the 64-bit system sees them (ReportScan.h). A name without a drive or root is looked for
// in the system and Windows folders, where programs named that way live.
//
// Failure: std::bad_alloc from either call leaves the object usable for the next
// registration; nothing else is raised. Not thread-safe: one object per thread.

#include "_model/_service/_report/Registration.h"
#include "_model/_service/_report/UnquotedCommandLine.h"

#include <windows.h>

#include <string>
#include <unordered_map>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

struct ReportScanPorts;

// What a check learns about one tried path.
struct PathFacts {
    bool isFile = false;         // a file is there now
    bool usersCanCreate = false; // ordinary users can create files in its folder
};

// An unquoted registration with spaces, as checked.
struct Finding {
    Registration registration;
    ProgramSearch search;
    std::vector<PathFacts> tried;   // one per search.triedBefore, in order
    std::vector<PathFacts> planted; // one per search.planted, in order
    std::wstring value;             // quotedValue: "" when the program was not found
    std::wstring command;           // quotingCommand: "" when none can be typed at cmd
};

class RegistrationCheck {
public:
    // `ports` (getDriveType, getFileAttributes, readFolderSecurity) must outlive this object.
    explicit RegistrationCheck(const ReportScanPorts& ports);

    // How Windows searches the registration's command line; one look-up per prefix.
    ProgramSearch search(const Registration& registration);

    // The facts of an unquoted registration with spaces (isUnquotedWithSpaces(search)).
    // Drive types and folder access are asked once per object, so a scan that keeps one
    // object asks each folder once.
    Finding finding(const Registration& registration, ProgramSearch search);

    // "X:\..." on a fixed (or RAM) drive.
    bool onLocalFixedDrive(const std::wstring& path);

    // What is known of one of `search`'s paths (both false off a fixed local drive).
    PathFacts factsOf(const std::wstring& path, const ProgramSearch& search);

private:
    bool isFile(const std::wstring& path);

    const ReportScanPorts& _ports;
    std::unordered_map<wchar_t, UINT> _driveTypes;
    std::unordered_map<std::wstring, bool> _folders;
    std::vector<std::wstring> _searchFolders; // the system folder and the Windows folder
};

}}} // namespace tamselsvc::model::service
