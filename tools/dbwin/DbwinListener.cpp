#include "DbwinListener.h"

#include <cstring>

namespace brimlock_test {

namespace {
constexpr DWORD kSectionSize = 4096;

void closeIf(HANDLE& handle)
{
    if (handle) {
        CloseHandle(handle);
        handle = nullptr;
    }
}
} // namespace

DbwinListener::~DbwinListener()
{
    stop();
}

bool DbwinListener::start()
{
    if (_reader.joinable()) {
        return true;
    }
    _section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSectionSize, L"DBWIN_BUFFER");
    if (!_section || GetLastError() == ERROR_ALREADY_EXISTS) {
        const DWORD error = _section ? ERROR_ALREADY_EXISTS : GetLastError();
        stop();
        SetLastError(error);
        return false;
    }
    _view = MapViewOfFile(_section, FILE_MAP_READ, 0, 0, 0);
    _bufferReady = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    _dataReady = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    _quit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!_view || !_bufferReady || !_dataReady || !_quit) {
        const DWORD error = GetLastError();
        stop();
        SetLastError(error);
        return false;
    }
    _reader = std::thread([this] { readLoop(); });
    return true;
}

void DbwinListener::stop()
{
    if (_reader.joinable()) {
        SetEvent(_quit);
        _reader.join();
    }
    if (_view) {
        UnmapViewOfFile(_view);
        _view = nullptr;
    }
    closeIf(_section);
    closeIf(_bufferReady);
    closeIf(_dataReady);
    closeIf(_quit);
}

void DbwinListener::readLoop()
{
    const HANDLE waits[2] = {_dataReady, _quit};
    for (;;) {
        SetEvent(_bufferReady);
        const DWORD which = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (which != WAIT_OBJECT_0) {
            return;
        }
        const char* data = static_cast<const char*>(_view);
        DebugLine line;
        std::memcpy(&line.processId, data, sizeof(DWORD));
        const char* text = data + sizeof(DWORD);
        line.text.assign(text, strnlen(text, kSectionSize - sizeof(DWORD)));
        {
            std::lock_guard<std::mutex> lock(_lock);
            _lines.push_back(std::move(line));
        }
        _changed.notify_all();
    }
}

std::vector<DebugLine> DbwinListener::lines() const
{
    std::lock_guard<std::mutex> lock(_lock);
    return _lines;
}

std::vector<std::string> DbwinListener::linesOf(DWORD processId) const
{
    std::vector<std::string> result;
    std::lock_guard<std::mutex> lock(_lock);
    for (const auto& line : _lines) {
        if (line.processId == processId) {
            result.push_back(line.text);
        }
    }
    return result;
}

bool DbwinListener::waitFor(const std::function<bool(const std::vector<DebugLine>&)>& done,
                            std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(_lock);
    return _changed.wait_for(lock, timeout, [&] { return done(_lines); });
}

bool DbwinListener::waitForText(DWORD processId, const std::string& fragment, std::chrono::milliseconds timeout) const
{
    return waitFor(
        [&](const std::vector<DebugLine>& lines) {
            for (const auto& line : lines) {
                if ((processId == 0 || line.processId == processId) && line.text.find(fragment) != std::string::npos) {
                    return true;
                }
            }
            return false;
        },
        timeout);
}

void DbwinListener::clear()
{
    std::lock_guard<std::mutex> lock(_lock);
    _lines.clear();
}

} // namespace brimlock_test
