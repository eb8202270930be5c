#pragma once
// The path helpers every feature uses: the parts of a path (file name, extension, stem,
// parent), joining, the A-to-Z-only lower-casing every name comparison uses, and the forms
// in which a path is handed to the system.
//
// A plain Win32 path is normalised on the way in: a trailing dot or space is dropped, so
// "C:\Program." would name C:\Program, another file. The extended form (\\?\C:\Program.)
// and the NT form (\??\C:\Program.) are taken as written and reach the entry exactly as it
// was listed. Records and notices keep the plain path.
//
// Pure string work on UTF-16 text: no system call, no Windows header, so the rules can be
// built and checked on any platform.

#include <string>

namespace tamselsvc { namespace model { namespace service {

// The part after the last backslash or slash; the whole text when there is none.
std::wstring fileNameOf(const std::wstring& path);

// The extension of a file name: from its last dot to the end, dot included. "." and
// "..", a name whose only dot is its first character, and a name without a dot have none
// (empty). A colon ends the name for this purpose: what follows the first colon (an
// alternate data stream) belongs neither to the stem nor to the extension.
std::wstring extensionOf(const std::wstring& fileName);
// The file name without its extension (and without a stream after a colon).
std::wstring stemOf(const std::wstring& fileName);
// stemOf(fileNameOf(path)).
std::wstring stemOfPath(const std::wstring& path);

// Maps U+0041..U+005A to U+0061..U+007A and leaves every other unit as it is: accented
// and non-Latin letters are not folded.
std::wstring lowerAsciiOnly(std::wstring text);
// lowerAsciiOnly(stemOfPath(path)).
std::wstring lowerStemOfPath(const std::wstring& path);
// Lower-cased stems equal.
bool sameStem(const std::wstring& pathA, const std::wstring& pathB);

// The path without its file name and without the separators in front of it; a root keeps
// its separator ("C:\Program" -> "C:\", "C:\a\b" -> "C:\a", "\x" -> "\").
std::wstring parentOf(const std::wstring& path);
// `folder` and `name` with one backslash between them, none added when `folder` already
// ends in a backslash or slash, or is empty.
std::wstring joinPath(const std::wstring& folder, const std::wstring& name);

// "C:\x" -> "\\?\C:\x", "\\server\share\x" -> "\\?\UNC\server\share\x"; slashes become
// backslashes (the extended form does not convert them). A path already in the extended
// or NT form, and a relative path, come back unchanged.
std::wstring extendedPathOf(const std::wstring& path);

// The NT form that FileRenameInfo takes and that the restart list holds:
// "C:\x" -> "\??\C:\x", "\\server\share\x" -> "\??\UNC\server\share\x". A relative path
// comes back unchanged.
std::wstring ntPathOf(const std::wstring& path);

}}} // namespace tamselsvc::model::service
