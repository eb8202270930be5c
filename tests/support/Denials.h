#pragma once
// Refusals that Wine can really give, for tests of a service that must keep going:
// a file that cannot be renamed (immutable on the Linux side, so even LocalSystem gets
// ERROR_ACCESS_DENIED) and a registry that refuses the scheduling of renames for the
// restart (a deny entry on the Session Manager key, which Wine's server enforces).

#include <windows.h>

#include <string>
#include <vector>

namespace brimlock_test {

// Sets or clears the Linux immutable attribute of a file in the prefix (chattr). False
// when that is not possible here (no chattr, not root, a file system without it); the
// caller then skips.
bool setImmutable(const std::wstring& path, bool on);
// Makes an empty file and sets the attribute in one host command, quicker than a watching
// service's one-second pause. False as above (the file may then exist, not immutable).
bool createImmutableFile(const std::wstring& path);

// While it lives, nobody may set values under
// HKLM\System\CurrentControlSet\Control\Session Manager, so MoveFileExW with
// MOVEFILE_DELAY_UNTIL_REBOOT fails. The key's own access list is put back when it goes.
class PendingRenamesDenied {
public:
    PendingRenamesDenied();
    ~PendingRenamesDenied();
    PendingRenamesDenied(const PendingRenamesDenied&) = delete;
    PendingRenamesDenied& operator=(const PendingRenamesDenied&) = delete;

    bool ok() const { return _ok; }
    DWORD error() const { return _error; }

private:
    std::vector<BYTE> _saved; // the key's security descriptor (DACL) as it was
    bool _ok = false;
    DWORD _error = 0;
};

} // namespace brimlock_test
