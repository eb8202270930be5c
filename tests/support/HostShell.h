#pragma once
// The Linux side of a Wine prefix, for tests that must make what Windows calls cannot
// (symbolic links, names Windows refuses, 100,000 files at once). Outside Wine both
// functions fail.

#include <windows.h>

#include <chrono>
#include <string>

namespace brimlock_test {

// The host path of a Windows path (Wine's wine_get_unix_file_name); empty outside Wine.
std::string unixPathOf(const std::wstring& path);

// Starts `script` with /bin/sh on the host and returns at once; false when the shell could
// not be started. The script goes into the command line as it is, between double quotes:
// a double quote in it must come escaped (\").
bool startHostShell(const std::string& script);

// Runs `script` with /bin/sh on the host and waits until it has ended. Wine gives no
// handle to wait on for a host program, so the script touches `marker` (a Windows path)
// last and the wait is for that file, which is removed again. False when the shell could
// not be started or the marker did not appear within `timeout`.
bool runHostShellAndWait(const std::string& script, const std::wstring& marker,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace brimlock_test
