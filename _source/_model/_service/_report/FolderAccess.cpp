#include "_model/_service/_report/FolderAccess.h"

#include <aclapi.h>

namespace tamselsvc { namespace model { namespace service {

namespace {

constexpr ACCESS_MASK kCreateFileRights = FILE_ADD_FILE | GENERIC_WRITE | GENERIC_ALL;

// The groups of an ordinary signed-in user's token.
class UserGroups {
public:
    UserGroups()
    {
        const WELL_KNOWN_SID_TYPE types[kCount] = {WinWorldSid, WinBuiltinUsersSid, WinAuthenticatedUserSid,
                                                   WinInteractiveSid};
        for (int i = 0; i < kCount; ++i) {
            DWORD size = sizeof(_sids[i]);
            _valid[i] = CreateWellKnownSid(types[i], nullptr, &_sids[i], &size) != FALSE;
        }
    }

    bool holds(PSID sid) const
    {
        for (int i = 0; i < kCount; ++i) {
            if (_valid[i] && IsValidSid(sid) && EqualSid(sid, const_cast<BYTE*>(_sids[i]))) {
                return true;
            }
        }
        return false;
    }

private:
    static constexpr int kCount = 4;
    BYTE _sids[kCount][SECURITY_MAX_SID_SIZE] = {};
    bool _valid[kCount] = {};
};

} // namespace

FolderAccess decideFolderAccess(PSECURITY_DESCRIPTOR descriptor)
{
    if (!descriptor) {
        return FolderAccess::Unknown;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) {
        return FolderAccess::Unknown;
    }
    if (!present || !dacl) {
        return FolderAccess::UsersCanCreateFiles;
    }
    const UserGroups groups;
    for (DWORD index = 0; index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(dacl, index, &entry)) {
            return FolderAccess::Unknown;
        }
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceFlags & INHERIT_ONLY_ACE) {
            continue; // applies to children only
        }
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE && header->AceType != ACCESS_DENIED_ACE_TYPE) {
            continue;
        }
        // Both types have the same layout: header, mask, then the SID.
        const ACCESS_ALLOWED_ACE* ace = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        if (!(ace->Mask & kCreateFileRights) || !groups.holds(const_cast<DWORD*>(&ace->SidStart))) {
            continue;
        }
        return header->AceType == ACCESS_ALLOWED_ACE_TYPE ? FolderAccess::UsersCanCreateFiles
                                                          : FolderAccess::UsersCannotCreateFiles;
    }
    return FolderAccess::UsersCannotCreateFiles;
}

PSECURITY_DESCRIPTOR readFolderSecurity(const wchar_t* folder)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD status = GetNamedSecurityInfoW(folder, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                               nullptr, nullptr, &descriptor);
    if (status != ERROR_SUCCESS) {
        SetLastError(status);
        return nullptr;
    }
    return descriptor;
}

}}} // namespace tamselsvc::model::service
