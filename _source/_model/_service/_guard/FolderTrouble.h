#pragma once
// The records of a candidate folder that cannot be watched or checked: one warning record
// under "brimlock" when the trouble starts (naming the folder and the Windows error), none
// while it stays the same, another when the cause changes, and one information record when
// the folder is fine again. Without it a folder held open by another user would write a
// record every two seconds, or none at all.
//
// Not synchronised: one owner per instance (a watcher for its folder, the check under its
// pass lock). Records go through countermeasurePorts().report.

#include <windows.h>

#include <string>
#include <unordered_map>

namespace tamselsvc { namespace model { namespace service {

class FolderTrouble {
public:
    // `troubleHead` and `recoveredHead`: the message ids of the two records.
    FolderTrouble(UINT troubleHead, UINT recoveredHead) : _troubleHead(troubleHead), _recoveredHead(recoveredHead) {}

    void failed(const std::wstring& folder, DWORD error);
    void recovered(const std::wstring& folder);
    bool failing(const std::wstring& folder) const { return _failing.count(folder) != 0; }

private:
    UINT _troubleHead;
    UINT _recoveredHead;
    std::unordered_map<std::wstring, DWORD> _failing; // folder -> the error recorded
};

}}} // namespace tamselsvc::model::service
