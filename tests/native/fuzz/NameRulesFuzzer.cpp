// libFuzzer target: the name rules and the free-name search on arbitrary UTF-16 text.
// Input: UTF-16 units (little-endian pairs of bytes). The first unit picks how many of the
// numbered keys are taken beforehand; the rest, split at the first NUL, is a path and a
// second name that is also put among the taken keys. Checks, besides the sanitizers:
// the pieces of a name add up; the search returns a key that was free and is now taken,
// the first free one, and changes nothing when every key is taken; the dialog command
// line of a legal path splits back into its three items.
#include "ArgvSplit.h"
#include "_model/_service/Paths.h"
#include "_model/_service/_guard/NameRules.h"
#include "_process/DialogCommandLine.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unordered_set>

using namespace tamselsvc::model::service;

namespace {

void check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

bool legalFilePath(const std::wstring& path)
{
    if (path.empty() || path.back() == L'\\' || path.back() == L'/') {
        return false;
    }
    for (wchar_t c : path) {
        if (c < 32 || c == L'"') {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::wstring units;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        units += static_cast<wchar_t>(data[i] | (data[i + 1] << 8)); // UTF-16 units, as on Windows
    }
    if (units.empty()) {
        return 0;
    }
    const int takenUpTo = static_cast<int>(units[0] % (kMaxNameNumber + 2));
    const std::wstring rest = units.substr(1);
    const std::size_t nul = rest.find(L'\0');
    const std::wstring path = rest.substr(0, nul);
    const std::wstring other = nul == std::wstring::npos ? std::wstring() : rest.substr(nul + 1);

    const std::wstring name = fileNameOf(path);
    const std::wstring stem = stemOf(name);
    const std::wstring extension = extensionOf(name);
    check(stem + extension == name.substr(0, name.find(L':')));
    check(lowerAsciiOnly(lowerStemOfPath(path)) == lowerStemOfPath(path));
    const std::wstring parent = parentOf(path);
    check(path.compare(0, parent.size(), parent) == 0);
    check(stemContainsAny(path, {lowerStemOfPath(path)}));
    check(stemEqualsAny(path, {lowerStemOfPath(path)}) == sameStem(path, path));

    std::unordered_set<std::wstring> taken{lowerStemOfPath(path), lowerStemOfPath(other)};
    for (int n = 1; n <= takenUpTo && n <= kMaxNameNumber; ++n) {
        taken.insert(lowerStemOfPath(joinPath(parent, stem + std::to_wstring(n) + extension)));
    }
    const auto before = taken;
    const std::wstring chosen = findFreeNumberedName(parent, stem, extension, taken);
    if (chosen.empty()) {
        check(before == taken);
        for (int n = 1; n <= kMaxNameNumber; ++n) {
            check(before.count(lowerStemOfPath(joinPath(parent, stem + std::to_wstring(n) + extension))) == 1);
        }
    } else {
        const std::wstring key = lowerStemOfPath(chosen);
        check(before.count(key) == 0);
        check(taken.size() == before.size() + 1 && taken.count(key) == 1);
        for (int n = 1; n <= kMaxNameNumber; ++n) {
            const std::wstring q = joinPath(parent, stem + std::to_wstring(n) + extension);
            if (q == chosen) {
                break;
            }
            check(before.count(lowerStemOfPath(q)) == 1); // every lower number was taken
        }
    }

    if (legalFilePath(path)) {
        const std::wstring program = L"C:\\Program Files\\Corvane\\Quarrow Link\\brimlockdlg.exe";
        const auto items =
            brimlock_native::splitCommandLine(tamselsvc::process::formatDialogCommandLine(program, L"/normal", path));
        check(items.size() == 3 && items[0] == program && items[1] == L"/normal" && items[2] == path);
    }
    return 0;
}
