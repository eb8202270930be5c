#include "CountermeasureTesting.h"

#include "Wait.h"

#include "_model/_service/_guard/Countermeasure.h"
#include "_process/NotificationLaunch.h"
#include "_win32/UniqueHandle.h"

#include <condition_variable>
#include <mutex>
#include <optional>

namespace brimlock_test {

namespace {
std::mutex s_recordLock;
std::vector<Record> s_records;

using tamselsvc::model::service::CountermeasurePorts;
using tamselsvc::model::service::countermeasurePorts;
std::optional<Corvane::Orlin::Ports<CountermeasurePorts>::Override> s_sinkInForce;

// The real calls with recorded notices, and with the sink as their report too. Made once and
// never changed: a notification thread may read them at any time.
const CountermeasurePorts& recordedNotices()
{
    static const CountermeasurePorts ports = [] {
        CountermeasurePorts p = countermeasurePorts.real();
        p.notifyActiveUser = &NoticeRecorder::notifyActiveUser;
        p.launchDialog = &NoticeRecorder::launchDialog;
        return p;
    }();
    return ports;
}
const CountermeasurePorts& recordedRecordsAndNotices()
{
    static const CountermeasurePorts ports = [] {
        CountermeasurePorts p = recordedNotices();
        p.report = &RecordSink::report;
        return p;
    }();
    return ports;
}

std::mutex s_noticeLock;
std::condition_variable s_noticeChanged;
std::vector<Notice> s_notices;
bool s_holdFatal = false;
bool s_fatalReleased = false;

} // namespace

void RecordSink::install()
{
    take();
    NoticeRecorder::clear();
    NoticeRecorder::holdFatal(false);
    s_sinkInForce.reset();
    s_sinkInForce.emplace(countermeasurePorts, recordedRecordsAndNotices());
}

void RecordSink::uninstall()
{
    s_sinkInForce.reset();
    s_sinkInForce.emplace(countermeasurePorts, recordedNotices());
}

std::vector<Record> RecordSink::take()
{
    std::lock_guard<std::mutex> guard(s_recordLock);
    std::vector<Record> out;
    out.swap(s_records);
    return out;
}

std::vector<std::wstring> RecordSink::takeTexts()
{
    std::vector<std::wstring> texts;
    for (const Record& record : take()) {
        texts.push_back(record.text);
    }
    return texts;
}

std::vector<Record> RecordSink::peek()
{
    std::lock_guard<std::mutex> guard(s_recordLock);
    return s_records;
}

void RecordSink::report(const std::wstring& text, WORD type, DWORD id)
{
    std::lock_guard<std::mutex> guard(s_recordLock);
    s_records.push_back({text, type, id});
}

PortsInForce::PortsInForce(const std::function<void(CountermeasurePorts&)>& change) : _ports(countermeasurePorts())
{
    change(_ports);
    _scope.emplace(countermeasurePorts, _ports);
}

namespace {
std::mutex s_refusedLock;
std::wstring s_refused;
} // namespace

void refuseToOpen(const std::wstring& path)
{
    std::lock_guard<std::mutex> guard(s_refusedLock);
    s_refused = path;
}

HANDLE WINAPI createFileRefusingOne(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                    DWORD creation, DWORD flags, HANDLE templateFile)
{
    {
        std::lock_guard<std::mutex> guard(s_refusedLock);
        if (path && s_refused == path) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
    }
    return ::CreateFileW(path, access, share, security, creation, flags, templateFile);
}

void NoticeRecorder::notifyActiveUser(const std::wstring& filePath, const std::wstring& noticeSwitch)
{
    const std::wstring effective = noticeSwitch.empty() ? tamselsvc::process::currentMessageSwitch() : noticeSwitch;
    std::lock_guard<std::mutex> guard(s_noticeLock);
    s_notices.push_back({NoticeKind::ViaSession, noticeSwitch, effective, filePath});
    s_noticeChanged.notify_all();
}

void NoticeRecorder::launchDialog(const std::wstring& noticeSwitch, const std::wstring& filePath)
{
    std::unique_lock<std::mutex> guard(s_noticeLock);
    s_notices.push_back({NoticeKind::Dialog, noticeSwitch, noticeSwitch, filePath});
    s_noticeChanged.notify_all();
    if (noticeSwitch == L"/fatal" && s_holdFatal) {
        // Bounded: a test that forgets to release must not hang the run.
        s_noticeChanged.wait_for(guard, std::chrono::seconds(30), [] { return s_fatalReleased; });
        s_fatalReleased = false;
    }
}

void NoticeRecorder::holdFatal(bool hold)
{
    std::lock_guard<std::mutex> guard(s_noticeLock);
    s_holdFatal = hold;
    s_fatalReleased = false;
}

void NoticeRecorder::releaseFatal()
{
    std::lock_guard<std::mutex> guard(s_noticeLock);
    s_fatalReleased = true;
    s_noticeChanged.notify_all();
}

std::vector<Notice> NoticeRecorder::notices()
{
    std::lock_guard<std::mutex> guard(s_noticeLock);
    return s_notices;
}

std::vector<Notice> NoticeRecorder::waitForNotices(size_t count, std::chrono::milliseconds timeout)
{
    // Polled: bounded and independent of who notifies.
    brimlock_test::waitUntil([&] { return notices().size() >= count; }, timeout);
    // Extras would come from threads started by the same pass: give them a moment.
    Sleep(300);
    return notices();
}

void NoticeRecorder::clear()
{
    std::lock_guard<std::mutex> guard(s_noticeLock);
    s_notices.clear();
}

} // namespace brimlock_test
