// libFuzzer target: the paths Windows tries for a command line, and the quoting of a
// registration, on arbitrary UTF-16 text (little-endian pairs of bytes), "%", quotes,
// tabs and lone surrogates included. Checks, besides the sanitizers:
// - the real program is a prefix of the line that ends at a blank or at the end of the
//   line without its trailing blanks, found by a look-up that says yes to one path in three;
// - each tried path is an earlier prefix that ends at a blank, as Windows looks for it, in
//   the order of the line, and holds no double quote;
// - the line with its program quoted names the same program, quoted, with nothing tried
//   before it;
// - an argument quoted for sc.exe or reg.exe splits back whole.
#include "ArgvSplit.h"
#include "_model/_service/_report/Registration.h"
#include "_model/_service/_report/UnquotedCommandLine.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

using namespace tamselsvc::model::service;

namespace {

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

bool isBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

bool existsOneInThree(const std::wstring& path)
{
    return path.size() % 3 == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::wstring line;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const wchar_t c = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (c == 0) {
            break; // a registry string ends at its first NUL
        }
        line += c;
    }

    const ProgramSearch search = searchProgram(line, &existsOneInThree);
    check(search.quoted == (!line.empty() && line[0] == L'"'));
    check(search.programLength <= line.size() && search.triedBefore.size() <= kMaxListedPaths);
    if (!search.quoted && search.programFound && search.programStart == 0) {
        size_t end = line.size();
        while (end > 0 && isBlank(line[end - 1])) {
            --end;
        }
        const size_t length = search.programLength;
        check(length == end || (length < end && isBlank(line[length])));
        check(search.program == lookedForPathOf(line.substr(0, length)));
        // Tried paths: earlier prefixes ending at blanks, in order.
        size_t next = 0;
        for (const std::wstring& tried : search.triedBefore) {
            check(tried.find(L'"') == std::wstring::npos);
            bool found = false;
            for (; next < length && !found; ++next) {
                found = isBlank(line[next]) && lookedForPathOf(line.substr(0, next)) == tried;
            }
            check(found);
        }
        const std::wstring program = line.substr(0, length);
        if (length > 0 && program.find(L'"') == std::wstring::npos) {
            const ProgramSearch again = searchProgram(withProgramQuoted(line, search), &existsOneInThree);
            check(again.quoted && again.program == program && !isUnquotedWithSpaces(again));
        }
    }

    const auto items = brimlock_native::splitCommandLine(L"p " + quoteArgument(line));
    check(items.size() == 2 && items[1] == line);
    return 0;
}
