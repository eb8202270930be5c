#pragma once
// The name rules of the countermeasure: file name, extension, stem, the A-to-Z-only
// lower-casing every comparison uses, and the search for a free numbered name.
// Pure string work on UTF-16 text: no system call, no Windows header, so the rules can be
// built and checked on any platform.

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

// Highest number the name search tries (C:\Program1 to C:\Program100).
constexpr int kMaxNameNumber = 100;

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
// True when the path's lower-cased stem equals one of `lowerStems` (already lower-cased).
bool stemEqualsAny(const std::wstring& path, const std::vector<std::wstring>& lowerStems);
// True when the path's lower-cased stem contains one of `lowerStems` as a contiguous run.
bool stemContainsAny(const std::wstring& path, const std::vector<std::wstring>& lowerStems);
// A quick test on a bare file name, without building any string: true when the name,
// lower-cased, contains one of `lowerStems`. A name whose lower-cased stem contains or
// equals one of them always passes (a stem is part of its name), so a listing can skip
// every name that fails before it works out stems.
bool nameMayContainAny(const wchar_t* name, const std::vector<std::wstring>& lowerStems);

// The path without its file name and without the separators in front of it; a root keeps
// its separator ("C:\Program" -> "C:\", "C:\a\b" -> "C:\a", "\x" -> "\").
std::wstring parentOf(const std::wstring& path);
// `folder` and `name` with one backslash between them, none added when `folder` already
// ends in a backslash or slash, or is empty.
std::wstring joinPath(const std::wstring& folder, const std::wstring& name);

// The name search: for N = 1 .. kMaxNameNumber, Q = parent \ stem N extension (stem and
// extension as given, case kept). The first Q whose lower-cased stem is not in `taken` is
// added to `taken` and returned. Empty when every key is taken (`taken` then unchanged).
std::wstring findFreeNumberedName(const std::wstring& parent, const std::wstring& stem,
                                  const std::wstring& extension, std::unordered_set<std::wstring>& taken);

}}} // namespace tamselsvc::model::service
