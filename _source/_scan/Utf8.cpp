#include "_scan/Utf8.h"

#include <windows.h>

namespace brimlockscan {

namespace {

bool isHigh(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(wchar_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Lone surrogates replaced: WideCharToMultiByte's own handling of them differs between
// Windows versions (and Wine), so the text is made well-formed first.
std::wstring wellFormed(const std::wstring& text)
{
    std::wstring out = text;
    for (size_t i = 0; i < out.size(); ++i) {
        if (isHigh(out[i]) && i + 1 < out.size() && isLow(out[i + 1])) {
            ++i;
        } else if (isHigh(out[i]) || isLow(out[i])) {
            out[i] = 0xFFFD;
        }
    }
    return out;
}

} // namespace

bool isWellFormed(const std::wstring& text)
{
    return wellFormed(text) == text;
}

std::string toUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const std::wstring clean = wellFormed(text);
    const int length = static_cast<int>(clean.size());
    const int needed = WideCharToMultiByte(CP_UTF8, 0, clean.data(), length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
    if (needed > 0) {
        WideCharToMultiByte(CP_UTF8, 0, clean.data(), length, &out[0], needed, nullptr, nullptr);
    }
    return out;
}

bool fromUtf8(const std::string& bytes, std::wstring& text)
{
    text.clear();
    if (bytes.empty()) {
        return true;
    }
    const int length = static_cast<int>(bytes.size());
    const int needed = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
    if (needed <= 0) {
        return false;
    }
    text.assign(static_cast<size_t>(needed), L'\0');
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), length, &text[0], needed) == needed;
}

} // namespace brimlockscan
