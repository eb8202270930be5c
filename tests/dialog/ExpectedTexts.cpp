#include "ExpectedTexts.h"

// Typed from the product's wording, not taken from the resource scripts, so a slip in
// either one shows up as a difference.

namespace dialog_test {

namespace {

const wchar_t* const kEnglish_caption =
    L"Information from Corvane";

const wchar_t* const kEnglish_normal =
    L"There was a file on your computer called\r\n"
    L"\"%s\"\r\n"
    L"which could cause certain applications to not function correctly\r\n"
    L"or to be increased security risk.\r\n"
    L"Therefore, the countermeasure processing was implemented.\r\n"
    L"\r\n"
    L"Details were recorded in Windows Logs > Application which\r\n"
    L"source is \"brimlock\", so please check them with Event Viewer.\r\n";

const wchar_t* const kEnglish_restart =
    L"There was a file on your computer called\r\n"
    L"\"%s\"\r\n"
    L"which could cause certain applications to not function correctly\r\n"
    L"or to be increased security risk.\r\n"
    L"Therefore, the countermeasure processing was implemented.\r\n"
    L"\r\n"
    L"Please restart now to complete the process.\r\n"
    L"\r\n"
    L"Details were recorded in Windows Logs > Application which\r\n"
    L"source is \"brimlock\", so please check them with Event Viewer.\r\n";

const wchar_t* const kEnglish_fatal =
    L"There was a file on your computer called\r\n"
    L"\"%s\"\r\n"
    L"which could cause certain applications to not function correctly\r\n"
    L"or to be increased security risk.\r\n"
    L"Therefore, the countermeasure processing was tried\r\n"
    L"but not completed because of some errors.\r\n"
    L"\r\n"
    L"Details were recorded in Windows Logs > Application which\r\n"
    L"source is \"brimlock\", so please check them with Event Viewer.\r\n";

const wchar_t* const kJapanese_caption =
    L"Corvaneからのお知らせ";

const wchar_t* const kJapanese_normal =
    L"お使いのコンピューターに\r\n"
    L"\"%s\"\r\n"
    L"という名前のファイルがありました。\r\n"
    L"プログラムによっては、この名前のファイルが存在すると\r\n"
    L"正しく動作しない、あるいは、セキュリティリスクが高まる場合が\r\n"
    L"ありますので、対策処理を実施しました。\r\n"
    L"\r\n"
    L"Windows ログ > Application にソース \"brimlock\" として詳細を\r\n"
    L"記録していますので、イベントビューアーでご確認ください。\r\n";

const wchar_t* const kJapanese_restart =
    L"お使いのコンピューターに\r\n"
    L"\"%s\"\r\n"
    L"という名前のファイルがありました。\r\n"
    L"プログラムによっては、この名前のファイルが存在すると\r\n"
    L"正しく動作しない、あるいは、セキュリティリスクが高まる場合が\r\n"
    L"ありますので、対策処理を実施しました。\r\n"
    L"\r\n"
    L"処理を完了させるには今すぐ再起動してください。\r\n"
    L"\r\n"
    L"Windows ログ > Application にソース\"brimlock\" として詳細を\r\n"
    L"記録していますので、イベントビューアーでご確認ください。\r\n";

const wchar_t* const kJapanese_fatal =
    L"お使いのコンピューターに\r\n"
    L"\"%s\"\r\n"
    L"という名前のファイルがありました。\r\n"
    L"プログラムによっては、この名前のファイルが存在すると\r\n"
    L"正しく動作しない、あるいは、セキュリティリスクが高まる場合が\r\n"
    L"ありますので、対策処理を試行しましたが、\r\n"
    L"処理中にエラーが発生したため処理を中断しました。\r\n"
    L"\r\n"
    L"Windows ログ > Application にソース\u201Dbrimlock\u201Dとして詳細を\r\n"
    L"記録していますので、イベントビューアーでご確認ください。\r\n";

} // namespace
const wchar_t* expectedText(LANGID language, UINT id)
{
    const bool japanese = language == kJapanese;
    if (!japanese && language != kEnglish) {
        return nullptr;
    }
    switch (id) {
    case 1:
        return japanese ? kJapanese_caption : kEnglish_caption;
    case 4:
        return japanese ? kJapanese_normal : kEnglish_normal;
    case 5:
        return japanese ? kJapanese_restart : kEnglish_restart;
    case 6:
        return japanese ? kJapanese_fatal : kEnglish_fatal;
    default:
        return nullptr;
    }
}

LANGID testLanguage()
{
    wchar_t value[16] = {};
    return GetEnvironmentVariableW(L"BRIMLOCK_DIALOG_LANGUAGE", value, 16) ? static_cast<LANGID>(_wtoi(value))
                                                                            : kEnglish;
}

std::wstring expectedNotice(LANGID language, UINT id, const std::wstring& path)
{
    std::wstring text = expectedText(language, id);
    const size_t slot = text.find(L"%s");
    if (slot != std::wstring::npos) {
        text.replace(slot, 2, path);
    }
    return text;
}

} // namespace dialog_test
