#include "_win32/ErrorText.h"

#include "_win32/LogDebug.h"
#include "_win32/UniqueHandle.h"

namespace Corvane { namespace Orlin {

namespace {

// FormatMessageA or FormatMessageW: from the system, inserts ignored, neutral language, into
// a buffer the call allocates.
template <typename Char, typename Format>
std::basic_string<Char> systemMessage(Format format, DWORD errorCode)
{
    Char* text = nullptr;
    const DWORD length = format(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, errorCode, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                reinterpret_cast<Char*>(&text), 0, nullptr);
    UniqueLocalMem owner(text);
    return (length && text) ? std::basic_string<Char>(text, length) : std::basic_string<Char>();
}

} // namespace

std::string SystemMessageA(DWORD errorCode)
{
    return systemMessage<char>(&::FormatMessageA, errorCode);
}

std::wstring SystemMessageW(DWORD errorCode)
{
    return systemMessage<wchar_t>(&::FormatMessageW, errorCode);
}

void LogErrorLineA(DWORD errorCode)
{
    const std::string text = SystemMessageA(errorCode);
    LogDebugA("errorcode=0x%x(%d), %s", errorCode, static_cast<int>(errorCode), text.c_str());
}

}} // namespace Corvane::Orlin
