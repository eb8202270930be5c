#pragma once
// What the countermeasure and watcher tests share: recorders put into the seams of the
// check (records, notices); drive C and the restart list come with DriveC.h.

#include "DriveC.h"
#include "MessageBoxProbe.h"
#include "RecordTexts.h"

#include "_model/_service/_guard/CountermeasurePorts.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace brimlock_test {

struct Record {
    std::wstring text;
    WORD type;
    DWORD id;
    bool operator==(const Record& o) const { return text == o.text && type == o.type && id == o.id; }
};
// For test failures.
inline std::ostream& operator<<(std::ostream& out, const Record& r)
{
    return out << r.type << "/" << r.id << " \"" << toUtf8(r.text) << "\"";
}

// Collects the records the check writes and the notices it gives: install() forgets what
// came so far and puts the countermeasure's real calls, with this sink as their report and
// NoticeRecorder as their notices, in force until uninstall(). Overrides made in between
// start from countermeasurePorts() and so keep both. After uninstall() the records are
// written again, but the notices stay recorded for the rest of the program: a notification
// thread that a test leaves behind must never start the real dialog.
class RecordSink {
public:
    static void install();
    static void uninstall();
    static std::vector<Record> take(); // and forget them
    static std::vector<std::wstring> takeTexts(); // take(), their texts only
    static std::vector<Record> peek();
    static void report(const std::wstring& text, WORD type, DWORD id);
};

// countermeasurePorts() as it is now, with the calls `change` replaces, in force while the
// object lives (the set before it comes back at its end).
class PortsInForce {
public:
    explicit PortsInForce(const std::function<void(tamselsvc::model::service::CountermeasurePorts&)>& change);
    PortsInForce(const PortsInForce&) = delete;
    PortsInForce& operator=(const PortsInForce&) = delete;

private:
    tamselsvc::model::service::CountermeasurePorts _ports;
    std::optional<Corvane::Orlin::Ports<tamselsvc::model::service::CountermeasurePorts>::Override> _scope;
};

// A CreateFileW for a port set that refuses, with ERROR_ACCESS_DENIED, the one path given to
// refuseToOpen() (as the caller writes it) and opens everything else.
void refuseToOpen(const std::wstring& path);
HANDLE WINAPI createFileRefusingOne(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                    DWORD creation, DWORD flags, HANDLE templateFile);

enum class NoticeKind { ViaSession, Dialog };

struct Notice {
    NoticeKind kind;
    std::wstring noticeSwitch; // as given (empty for ViaSession means "the current one")
    std::wstring effectiveSwitch; // what the dialog would show, worked out at call time
    std::wstring path;
    bool operator==(const Notice& o) const
    {
        return kind == o.kind && noticeSwitch == o.noticeSwitch && effectiveSwitch == o.effectiveSwitch &&
               path == o.path;
    }
};
// A notice through the console session with the current switch, which was `effective`;
// and a dialog started at once with `noticeSwitch`.
inline Notice sessionNotice(const std::wstring& effective, const std::wstring& path)
{
    return {NoticeKind::ViaSession, L"", effective, path};
}
inline Notice dialogNotice(const std::wstring& noticeSwitch, const std::wstring& path)
{
    return {NoticeKind::Dialog, noticeSwitch, noticeSwitch, path};
}
inline std::ostream& operator<<(std::ostream& out, const Notice& n)
{
    out << (n.kind == NoticeKind::Dialog ? "dialog " : "session ");
    return out << toUtf8(n.noticeSwitch) << " (" << toUtf8(n.effectiveSwitch) << ") \"" << toUtf8(n.path) << "\"";
}

// Records each notice (the notices of RecordSink::install). With holdFatal, a "/fatal"
// dialog stays "open" until releaseFatal.
class NoticeRecorder {
public:
    static void notifyActiveUser(const std::wstring& filePath, const std::wstring& noticeSwitch);
    static void launchDialog(const std::wstring& noticeSwitch, const std::wstring& filePath);

    static void holdFatal(bool hold);
    static void releaseFatal();
    static std::vector<Notice> notices();
    // Waits until at least `count` notices have come, then a little longer to catch extras.
    static std::vector<Notice> waitForNotices(size_t count,
                                              std::chrono::milliseconds timeout = std::chrono::seconds(5));
    static void clear();
};

} // namespace brimlock_test
