#pragma once
// The service object's own records, as the tests catch them in place of ReportEventW: the
// event ID and the one text (stored unformatted), and how the call was made.

#include "_win32/OutputSettings.h"

#include <windows.h>

#include <ostream>
#include <string>
#include <vector>

namespace brimlock_test {

struct Record {
    DWORD eventId = 0;
    std::wstring text;
    // How it was written; not compared.
    HANDLE source = nullptr;
    WORD type = 0;
    WORD category = 0;
    PSID sid = nullptr;
    WORD stringCount = 0;
    DWORD dataSize = 0;
    LPVOID data = nullptr;
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

// For its whole life, every record of the service object is caught here instead of being
// written (on the thread that writes it; the config tests write from the test's thread).
class CaughtRecords {
public:
    CaughtRecords() { all().clear(); }
    const std::vector<Record>& records() const { return all(); }
    void clear() { all().clear(); }

private:
    static std::vector<Record>& all()
    {
        static std::vector<Record> records;
        return records;
    }
    static BOOL WINAPI catchRecord(HANDLE source, WORD type, WORD category, DWORD eventId, PSID sid, WORD count,
                                   DWORD dataSize, LPCWSTR* strings, LPVOID data)
    {
        all().push_back(Record{eventId, count > 0 && strings && strings[0] ? strings[0] : L"", source, type, category,
                               sid, count, dataSize, data});
        return TRUE;
    }

    const Corvane::Orlin::OutputSettingsPorts _ports{&catchRecord};
    Corvane::Orlin::Ports<Corvane::Orlin::OutputSettingsPorts>::Override _scope{Corvane::Orlin::outputSettingsPorts,
                                                                               _ports};
};

} // namespace brimlock_test
