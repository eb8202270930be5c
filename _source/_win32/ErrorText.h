#pragma once
// The system's text for a Win32 error code, and the diagnostic "error line" that follows
// a failed call: "errorcode=0x%x(%d), %s".

#include <windows.h>

#include <string>

namespace Corvane { namespace Orlin {

// FormatMessageA (from system, ignore inserts, neutral language) as given, trailing line
// break included; empty when the system has no text for the code.
std::string SystemMessageA(DWORD errorCode);
// The same text in UTF-16 (FormatMessageW), so that nothing is lost to the ANSI code page.
std::wstring SystemMessageW(DWORD errorCode);

// Writes "errorcode=0x%x(%d), %s" for `errorCode` with LogDebugA.
void LogErrorLineA(DWORD errorCode);

}} // namespace Corvane::Orlin
