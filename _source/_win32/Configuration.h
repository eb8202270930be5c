#pragma once
// The service's switches, from HKLM\SOFTWARE\Corvane\Tamsel in the 64-bit registry
// view (so a 32-bit service on 64-bit Windows reads the native key, not its WOW6432Node
// copy). Read once per process; a change takes effect at the next start.

#include <windows.h>

#include <string>

namespace Corvane { namespace Orlin {

constexpr wchar_t kConfigKey[] = L"SOFTWARE\\Corvane\\Tamsel";
constexpr wchar_t kShouldOutputToEventlog[] = L"ShouldOutputToEventlog";
constexpr wchar_t kShouldOutputToDebugView[] = L"ShouldOutputToDebugView";
constexpr wchar_t kShouldReportUnquotedPaths[] = L"ShouldReportUnquotedPaths";
constexpr wchar_t kShouldGuardUnquotedPaths[] = L"ShouldGuardUnquotedPaths";

// True, with `value` set, only when the value exists and is a REG_DWORD; otherwise false
// and `value` is left as it was. Opens and closes the key for each read.
bool readConfigDword(const std::wstring& name, DWORD& value);

}} // namespace Corvane::Orlin
