#include "RecordTexts.h"

#include "_win32/UniqueHandle.h"

#include <cstdio>

namespace brimlock_test {

const std::wstring kRenamedHead = L"The file was renamed as follows.\r\n\r\n";
const std::wstring kScheduledHead = L"The file will be renamed as follows on restart.\r\n\r\n";

namespace {
std::wstring quotedPair(const std::wstring& from, const std::wstring& to)
{
    return L"\"" + from + L"\" -> \"" + to + L"\"";
}
} // namespace

std::wstring renamedText(const std::wstring& from, const std::wstring& to)
{
    return kRenamedHead + quotedPair(from, to);
}

std::wstring scheduledText(const std::wstring& from, const std::wstring& to)
{
    return kScheduledHead + quotedPair(from, to);
}

std::wstring systemMessageW(DWORD code)
{
    LPWSTR text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const Corvane::Orlin::UniqueLocalMem owner(text);
    std::wstring message = (length && text) ? std::wstring(text, length) : std::wstring();
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

std::string wineDebugString(const std::wstring& text)
{
    std::string out = "L\"";
    for (wchar_t c : text) {
        switch (c) {
        case L'\n': out += "\\n"; break;
        case L'\r': out += "\\r"; break;
        case L'\t': out += "\\t"; break;
        case L'"': out += "\\\""; break;
        case L'\\': out += "\\\\"; break;
        default:
            if (c >= L' ' && c < 127) {
                out += static_cast<char>(c);
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\%04x", static_cast<unsigned>(c));
                out += hex;
            }
        }
    }
    return out + "\"";
}

std::string channelClass(WORD eventType)
{
    return eventType == EVENTLOG_ERROR_TYPE ? "err" : eventType == EVENTLOG_WARNING_TYPE ? "warn" : "trace";
}

std::string channelLine(WORD eventType, const std::wstring& text)
{
    return channelClass(eventType) + ":eventlog:ReportEventW " + wineDebugString(text) + "\n";
}

std::string renamedRecord(const std::wstring& from, const std::wstring& to)
{
    return channelLine(EVENTLOG_WARNING_TYPE, renamedText(from, to));
}

std::string scheduledRecord(const std::wstring& from, const std::wstring& to)
{
    return channelLine(EVENTLOG_WARNING_TYPE, scheduledText(from, to));
}

} // namespace brimlock_test
