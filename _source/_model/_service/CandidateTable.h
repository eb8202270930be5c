#pragma once
// Which files count as offending and where they are looked for: every prefix of the
// product's unquoted install path that ends before a space, and the product folder taken
// as a file. One constant table for 32-bit and one for 64-bit Windows; the start check
// chooses one, once, before any check or watcher exists.

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

struct CandidateFolder {
    std::wstring folder;              // listed and watched; ends with a backslash
    std::vector<std::wstring> files;  // full paths directly in `folder`; only their stems count
};

using CandidateTable = std::vector<CandidateFolder>;

extern const CandidateTable nativeCandidateTable; // 32-bit Windows
extern const CandidateTable wow64CandidateTable;  // 64-bit Windows

// Filled by the start check.
extern BOOL g_isWow64;
// The chosen table: null until a start check succeeds, then set once and never cleared.
extern std::atomic<const CandidateTable*> g_activeCandidates;

}}} // namespace tamselsvc::model::service
