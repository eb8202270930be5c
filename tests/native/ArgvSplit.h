#pragma once
// A portable model of how CommandLineToArgvW splits a command line (the rules Windows
// documents and Wine implements): the program item ends at its closing quote (no escapes
// in it) or at the first blank; then, in each item, 2n backslashes before a quote give n
// backslashes and the quote opens or closes a quoted run, 2n+1 give n backslashes and a
// literal quote, backslashes elsewhere are literal, a blank outside quotes ends the item,
// and in a quoted run a third quote in a row is a literal quote.
// Under Wine the hardening tests check this model against the real CommandLineToArgvW, so
// the native tests can rely on it for names Wine cannot make.

#include <string>
#include <vector>

namespace brimlock_native {

inline std::vector<std::wstring> splitCommandLine(const std::wstring& line)
{
    std::vector<std::wstring> items;
    size_t i = 0;
    const size_t n = line.size();
    // The program item.
    std::wstring program;
    if (i < n && line[i] == L'"') {
        ++i;
        while (i < n && line[i] != L'"') {
            program += line[i++];
        }
        if (i < n) {
            ++i; // the closing quote
        }
    } else {
        while (i < n && line[i] != L' ' && line[i] != L'\t') {
            program += line[i++];
        }
    }
    items.push_back(program);
    while (i < n && (line[i] == L' ' || line[i] == L'\t')) {
        ++i;
    }
    while (i < n) {
        std::wstring item;
        int quotes = 0; // odd: inside a quoted run
        size_t backslashes = 0;
        while (i < n) {
            const wchar_t c = line[i];
            if ((c == L' ' || c == L'\t') && quotes == 0) {
                break;
            }
            if (c == L'\\') {
                item += c;
                ++backslashes;
                ++i;
                continue;
            }
            if (c == L'"') {
                if (backslashes % 2 == 0) {
                    item.resize(item.size() - backslashes / 2);
                    ++quotes;
                } else {
                    item.resize(item.size() - backslashes / 2 - 1);
                    item += L'"';
                }
                ++i;
                backslashes = 0;
                while (i < n && line[i] == L'"') {
                    if (++quotes == 3) {
                        item += L'"';
                        quotes = 0;
                    }
                    ++i;
                }
                if (quotes == 2) {
                    quotes = 0;
                }
                continue;
            }
            item += c;
            backslashes = 0;
            ++i;
        }
        items.push_back(item);
        while (i < n && (line[i] == L' ' || line[i] == L'\t')) {
            ++i;
        }
    }
    return items;
}

} // namespace brimlock_native
