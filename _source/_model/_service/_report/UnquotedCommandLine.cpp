#include "_model/_service/_report/UnquotedCommandLine.h"

namespace tamselsvc { namespace model { namespace service {

namespace {

bool isBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
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

std::wstring lookedForPathOf(const std::wstring& prefix)
{
    std::wstring path = programPathFor(prefix);
    if (path.compare(0, 4, L"\\??\\") == 0) {
        path.erase(0, 4);
    }
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path;
}

ProgramSearch searchProgram(const std::wstring& commandLine, const PathExists& exists)
{
    ProgramSearch search;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        search.quoted = true;
        search.programFound = true;
        const size_t close = commandLine.find(L'"', 1);
        search.program = commandLine.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
        search.programStart = 1;
        search.programLength = search.program.size();
        return search;
    }
    size_t start = 0;
    while (start < commandLine.size() && isBlank(commandLine[start])) {
        ++start;
    }
    size_t end = commandLine.size();
    while (end > start && isBlank(commandLine[end - 1])) {
        --end;
    }
    if (end == start) {
        return search; // nothing to start
    }
    // Each prefix that can be started, with whether it exists; the ones past MAX_PATH are
    // only counted, so the work stays bounded whatever the line's length.
    struct Tried {
        std::wstring path;
        size_t stop;
        bool exists;
    };
    std::vector<Tried> tried;
    size_t longestExisting = 0; // 1 + index in `tried`; 0 for none
    for (size_t stop = start;; ++stop) {
        while (stop < end && !isBlank(commandLine[stop])) {
            ++stop;
        }
        search.withSpaces = search.withSpaces || stop < end;
        // A prefix in the NT form is 4 characters longer than the path it names.
        if (stop - start <= kMaxStartablePath + 4) {
            const std::wstring prefix = commandLine.substr(start, stop - start);
            std::wstring path = lookedForPathOf(prefix);
            if (canNameAFile(prefix.compare(0, 4, L"\\??\\") == 0 ? prefix.substr(4) : prefix) &&
                path.size() <= kMaxStartablePath) {
                const bool found = exists(path);
                tried.push_back({std::move(path), stop, found});
                if (found) {
                    longestExisting = tried.size();
                }
            }
        }
        if (stop >= end) {
            break;
        }
    }
    search.programFound = longestExisting != 0;
    const size_t before = search.programFound ? longestExisting - 1 : tried.size();
    for (size_t i = 0; i < before; ++i) {
        if (tried[i].exists) {
            search.planted.push_back(tried[i].path);
        }
        if (search.triedBefore.size() < kMaxListedPaths) {
            search.triedBefore.push_back(std::move(tried[i].path));
        } else {
            ++search.triedNotListed;
        }
    }
    if (search.programFound) {
        search.program = tried[longestExisting - 1].path;
        search.programStart = start;
        search.programLength = tried[longestExisting - 1].stop - start;
    }
    return search;
}

std::wstring withProgramQuoted(const std::wstring& commandLine, const ProgramSearch& search)
{
    if (search.quoted) {
        return commandLine;
    }
    if (!search.programFound) {
        return std::wstring();
    }
    const size_t after = search.programStart + search.programLength;
    return L"\"" + commandLine.substr(search.programStart, search.programLength) + L"\"" + commandLine.substr(after);
}

bool typedAtCmd(const std::wstring& commandLine, std::wstring& typed)
{
    typed.clear();
    bool inQuotes = false;
    for (size_t i = 0; i < commandLine.size(); ++i) {
        const wchar_t c = commandLine[i];
        if (c < 32 || c == 127) {
            typed.clear();
            return false;
        }
        if (c == L'"') {
            inQuotes = !inQuotes;
        } else if (c == L'%') {
            if (inQuotes || i + 1 == commandLine.size() || commandLine[i + 1] == L'"') {
                typed.clear();
                return false;
            }
            typed += L"%^";
            continue;
        } else if (!inQuotes && std::wstring(L"&|<>()^!").find(c) != std::wstring::npos) {
            typed += L'^';
        }
        typed += c;
    }
    return true;
}

std::wstring clipped(const std::wstring& text, std::size_t maxChars, std::size_t& rest)
{
    rest = text.size() > maxChars ? text.size() - maxChars : 0;
    return rest ? text.substr(0, maxChars) : text;
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
