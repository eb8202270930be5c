#pragma once
// The event log as the tests see it: the service object's own records caught in place of
// ReportEventW (the event ID and the one text, stored unformatted, and how the call was
// made), and event sources that cannot be registered.

#include "_win32/OutputSettings.h"
#include "_win32/ReportAppEvent.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace brimlock_test {

struct ServiceRecord {
    DWORD eventId = 0;
    std::wstring text; // "<malformed>" unless the call had category 0 and one string
    // How it was written; not compared.
    HANDLE source = nullptr;
    WORD type = 0;
    WORD category = 0;
    PSID sid = nullptr;
    WORD stringCount = 0;
    DWORD dataSize = 0;
    LPVOID data = nullptr;
    bool operator==(const ServiceRecord& other) const { return eventId == other.eventId && text == other.text; }
};

inline std::ostream& operator<<(std::ostream& out, const ServiceRecord& r)
{
    out << r.eventId << " \"";
    for (wchar_t c : r.text) {
        out << (c == L'\n' ? std::string("\\n") : std::string(1, static_cast<char>(c)));
    }
    return out << "\"";
}

// For its whole life, every record of the service object is caught here instead of being
// written, on any thread.
class CaughtRecords {
public:
    CaughtRecords() { clear(); }
    std::vector<ServiceRecord> records() const
    {
        std::lock_guard<std::mutex> guard(lock());
        return all();
    }
    void clear()
    {
        std::lock_guard<std::mutex> guard(lock());
        all().clear();
    }

private:
    static std::mutex& lock()
    {
        static std::mutex mutex;
        return mutex;
    }
    static std::vector<ServiceRecord>& all()
    {
        static std::vector<ServiceRecord> records;
        return records;
    }
    static BOOL WINAPI catchRecord(HANDLE source, WORD type, WORD category, DWORD eventId, PSID sid, WORD count,
                                   DWORD dataSize, LPCWSTR* strings, LPVOID data)
    {
        const bool wellFormed = count == 1 && category == 0 && strings && strings[0];
        std::lock_guard<std::mutex> guard(lock());
        all().push_back(ServiceRecord{eventId, wellFormed ? strings[0] : L"<malformed>", source, type, category, sid,
                                      count, dataSize, data});
        return TRUE;
    }

    const Corvane::Orlin::OutputSettingsPorts _ports{&catchRecord};
    Corvane::Orlin::Ports<Corvane::Orlin::OutputSettingsPorts>::Override _scope{Corvane::Orlin::outputSettingsPorts,
                                                                               _ports};
};

// For its whole life, no event source can be registered (the event log's service is
// stopped): every registration fails with RPC_S_SERVER_UNAVAILABLE and is counted.
class RefusedEventSources {
public:
    RefusedEventSources() { tries() = 0; }
    int registrationsTried() const { return tries(); }

private:
    static std::atomic<int>& tries()
    {
        static std::atomic<int> count{0};
        return count;
    }
    static HANDLE WINAPI refuse(LPCWSTR, LPCWSTR)
    {
        ++tries();
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return nullptr;
    }

    const Corvane::Orlin::ReportAppEventPorts _ports{&refuse};
    Corvane::Orlin::Ports<Corvane::Orlin::ReportAppEventPorts>::Override _scope{Corvane::Orlin::reportAppEventPorts,
                                                                               _ports};
};

} // namespace brimlock_test
