#include "_model/_service/_report/UnquotedCommandLine.h"

#include <initializer_list>

namespace tamselsvc { namespace model { namespace service {

namespace {

bool isBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

wchar_t lowerAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
}

bool endsWithIgnoringAsciiCase(const std::wstring& text, const wchar_t* tail)
{
    const std::wstring t(tail);
    if (text.size() < t.size()) {
        return false;
    }
    for (size_t i = 0; i < t.size(); ++i) {
        if (lowerAscii(text[text.size() - t.size() + i]) != t[i]) {
            return false;
        }
    }
    return true;
}

bool endsInProgramExtension(const std::wstring& prefix)
{
    for (const wchar_t* extension : {L".exe", L".com", L".bat", L".cmd"}) {
        if (endsWithIgnoringAsciiCase(prefix, extension)) {
            return true;
        }
    }
    return false;
}

// False for a prefix that no file can be named: empty, blanks only, or holding a character
// that Windows file names never hold.
bool canNameAFile(const std::wstring& prefix)
{
    bool anyNonBlank = false;
    for (const wchar_t c : prefix) {
        if (c < 32 || c == L'"' || c == L'<' || c == L'>' || c == L'|' || c == L'*' || c == L'?') {
            return false;
        }
        anyNonBlank = anyNonBlank || !isBlank(c);
    }
    return anyNonBlank;
}

} // namespace

std::wstring programPathFor(const std::wstring& prefix)
{
    const size_t separator = prefix.find_last_of(L"\\/");
    const size_t lastComponent = separator == std::wstring::npos ? 0 : separator + 1;
    if (prefix.find(L'.', lastComponent) != std::wstring::npos) {
        return prefix;
    }
    return prefix + L".exe";
}

ProgramSearch searchProgram(const std::wstring& commandLine)
{
    ProgramSearch search;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        search.quoted = true;
        const size_t close = commandLine.find(L'"', 1);
        search.program = commandLine.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
        search.programLength = close == std::wstring::npos ? commandLine.size() : close + 1;
        return search;
    }
    size_t end = commandLine.size();
    while (end > 0 && isBlank(commandLine[end - 1])) {
        --end;
    }
    if (end == 0) {
        return search; // nothing to start
    }
    for (size_t at = 0;;) {
        size_t stop = at;
        while (stop < end && !isBlank(commandLine[stop])) {
            ++stop;
        }
        const std::wstring prefix = commandLine.substr(0, stop);
        if (stop == end || endsInProgramExtension(prefix)) {
            search.program = programPathFor(prefix);
            search.programLength = stop;
            return search;
        }
        if (canNameAFile(prefix)) {
            search.triedBefore.push_back(programPathFor(prefix));
        }
        at = stop + 1; // past this one blank: the next blank, if any, ends the next prefix
    }
}

std::wstring withProgramQuoted(const std::wstring& commandLine, const ProgramSearch& search)
{
    if (search.quoted || search.programLength == 0) {
        return commandLine;
    }
    return L"\"" + commandLine.substr(0, search.programLength) + L"\"" + commandLine.substr(search.programLength);
}

std::wstring quoteArgument(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a double quote follows them: then each one is
        // doubled, and the quote itself escaped.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    // Those at the end come before the closing quote: doubled, so that it closes.
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

}}} // namespace tamselsvc::model::service
