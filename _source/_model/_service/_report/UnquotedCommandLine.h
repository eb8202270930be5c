#pragma once
// How Windows finds the program in a command line when CreateProcess is given no
// application name, as the service control manager does with a service's ImagePath and
// as the Run keys are started.
//
// - A line that starts with a double quote names its program between the quotes: nothing
//   is searched.
// - Any other line is tried prefix by prefix, from its first non-blank character: the text
//   up to the first blank (space or tab), then up to the second blank, and so on;
//   consecutive blanks each end a prefix of their own; the last prefix is the line without
//   its trailing blanks. Each prefix is looked for as written when its last path component
//   has a dot in it, and with ".exe" added when it has none: "C:\Program" is looked for as
//   "C:\Program.exe", "C:\Program Files\v1.2" as it is. The first that exists is started.
// - The path looked for is the file the system opens: "/" is a separator like "\", and a
//   prefix in the NT form ("\??\C:\Program") names the plain path after "\??\". A path of
//   MAX_PATH (260) characters or more is never started (CreateProcess looks for the
//   program in a buffer of MAX_PATH characters): it is neither looked for nor listed.
// - Nothing else is special. A double quote later in the line is part of a prefix; "%" is
//   an ordinary character (environment variables of a REG_EXPAND_SZ value are expanded
//   before the line gets here, by whoever reads the registry).
//
// The real program: Windows starts the first prefix that exists, and the registration's
// own program is the longest prefix that exists, whatever its extension; the shorter ones
// that exist are files planted in front of it. Whether a path exists is asked of `exists`
// (the caller's file look-up), at most once per prefix. When no prefix exists, the program
// cannot be told: every tried path is listed and no quoting is offered. Prefixes that no
// file can be named (empty, or holding one of " < > | * ? or a control character) are
// never looked for nor listed.
//
// Bounded work: at most one look-up per prefix shorter than MAX_PATH, whatever the line's
// length, and at most kMaxListedPaths paths listed (the rest counted), so a 32 KB line
// costs no more than a short one.
//
// Pure string work on UTF-16 text: no system call, no Windows header.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

constexpr std::size_t kMaxStartablePath = 259; // MAX_PATH without its NUL
constexpr std::size_t kMaxListedPaths = 32;

using PathExists = std::function<bool(const std::wstring& path)>;

struct ProgramSearch {
    bool quoted = false;                   // the line starts with a double quote
    bool withSpaces = false;               // unquoted, and Windows tries more than one prefix
    bool programFound = false;             // quoted, or a prefix exists
    std::vector<std::wstring> triedBefore; // the first kMaxListedPaths paths tried before the
                                           // real program (every tried path when none exists)
    std::size_t triedNotListed = 0;        // tried paths beyond those listed
    std::vector<std::wstring> planted;     // of the paths tried before the program, those
                                           // that exist, in order (listed or not)
    std::wstring program;                  // the real program, as Windows looks for it
    std::size_t programStart = 0;          // its text in the line: after the leading blanks
    std::size_t programLength = 0;         // (or the opening quote), this long
};

ProgramSearch searchProgram(const std::wstring& commandLine, const PathExists& exists);

// Unquoted with spaces: Windows would try at least one other path than the real program,
// or cannot find it among several.
inline bool isUnquotedWithSpaces(const ProgramSearch& search)
{
    return search.withSpaces && (!search.programFound || !search.triedBefore.empty() || search.triedNotListed > 0);
}

// How one prefix is looked for: as written when its last component holds a dot, else with
// ".exe" added.
std::wstring programPathFor(const std::wstring& prefix);

// The file Windows opens for one prefix: programPathFor, with the leading "\??\" dropped
// and each "/" made a "\".
std::wstring lookedForPathOf(const std::wstring& prefix);

// The line with exactly its real program in double quotes and the arguments after it
// ("C:\A B\x.exe" -k); the leading blanks, which Windows skips, are dropped. A quoted line
// as it is; "" for a line whose program was not found (no quoting is safe).
std::wstring withProgramQuoted(const std::wstring& commandLine, const ProgramSearch& search);

// One argument of a command line as the C runtime's argument split reads it back (the
// rules of sc.exe and reg.exe): unchanged when it is not empty and holds no blank or
// double quote; otherwise in double quotes, with each double quote and the backslashes
// directly in front of it, and the backslashes at its end, escaped.
std::wstring quoteArgument(const std::wstring& argument);

// A command line as it must be typed at cmd's prompt so that cmd hands it on unchanged:
// outside the double quotes as cmd counts them (every " opens or closes), each of
// & | < > ( ) ^ ! gets a caret in front, and each % a caret after it (no variable is named
// "^..."). False, and `typed` empty, when no such text exists: a control character (a line
// break would end the command), or a % inside double quotes or in front of a double quote
// or at the end, where cmd would expand it and a caret cannot stop it.
bool typedAtCmd(const std::wstring& commandLine, std::wstring& typed);

// `text`, or its first `maxChars` characters when it is longer; `rest` says how many were
// left out.
std::wstring clipped(const std::wstring& text, std::size_t maxChars, std::size_t& rest);

}}} // namespace tamselsvc::model::service
