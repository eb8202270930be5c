#pragma once
// The forms in which a listed path is handed to the system. A plain Win32 path is
// normalised on the way in: a trailing dot or space is dropped, so "C:\Program." would
// name C:\Program, another file. The extended form (\\?\C:\Program.) and the NT form
// (\??\C:\Program.) are taken as written and reach the entry exactly as it was listed.
// Records and notices keep the plain path.
// Pure string work: no system call, no Windows header.

#include <string>

namespace tamselsvc { namespace model { namespace service {

// "C:\x" -> "\\?\C:\x", "\\server\share\x" -> "\\?\UNC\server\share\x"; slashes become
// backslashes (the extended form does not convert them). A path already in the extended
// or NT form, and a relative path, come back unchanged.
std::wstring extendedPathOf(const std::wstring& path);

// The NT form that FileRenameInfo takes and that the restart list holds:
// "C:\x" -> "\??\C:\x", "\\server\share\x" -> "\??\UNC\server\share\x". A relative path
// comes back unchanged.
std::wstring ntPathOf(const std::wstring& path);

}}} // namespace tamselsvc::model::service
