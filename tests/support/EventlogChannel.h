#pragma once
// What a program run by tests/support/eventlog_channel.sh expects on Wine's eventlog
// channel: each call prints one expected channel line as "EXPECT <line>", in the order the
// lines are due; the script compares them with what the channel shows.

#include "RecordTexts.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace brimlock_test {

inline void expectChannelLine(const std::string& line)
{
    std::printf("EXPECT %s\n", line.c_str());
    std::fflush(stdout);
}

// An event source registered under `name` (RegisterEventSourceW), and one deregistered.
inline void expectSource(const std::wstring& name)
{
    expectChannelLine("source " + wineDebugString(name));
}
inline void expectDeregistered()
{
    expectChannelLine("deregistered");
}

// One record as the product writes them (category 0, one string, no data): the call of
// ReportEventW, then the record's text under the class of its type. Wine prints the null
// SID and data pointers with %p: as many zeros as a pointer of the program has hex digits.
inline void expectReport(WORD eventType, DWORD eventId, const std::wstring& text)
{
    const std::string null(2 * sizeof(void*), '0');
    char head[48];
    std::snprintf(head, sizeof head, "record 0x%04x,0x0000,0x%08lx,", static_cast<unsigned>(eventType),
                  static_cast<unsigned long>(eventId));
    expectChannelLine(head + null + ",0x0001,0x00000000," + null);
    expectChannelLine(channelClass(eventType) + " " + wineDebugString(text));
}

} // namespace brimlock_test
