#pragma once
// The operations Windows carries out at the next restart: the value
// PendingFileRenameOperations under HKLM\SYSTEM\CurrentControlSet\Control\Session Manager,
// pairs of NT paths (source, target; an empty target deletes the source; a target that
// starts with "!" replaces what is there). The countermeasure schedules by path, as the
// system has it (MoveFileExW with MOVEFILE_DELAY_UNTIL_REBOOT, given the extended path
// forms so that the entry is named as it was listed), and never adds an operation that is
// there already (names compared as Windows compares them, without regard to case): Windows
// reads the whole value at boot, and a file that stays held must not make it grow pass
// after pass, service start after service start.
// Every call goes through countermeasurePorts.

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

// Schedules the rename of `path` to `newPath` (plain full paths) for the restart. 0 when it
// is scheduled, also when that very operation was there already (nothing is added then);
// otherwise the Win32 error of the scheduling.
DWORD scheduleRenameAtRestart(const std::wstring& path, const std::wstring& newPath);
// The same for the deletion of `path`.
DWORD scheduleDeletionAtRestart(const std::wstring& path);

// The pairs of the value's strings, in order; a last string without a partner (the list's
// own terminator) is dropped.
std::vector<std::pair<std::wstring, std::wstring>> restartOperations(const std::vector<std::wstring>& strings);
// Whether two names are one for Windows: ordinal, without regard to case.
bool sameName(const std::wstring& a, const std::wstring& b);
// Whether `operations` holds the rename of `ntSource` to `ntTarget` ("!" before the target
// or not), or, for an empty `ntTarget`, the deletion of `ntSource`. Names are compared
// without regard to case, as Windows compares them (an ordinal comparison by the system's
// upper-case table).
bool holdsRestartOperation(const std::vector<std::pair<std::wstring, std::wstring>>& operations,
                           const std::wstring& ntSource, const std::wstring& ntTarget);

// The real reader of the value, for countermeasurePorts.
bool readPendingFileRenameOperations(std::vector<std::wstring>& strings);

}}} // namespace tamselsvc::model::service
