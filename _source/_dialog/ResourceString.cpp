#include "_dialog/ResourceString.h"

#include <cwchar>

namespace brimlockdlg {

std::wstring loadResourceString(HINSTANCE instance, UINT id)
{
    wchar_t buffer[512];
    const int length = LoadStringW(instance, id, buffer, 512);
    if (length <= 0) {
        return std::wstring();
    }
    // LoadStringW terminates what it copies; the text ends at the first zero.
    return std::wstring(buffer, wcsnlen(buffer, 512));
}

} // namespace brimlockdlg
