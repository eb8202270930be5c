#pragma once
// The dialog program's command line as text: "<program>" <switch> "<file path>". Pure
// string work with no Windows header, so that the format can be built and checked on any
// platform.
//
// Why the quoting is enough: the items are split back by the rules of CommandLineToArgvW,
// where only a double quote, and backslashes directly in front of one, are special inside
// quotes. A Windows file name holds no double quote, and a file's path never ends in a
// backslash, so the closing quote is never escaped and every legal path comes back whole.

#include "_process/CommandLineFormat.h"

#include <string>

namespace tamselsvc { namespace process {

// <switch> "<file path>": the argument text after the program.
inline std::wstring formatDialogArguments(const std::wstring& noticeSwitch, const std::wstring& filePath)
{
    return noticeSwitch + L" \"" + filePath + L"\"";
}

// The whole command line, as the launch's ChildProcess passes it: the program in quotes,
// one space, the arguments.
inline std::wstring formatDialogCommandLine(const std::wstring& program, const std::wstring& noticeSwitch,
                                            const std::wstring& filePath)
{
    return Corvane::Orlin::formatCommandLine(program, formatDialogArguments(noticeSwitch, filePath));
}

}} // namespace tamselsvc::process
