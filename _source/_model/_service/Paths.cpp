#include "_model/_service/Paths.h"

namespace tamselsvc { namespace model { namespace service {

namespace {

bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// The name as far as the extension rules see it: cut at the first colon.
std::wstring withoutStream(const std::wstring& fileName)
{
    const size_t colon = fileName.find(L':');
    return colon == std::wstring::npos ? fileName : fileName.substr(0, colon);
}

// Where the extension of `name` (no colon in it) starts; npos when it has none.
size_t extensionStart(const std::wstring& name)
{
    if (name == L"." || name == L"..") {
        return std::wstring::npos;
    }
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos || dot == 0) {
        return std::wstring::npos; // no dot, or the only dot leads the name
    }
    return dot;
}

// Length of the root at the start of `path`: "C:\" 3, "C:" 2, "\\server\share\" up to and
// including its separator, "\" 1, a relative path 0.
size_t rootLength(const std::wstring& path)
{
    if (path.size() >= 2 && path[1] == L':') {
        return (path.size() >= 3 && isSeparator(path[2])) ? 3 : 2;
    }
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        size_t i = 2;
        for (int component = 0; component < 2; ++component) {
            while (i < path.size() && !isSeparator(path[i])) {
                ++i;
            }
            if (i < path.size()) {
                ++i; // the separator after the server, then after the share
            }
        }
        return i;
    }
    if (!path.empty() && isSeparator(path[0])) {
        return 1;
    }
    return 0;
}

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
std::wstring fileNameOf(const std::wstring& path)
{
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::wstring extensionOf(const std::wstring& fileName)
{
    const std::wstring name = withoutStream(fileName);
    const size_t start = extensionStart(name);
    return start == std::wstring::npos ? std::wstring() : name.substr(start);
}

std::wstring stemOf(const std::wstring& fileName)
{
    const std::wstring name = withoutStream(fileName);
    const size_t start = extensionStart(name);
    return start == std::wstring::npos ? name : name.substr(0, start);
}

std::wstring stemOfPath(const std::wstring& path)
{
    return stemOf(fileNameOf(path));
}

std::wstring lowerAsciiOnly(std::wstring text)
{
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c + 32);
        }
    }
    return text;
}

std::wstring lowerStemOfPath(const std::wstring& path)
{
    return lowerAsciiOnly(stemOfPath(path));
}

bool sameStem(const std::wstring& pathA, const std::wstring& pathB)
{
    return lowerStemOfPath(pathA) == lowerStemOfPath(pathB);
}

std::wstring parentOf(const std::wstring& path)
{
    const size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) {
        return std::wstring(); // a bare name: its whole text is the file name
    }
    std::wstring parent = path.substr(0, separator + 1);
    const size_t root = rootLength(parent);
    while (parent.size() > root && isSeparator(parent.back())) {
        parent.pop_back();
    }
    return parent;
}

std::wstring joinPath(const std::wstring& folder, const std::wstring& name)
{
    if (folder.empty() || isSeparator(folder.back())) {
        return folder + name;
    }
    return folder + L'\\' + name;
}


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
