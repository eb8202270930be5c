#include "FuzzCommandLines.h"

#include "TestProcess.h"

namespace dialog_test {

namespace {

const wchar_t* const kPieces[] = {
    L"/normal", L"/restart", L"/fatal", L"/Normal", L"normal", L"/FATAL", L"/restart ", L"/",
    L"C:\\Program", L"C:\\Program Files", L"C:\\Program Files (x86)\\Corvane\\Quarrow", L"\\\\server\\share\\",
    L"%", L"%s", L"%n", L"%d%x%p", L"%%", L"%ls", L"%S",
    L"\"", L"\"\"", L"\\", L"\\\\", L"\\\"", L"\\\\\"", L" ", L"\t", L"  ",
    L"a", L"x.exe", L"\u00E9", L"\u30D7\u30ED\u30B0\u30E9\u30E0", L"\U0001F600", L"\u201D", L"\uFFFD", L"\u3000",
};

const wchar_t kSoupChars[] = L"\"\\ \t%sa/nN\u00E9\u30D7\u201D\u3000:.";

} // namespace

int exitCodeFor(const std::vector<std::wstring>& items)
{
    if (items.size() != 3) {
        return 1;
    }
    if (items[1] != L"/normal" && items[1] != L"/restart" && items[1] != L"/fatal") {
        return 2;
    }
    return items[2].empty() ? 3 : 0;
}

std::wstring FuzzCommandLines::randomItem()
{
    switch (below(8)) {
    case 0:
        return std::wstring();
    case 1: // a valid switch, often
        return kPieces[below(3)];
    case 2: { // long: up to a few thousand characters
        std::wstring item;
        const size_t length = 256 + below(4000);
        while (item.size() < length) {
            item += kPieces[below(sizeof(kPieces) / sizeof(kPieces[0]))];
        }
        return item;
    }
    default: {
        std::wstring item;
        const size_t pieces = 1 + below(6);
        for (size_t i = 0; i < pieces; ++i) {
            item += kPieces[below(sizeof(kPieces) / sizeof(kPieces[0]))];
        }
        return item;
    }
    }
}

std::wstring FuzzCommandLines::randomSoup()
{
    std::wstring soup;
    const size_t length = below(10) == 0 ? below(3000) : below(60);
    for (size_t i = 0; i < length; ++i) {
        if (below(4) == 0) {
            soup += kPieces[below(sizeof(kPieces) / sizeof(kPieces[0]))];
        } else {
            soup += kSoupChars[below(sizeof(kSoupChars) / sizeof(kSoupChars[0]) - 1)];
        }
    }
    return soup;
}

FuzzLine FuzzCommandLines::next(const std::wstring& programPath)
{
    FuzzLine line;
    if (below(10) < 6) {
        line.structured = true;
        line.items.push_back(programPath);
        // Three items (program and two arguments) half of the time, otherwise 1 to 6.
        const size_t count = below(2) == 0 ? 3 : 1 + below(6);
        for (size_t i = 1; i < count; ++i) {
            line.items.push_back(randomItem());
        }
        // Lean towards lines that pass the switch check, so the path rules get exercised.
        if (count == 3 && below(2) == 0) {
            line.items[1] = kPieces[below(3)];
            if (below(4) == 0) {
                line.items[2].clear();
            }
        }
        for (size_t i = 1; i < count; ++i) {
            line.arguments += below(5) == 0 ? L" \t " : L" ";
            std::wstring quoted = brimlock_test::quoteArgument(line.items[i]);
            // Quotes around an argument that needs none must not change it (not with a
            // backslash in it, which would escape the closing quote).
            if (quoted == line.items[i] && quoted.find(L'\\') == std::wstring::npos && below(3) == 0) {
                quoted = L"\"" + quoted + L"\"";
            }
            line.arguments += quoted;
        }
        if (below(4) == 0) {
            line.arguments += L"  ";
        }
    } else {
        line.arguments = L" " + randomSoup();
    }
    return line;
}

} // namespace dialog_test
