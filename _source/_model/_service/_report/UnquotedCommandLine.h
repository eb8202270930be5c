#pragma once
// How Windows finds the program in a command line when CreateProcess is given no
// application name, as the service control manager does with a service's ImagePath and
// as the Run keys are started.
//
// - A line that starts with a double quote names its program between the quotes: nothing
//   is searched.
// - Any other line is tried prefix by prefix: the text up to the first blank (space or
//   tab), then up to the second blank, and so on; consecutive blanks each end a prefix of
//   their own. Each prefix is looked for as written when its last path component has a dot
//   in it, and with ".exe" added when it has none: "C:\Program" is looked for as
//   "C:\Program.exe", "C:\Program Files\v1.2" as it is. The first that exists is started.
// - Nothing else is special. A double quote later in the line is part of a prefix; "%" is
//   an ordinary character (environment variables of a REG_EXPAND_SZ value are expanded
//   before the line gets here, by whoever reads the registry).
//
// The real program: since Windows stops at the first prefix that exists, which one the
// registration means cannot be told from the text alone. Taken here: the first prefix whose
// text, as written, ends in ".exe", ".com", ".bat" or ".cmd" (ASCII case ignored); when no
// prefix does, the whole line without its trailing blanks. The paths tried before it are
// those a planted file can take over. Prefixes that no file can be named (empty, blanks
// only, or holding one of " < > | * ? or a control character) are left out of that list.
//
// Pure string work on UTF-16 text: no system call, no Windows header.

#include <cstddef>
#include <string>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

struct ProgramSearch {
    bool quoted = false;                   // the line starts with a double quote
    std::vector<std::wstring> triedBefore; // paths tried before the real program, in order
    std::wstring program;                  // the real program, as Windows looks for it
    std::size_t programLength = 0;         // length of the real program's text in the line
};

ProgramSearch searchProgram(const std::wstring& commandLine);

// Unquoted with spaces: Windows would try at least one other path before the real program.
inline bool isUnquotedWithSpaces(const ProgramSearch& search)
{
    return !search.triedBefore.empty();
}

// How one prefix is looked for: as written when its last component holds a dot, else with
// ".exe" added.
std::wstring programPathFor(const std::wstring& prefix);

// The line with its real program in double quotes ("C:\A B\x.exe" -k); a quoted line as
// it is.
std::wstring withProgramQuoted(const std::wstring& commandLine, const ProgramSearch& search);

// One argument of a command line as the C runtime's argument split reads it back (the
// rules of sc.exe and reg.exe): unchanged when it is not empty and holds no blank or
// double quote; otherwise in double quotes, with each double quote and the backslashes
// directly in front of it, and the backslashes at its end, escaped.
std::wstring quoteArgument(const std::wstring& argument);

}}} // namespace tamselsvc::model::service
