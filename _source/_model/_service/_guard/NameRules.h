#pragma once
// The name rules of the countermeasure: which names are a candidate's (by stem, see
// Paths.h for the stem and the lower-casing), and the search for a free numbered name.
// Pure string work on UTF-16 text: no system call, no Windows header, so the rules can be
// built and checked on any platform.

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

// Highest number the name search tries (C:\Program1 to C:\Program100).
constexpr int kMaxNameNumber = 100;

// True when the path's lower-cased stem equals one of `lowerStems` (already lower-cased).
bool stemEqualsAny(const std::wstring& path, const std::vector<std::wstring>& lowerStems);
// True when the path's lower-cased stem contains one of `lowerStems` as a contiguous run.
bool stemContainsAny(const std::wstring& path, const std::vector<std::wstring>& lowerStems);
// A quick test on a bare file name, without building any string: true when the name,
// lower-cased, contains one of `lowerStems`. A name whose lower-cased stem contains or
// equals one of them always passes (a stem is part of its name), so a listing can skip
// every name that fails before it works out stems.
bool nameMayContainAny(const wchar_t* name, const std::vector<std::wstring>& lowerStems);

// The name search: for N = 1 .. kMaxNameNumber, Q = parent \ stem N extension (stem and
// extension as given, case kept). The first Q whose lower-cased stem is not in `taken` is
// added to `taken` and returned. Empty when every key is taken (`taken` then unchanged).
std::wstring findFreeNumberedName(const std::wstring& parent, const std::wstring& stem,
                                  const std::wstring& extension, std::unordered_set<std::wstring>& taken);

}}} // namespace tamselsvc::model::service
