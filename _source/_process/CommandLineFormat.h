#pragma once
// The command line a started program gets: the program path in quotes, one space and the
// argument text; the bare path, without quotes, when there are no arguments. Pure string
// work with no Windows header, so that the native build checks the very format the starts
// use.

#include <string>

namespace Corvane { namespace Orlin {

inline std::wstring formatCommandLine(const std::wstring& program, const std::wstring& arguments)
{
    if (arguments.empty()) {
        return program;
    }
    return L"\"" + program + L"\" " + arguments;
}

}} // namespace Corvane::Orlin
