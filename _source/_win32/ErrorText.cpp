#include "_win32/ErrorText.h"

#include "_win32/LogDebug.h"
#include "_win32/UniqueHandle.h"

namespace Corvane { namespace Orlin {

std::string SystemMessageA(DWORD errorCode)
{
    LPSTR text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, errorCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
        nullptr);
    UniqueLocalMem owner(text);
    return (length && text) ? std::string(text, length) : std::string();
}

std::wstring SystemMessageW(DWORD errorCode)
{
    LPWSTR text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, errorCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0,
        nullptr);
    UniqueLocalMem owner(text);
    return (length && text) ? std::wstring(text, length) : std::wstring();
}

void LogErrorLineA(DWORD errorCode)
{
    const std::string text = SystemMessageA(errorCode);
    LogDebugA("errorcode=0x%x(%d), %s", errorCode, static_cast<int>(errorCode), text.c_str());
}

}} // namespace Corvane::Orlin
