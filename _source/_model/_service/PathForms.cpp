#include "_model/_service/PathForms.h"

namespace tamselsvc { namespace model { namespace service {

namespace {

const std::wstring kExtendedPrefix = L"\\\\?\\";
const std::wstring kNtPrefix = L"\\??\\";

bool startsWith(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool isDriveAbsolute(const std::wstring& path)
{
    return path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

bool isUnc(const std::wstring& path)
{
    return path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') && (path[1] == L'\\' || path[1] == L'/');
}

std::wstring withBackslashes(std::wstring path)
{
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path;
}

// The part after the prefix of either form: "C:\x" or "UNC\server\share\x"; empty for a
// relative path.
std::wstring rootedTail(const std::wstring& path)
{
    if (startsWith(path, kExtendedPrefix)) {
        return path.substr(kExtendedPrefix.size());
    }
    if (startsWith(path, kNtPrefix)) {
        return path.substr(kNtPrefix.size());
    }
    if (isDriveAbsolute(path)) {
        return withBackslashes(path);
    }
    if (isUnc(path)) {
        return L"UNC\\" + withBackslashes(path.substr(2));
    }
    return std::wstring();
}

} // namespace

std::wstring extendedPathOf(const std::wstring& path)
{
    if (startsWith(path, kExtendedPrefix) || startsWith(path, kNtPrefix)) {
        return path;
    }
    const std::wstring tail = rootedTail(path);
    return tail.empty() ? path : kExtendedPrefix + tail;
}

std::wstring ntPathOf(const std::wstring& path)
{
    const std::wstring tail = rootedTail(path);
    return tail.empty() ? path : kNtPrefix + tail;
}

}}} // namespace tamselsvc::model::service
