#pragma once
// Whether ordinary users can create files in a folder, read from the folder's access list:
// what makes an unquoted registration exploitable by someone who is not an administrator.
//
// The decision is the one an access check makes for the right to add a file to a folder
// (FILE_ADD_FILE, which for a folder is also the right to write data), for a token that
// holds the groups every signed-in user has: Everyone, Users, Authenticated Users and
// INTERACTIVE. Ownership and privileges are not considered.

#include <windows.h>

#include <string>

namespace tamselsvc { namespace model { namespace service {

enum class FolderAccess {
    UsersCanCreateFiles,
    UsersCannotCreateFiles,
    Unknown, // the access list could not be read
};

// The decision on a security descriptor (null: Unknown):
// - no DACL, or a null DACL: everyone may do everything, so users can create files;
// - otherwise the entries are walked in their order and the first one that speaks for the
//   right decides: an access-denied entry denies it, an access-allowed entry grants it.
//   An entry speaks for it when it names one of the four groups, is not inherit-only, and
//   its mask holds FILE_ADD_FILE, GENERIC_WRITE or GENERIC_ALL. Other entry types (object,
//   callback, audit) are skipped;
// - no entry speaks for it: denied.
FolderAccess decideFolderAccess(PSECURITY_DESCRIPTOR descriptor);

// The folder's DACL as the system gives it (GetNamedSecurityInfoW), owned by the caller
// (LocalFree); null, with the error in GetLastError(), when it cannot be read.
PSECURITY_DESCRIPTOR readFolderSecurity(const wchar_t* folder);

}}} // namespace tamselsvc::model::service
