#include "CountermeasureTesting.h"

#include "Wait.h"

#include "TestProcess.h"
#include "_model/_service/Countermeasure.h"
#include "_process/NotificationLaunch.h"
#include "_win32/UniqueHandle.h"

#include <condition_variable>
#include <mutex>
#include <optional>

namespace brimlock_test {

using Corvane::Orlin::UniqueFile;
using Corvane::Orlin::UniqueRegKey;

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

constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";

std::wstring lowerAscii(std::wstring s)
{
    for (wchar_t& c : s) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c + 32);
        }
    }
    return s;
}
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

bool createFileWithText(const std::wstring& path, const std::string& text)
{
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    DWORD written = 0;
    return WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

std::string readFileText(const std::wstring& path)
{
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return "<missing>";
    }
    char buffer[4096];
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof(buffer), &got, nullptr)) {
        return "<unreadable>";
    }
    return std::string(buffer, got);
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isDirectory(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void cleanDriveC()
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(L"C:\\*", &entry);
    if (search != INVALID_HANDLE_VALUE) {
        std::vector<std::wstring> doomed;
        do {
            const std::wstring name = lowerAscii(entry.cFileName);
            if ((name.rfind(L"program", 0) == 0 || name.rfind(L"quarrow", 0) == 0 || name.rfind(L"progrxm", 0) == 0) &&
                !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                doomed.push_back(std::wstring(L"C:\\") + entry.cFileName);
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
        for (const std::wstring& path : doomed) {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    }
    for (const wchar_t* folder : {L"C:\\Program", L"C:\\Programs", L"C:\\Program1", L"C:\\Program1.exe"}) {
        RemoveDirectoryW(folder);
    }
}

PendingOperations readPendingOperations()
{
    PendingOperations result;
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) !=
        ERROR_SUCCESS) {
        return result;
    }
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), kPendingValue, nullptr, &result.type, nullptr, &size) != ERROR_SUCCESS) {
        return result;
    }
    result.present = true;
    result.raw.resize(size);
    if (size && RegQueryValueExW(key.get(), kPendingValue, nullptr, &result.type, result.raw.data(), &size) !=
                    ERROR_SUCCESS) {
        return result;
    }
    result.raw.resize(size);
    const wchar_t* text = reinterpret_cast<const wchar_t*>(result.raw.data());
    const size_t count = size / sizeof(wchar_t);
    std::wstring current;
    for (size_t i = 0; i < count; ++i) {
        if (text[i] == L'\0') {
            result.entries.push_back(current);
            current.clear();
        } else {
            current.push_back(text[i]);
        }
    }
    // The list ends with an extra terminator: drop the empty string it makes when the
    // strings are otherwise paired.
    if (result.entries.size() % 2 == 1 && result.entries.back().empty()) {
        result.entries.pop_back();
    }
    return result;
}

void restorePendingOperations(const PendingOperations& saved)
{
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, key.put()) !=
        ERROR_SUCCESS) {
        return;
    }
    if (!saved.present) {
        RegDeleteValueW(key.get(), kPendingValue);
        return;
    }
    RegSetValueExW(key.get(), kPendingValue, 0, saved.type, saved.raw.data(), static_cast<DWORD>(saved.raw.size()));
}

std::vector<std::pair<std::wstring, std::wstring>> addedOperations(const PendingOperations& before)
{
    const PendingOperations after = readPendingOperations();
    std::vector<std::pair<std::wstring, std::wstring>> added;
    for (size_t i = before.entries.size(); i + 1 < after.entries.size(); i += 2) {
        added.emplace_back(after.entries[i], after.entries[i + 1]);
    }
    return added;
}

bool runWinebootRestart()
{
    const ProcessResult result = runProcess(L"wineboot.exe -r", 120000);
    return result.started && result.finished;
}

std::wstring systemMessageW(DWORD code)
{
    LPWSTR text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring message = (length && text) ? std::wstring(text, length) : std::wstring();
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
        message.pop_back();
    }
    return message;
}

std::wstring renameErrorText(DWORD code, const std::wstring& from, const std::wstring& to)
{
    std::wstring message = systemMessageW(code);
    if (message.empty()) {
        message = L"unknown error";
    }
    return L"rename: " + message + L": \"" + from + L"\", \"" + to + L"\"";
}

HeldFile::HeldFile(const std::wstring& path)
    : _handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr))
{
}

void HeldFile::release()
{
    if (_handle != INVALID_HANDLE_VALUE) {
        CloseHandle(_handle);
        _handle = INVALID_HANDLE_VALUE;
    }
}

} // namespace brimlock_test
