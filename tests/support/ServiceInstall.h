#pragma once
// The service installed as a customer's PC has it: both programs in the product folder of
// this Windows, the service entry "tamselsvc" made with sc.exe, and what its run leaves
// (renamed files, pending operations, dialogs) cleaned up afterwards.

#include "DriveC.h"
#include "RecordTexts.h"
#include "TestService.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace brimlock_test {

// "C:\Program Files\Corvane\Quarrow Link" on 32-bit Windows,
// "C:\Program Files (x86)\Corvane\Quarrow Link" on 64-bit Windows.
std::wstring productFolder();
// Its parent, the maker's folder that is watched: "...\Corvane".
std::wstring makerFolder();

// The boot log of this prefix, where Wine's eventlog channel of the service lands.
class BootLog {
public:
    BootLog();
    // Text appended since construction (or the last mark()).
    std::string fresh() const;
    void mark();
    // Waits until the fresh text contains `fragment`, at most `timeoutMs`.
    bool waitFor(const std::string& fragment, DWORD timeoutMs) const;
    size_t count(const std::string& fragment) const;

private:
    std::wstring _path;
    unsigned long long _offset = 0;
};

// Installs the programs (`dialogProgram`: the built file to install as brimlockdlg.exe)
// and creates the entry with `sc create`. Deletes the entry and the folder when it goes.
class InstalledService {
public:
    explicit InstalledService(const std::wstring& dialogProgram = L"brimlockdlg.exe");
    ~InstalledService();
    bool ok() const { return _ok; }
    const std::string& error() const { return _error; }
    TestService& scm() { return *_service; }

private:
    bool _ok = false;
    std::string _error;
    std::unique_ptr<TestService> _service;
};

// Runs sc.exe with the arguments; returns its exit code (0xFFFFFFFF when it did not run).
DWORD runSc(const std::wstring& arguments, std::string* output = nullptr);

// The installed dialog program: productFolder() + "\\brimlockdlg.exe".
std::wstring installedDialogPath();

// Ends every running copy of the program file `imagePath` (dialogs left open by a test),
// by its process id. Copies of the same name elsewhere (the built program that tests of
// other suites start in the same prefix) are left running.
void endProcesses(const std::wstring& imagePath);

// Sets the service's switch `name` (HKLM\SOFTWARE\Corvane\Tamsel, 64-bit view) to the
// DWORD 1, or deletes it. The service reads its switches once, when it starts. False when
// the value cannot be written or deleted.
bool setServiceSwitch(const wchar_t* name, bool on);

// Renames by the running service, ten per pass: C:\Program.r0 to C:\Program.r9 (one stem)
// are made and, once the service has renamed them all (15 s at most), the renamed files are
// removed, so that the next round starts from number 1 again; until `total` are renamed.
// Returns how many were; a round not done in time ends it early.
int renameInRounds(int total);

// The wait between RUNNING and a stop at a random moment: `waitMs` in all; with `plant`,
// C:\Program is made half-way (C:\Program1 removed first), so that the stop lands in the
// watcher's one-second pause or in the pass after it.
void waitBeforeStop(DWORD waitMs, bool plant);

} // namespace brimlock_test
