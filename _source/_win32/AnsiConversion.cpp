#include "_win32/AnsiConversion.h"

#include <climits>

namespace Corvane { namespace Orlin { namespace win32 {

Ports<AnsiConversionPorts> ansiConversionPorts{AnsiConversionPorts{&::WideCharToMultiByte}};

namespace {

[[noreturn]] void raise(const char* message)
{
    const DWORD error = GetLastError();
    if (error == ERROR_NO_UNICODE_TRANSLATION) {
        throw AnsiConversionException("Invalid UTF-16 sequence found in input string.", error);
    }
    throw AnsiConversionException(message, error);
}

} // namespace

std::string ToAnsi(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    if (text.size() > static_cast<size_t>(INT_MAX)) {
        throw std::overflow_error("Input string too long: size_t-length doesn't fit into int.");
    }
    const WideCharToMultiByteFn convert = ansiConversionPorts().wideCharToMultiByte;
    const int length = static_cast<int>(text.size());
    const int needed = convert(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed == 0) {
        raise("Cannot get result string length when converting from UTF-16 to ANSI "
              "(WideCharToMultiByte failed).");
    }
    std::string result(static_cast<size_t>(needed), '\0');
    if (convert(CP_THREAD_ACP, 0, text.data(), length, &result[0], needed, nullptr, nullptr) == 0) {
        raise("Cannot convert from UTF-16 to ANSI (WideCharToMultiByte failed).");
    }
    return result;
}

}}} // namespace Corvane::Orlin::win32
