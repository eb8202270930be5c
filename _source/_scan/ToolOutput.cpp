#include "_scan/ToolOutput.h"

#include "_scan/Utf8.h"

#include <algorithm>

namespace brimlockscan {

namespace {

constexpr DWORD kChunk = 16384; // WriteConsoleW refuses very large buffers on older systems

bool isConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != FALSE;
}

} // namespace

ToolOutput::ToolOutput(HANDLE handle) : _handle(handle), _console(isConsole(handle)) {}

bool ToolOutput::write(const std::wstring& text)
{
    if (_failed || text.empty()) {
        return !_failed;
    }
    if (!_console) {
        return writeBytes(toUtf8(text));
    }
    for (size_t done = 0; done < text.size();) {
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(kChunk, text.size() - done));
        DWORD written = 0;
        if (!WriteConsoleW(_handle, text.data() + done, piece, &written, nullptr) || written == 0) {
            _failed = true;
            return false;
        }
        done += written;
    }
    return true;
}

bool ToolOutput::writeUtf8(const std::string& text)
{
    if (_failed || !_console) {
        return !_failed && writeBytes(text);
    }
    std::wstring wide;
    fromUtf8(text, wide);
    return write(wide);
}

bool ToolOutput::writeBytes(const std::string& bytes)
{
    if (_handle == nullptr || _handle == INVALID_HANDLE_VALUE) {
        _failed = true;
        return false;
    }
    for (size_t done = 0; done < bytes.size();) {
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(1u << 20, bytes.size() - done));
        DWORD written = 0;
        if (!WriteFile(_handle, bytes.data() + done, piece, &written, nullptr) || written == 0) {
            _failed = true;
            return false;
        }
        done += written;
    }
    return true;
}

} // namespace brimlockscan
