#pragma once
// One record of the service object's own event source, as the tests catch it through the
// ReportEventW seam: the event ID and the one text, stored unformatted.

#include <windows.h>

#include <ostream>
#include <string>

namespace brimlock_test {

struct Record {
    DWORD eventId;
    std::wstring text;
    bool operator==(const Record& other) const { return eventId == other.eventId && text == other.text; }
};

inline std::ostream& operator<<(std::ostream& out, const Record& r)
{
    out << r.eventId << " \"";
    for (wchar_t c : r.text) {
        out << (c == L'\n' ? std::string("\\n") : std::string(1, static_cast<char>(c)));
    }
    return out << "\"";
}

} // namespace brimlock_test
