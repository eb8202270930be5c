#pragma once
// The records under "brimlock" as the tests expect them (the service's English texts),
// and how Wine's eventlog debug channel shows a record: one line per record, its text as
// Wine prints a wide string, under the class of its type ("trace" for information, "warn"
// for a warning, "err" for an error).

#include <windows.h>

#include <string>

namespace brimlock_test {

extern const std::wstring kRenamedHead;   // "The file was renamed as follows.\r\n\r\n"
extern const std::wstring kScheduledHead; // "The file will be renamed as follows on restart.\r\n\r\n"

// kRenamedHead "<from>" -> "<to>", and the same for a rename scheduled for the restart.
std::wstring renamedText(const std::wstring& from, const std::wstring& to);
std::wstring scheduledText(const std::wstring& from, const std::wstring& to);
// The system's message for a code, without its trailing line break.
std::wstring systemMessageW(DWORD code);
// The error record of a failed immediate rename.
std::wstring renameErrorText(DWORD code, const std::wstring& from, const std::wstring& to);

// How Wine's debug channel prints a wide string (debugstr_w): L"..." with \\, \", \r, \n,
// \t escaped and other characters outside printable ASCII as \xxxx.
std::string wineDebugString(const std::wstring& text);
// "trace", "warn" or "err".
std::string channelClass(WORD eventType);
// The channel's line of a record, line end included, as the boot log of a prefix holds it
// for a service: "<class>:eventlog:ReportEventW L"<text>"\n".
std::string channelLine(WORD eventType, const std::wstring& text);
// The channel lines of the renamed and the scheduled record.
std::string renamedRecord(const std::wstring& from, const std::wstring& to);
std::string scheduledRecord(const std::wstring& from, const std::wstring& to);

} // namespace brimlock_test
