#pragma once
// The dialog program's texts as the user must see them, written out independently of the
// resource scripts.

#include <windows.h>

#include <string>

namespace dialog_test {

constexpr LANGID kEnglish = 1033;
constexpr LANGID kJapanese = 1041;

// The language of the string table the system serves this run: BRIMLOCK_DIALOG_LANGUAGE
// when the test sets it, else English.
LANGID testLanguage();

// The string-table text of `id` (1, 4, 5 or 6) in `language`; null for anything else.
const wchar_t* expectedText(LANGID language, UINT id);

// Body `id` with `path` put in place of its "%s" by plain substitution.
std::wstring expectedNotice(LANGID language, UINT id, const std::wstring& path);

} // namespace dialog_test
