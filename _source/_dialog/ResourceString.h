#pragma once
// Strings from a module's string table.

#include <windows.h>

#include <string>

namespace brimlockdlg {

// LoadStringW into a buffer of 512 characters, so at most 511 characters come back; the
// language is the one the system's resource lookup picks for the user. Empty when
// LoadStringW returns 0 (no such string, or an empty one).
std::wstring loadResourceString(HINSTANCE instance, UINT id);

} // namespace brimlockdlg
