#pragma once
// UTF-16 to the calling thread's ANSI code page. Characters the code page cannot hold
// become the system's default character; only a failed conversion raises.

#include "_win32/Ports.h"

#include <windows.h>

#include <stdexcept>
#include <string>

namespace Corvane { namespace Orlin { namespace win32 {

class AnsiConversionException : public std::runtime_error {
public:
    AnsiConversionException(const std::string& message, DWORD errorCode)
        : std::runtime_error(message), _errorCode(errorCode) {}
    DWORD errorCode() const noexcept { return _errorCode; }

private:
    DWORD _errorCode;
};

// Empty in, empty out (no system call). Raises std::overflow_error for an input longer
// than INT_MAX characters, AnsiConversionException when WideCharToMultiByte fails.
std::string ToAnsi(const std::wstring& text);

// The seam of the conversion: the system call ToAnsi makes, so that tests can fail it.
using WideCharToMultiByteFn = int(WINAPI*)(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL);
struct AnsiConversionPorts {
    WideCharToMultiByteFn wideCharToMultiByte;
};
extern Ports<AnsiConversionPorts> ansiConversionPorts;

}}} // namespace Corvane::Orlin::win32
