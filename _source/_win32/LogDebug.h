#pragma once
// Diagnostic log: one line per call on the debugger output channel, readable with any
// debug-output viewer. Off until the configuration switches it on; never switched off.
//
// Line: "<pid>:[Tamsel] YYYY/MM/DD hh:mm:ss <message>\n". The message is cut at 260
// characters and the line at 521; nothing is allocated on the heap. Both functions keep
// the caller's last-error value, so a caller may log between a failing call and its own
// GetLastError().

#include <atomic>

namespace Corvane { namespace Orlin {

// The process-wide switch. Relaxed atomic: a plain flag written once at start-up.
extern std::atomic<bool> g_outputToDebugView;

void LogDebugA(const char* format, ...);
// In the wide variant "%s" takes a wide string.
void LogDebugW(const wchar_t* format, ...);

}} // namespace Corvane::Orlin
