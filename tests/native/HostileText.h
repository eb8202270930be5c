#pragma once
// Random UTF-16 text for the native checks: names drawn from the units that matter to the
// name rules and the command line (separators, dots, colons, quotes, blanks, A-Z and a-z,
// "%", letters outside any ANSI code page, lone surrogates, U+FFFF) and any other unit.

#include <cstdint>
#include <random>
#include <string>

namespace brimlock_native {

class HostileText {
public:
    explicit HostileText(std::uint32_t seed) : _random(seed) {}

    wchar_t unit()
    {
        static const wchar_t kSpecial[] = {L'\\', L'/', L'.', L':', L'"', L' ', L'\t', L'%', L'A', L'Z', L'a',
                                           L'z',  L'P', L'p', L'0', L'9', wchar_t(0x00E9), wchar_t(0x4E2D),
                                           wchar_t(0xD800), wchar_t(0xDFFF), wchar_t(0xFFFF), wchar_t(0x0130)};
        const unsigned pick = _random() % 4;
        if (pick < 3) {
            return kSpecial[_random() % (sizeof kSpecial / sizeof kSpecial[0])];
        }
        return static_cast<wchar_t>(1 + _random() % 0xFFFF); // any UTF-16 unit but NUL
    }

    std::wstring text(size_t maxLength)
    {
        std::wstring out(_random() % (maxLength + 1), L'\0');
        for (wchar_t& c : out) {
            c = unit();
        }
        return out;
    }

    // A name a Windows file system accepts: no NUL, none of \ / : * ? " < > |, not "." or "..".
    std::wstring legalFileName(size_t maxLength)
    {
        for (;;) {
            std::wstring name = text(maxLength);
            std::wstring legal;
            for (wchar_t c : name) {
                if (c >= 32 && std::wstring(L"\\/:*?\"<>|").find(c) == std::wstring::npos) {
                    legal += c;
                }
            }
            if (!legal.empty() && legal != L"." && legal != L"..") {
                return legal;
            }
        }
    }

    // A file's full path of legal names: "C:", then 1 to `maxDepth` names of up to
    // `maxNameLength` units, each after a backslash.
    std::wstring legalPath(unsigned maxDepth, size_t maxNameLength)
    {
        std::wstring path = L"C:";
        const unsigned depth = 1 + number(maxDepth);
        for (unsigned i = 0; i < depth; ++i) {
            path += L"\\" + legalFileName(maxNameLength);
        }
        return path;
    }

    std::uint32_t number(std::uint32_t below) { return _random() % below; }

private:
    std::mt19937 _random;
};

} // namespace brimlock_native
