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

// Calls `write(offset, count, written)` until `size` units are out: false at the first
// write that fails or writes nothing (a closed pipe).
template <typename Write>
bool inPieces(size_t size, size_t maxPiece, Write write)
{
    for (size_t done = 0; done < size;) {
        DWORD written = 0;
        if (!write(done, static_cast<DWORD>(std::min(maxPiece, size - done)), written) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
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
    _failed = !inPieces(text.size(), kChunk, [&](size_t done, DWORD piece, DWORD& written) {
        return WriteConsoleW(_handle, text.data() + done, piece, &written, nullptr) != FALSE;
    });
    return !_failed;
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
    _failed = _handle == nullptr || _handle == INVALID_HANDLE_VALUE ||
              !inPieces(bytes.size(), 1u << 20, [&](size_t done, DWORD piece, DWORD& written) {
                  return WriteFile(_handle, bytes.data() + done, piece, &written, nullptr) != FALSE;
              });
    return !_failed;
}

} // namespace brimlockscan
