// The dialog program's argument rules and text formatting, without any window.

#include "CommandLineArgsOf.h"
#include "ExpectedTexts.h"

#include "_dialog/DialogStringIds.h"
#include "_dialog/NoticeArguments.h"

#include <gtest/gtest.h>

using namespace brimlockdlg;
using dialog_test::argsOf;
using dialog_test::expectedNotice;
using dialog_test::expectedText;
using dialog_test::kEnglish;
using dialog_test::kJapanese;

TEST(NoticeArguments, NotExactlyThreeItemsIsExitCode1)
{
    EXPECT_EQ(kExitBadItemCount, selectNotice(CommandLineArgs{}).exitCode) << "failed split";
    EXPECT_EQ(kExitBadItemCount, selectNotice(argsOf({L"dlg.exe"})).exitCode);
    EXPECT_EQ(kExitBadItemCount, selectNotice(argsOf({L"dlg.exe", L"/normal"})).exitCode);
    EXPECT_EQ(kExitBadItemCount, selectNotice(argsOf({L"dlg.exe", L"/normal", L"C:\\Program", L"x"})).exitCode);
    // The count decides even when the switch is also wrong.
    EXPECT_EQ(kExitBadItemCount, selectNotice(argsOf({L"dlg.exe", L"/bad"})).exitCode);
    // A count that disagrees with the list is not trusted.
    CommandLineArgs odd = argsOf({L"dlg.exe", L"/normal"});
    odd.count = 3;
    EXPECT_EQ(kExitBadItemCount, selectNotice(odd).exitCode);
}

TEST(NoticeArguments, SwitchIsExactAndCaseSensitive)
{
    EXPECT_EQ(static_cast<unsigned>(IDS_NOTICE_NORMAL), noticeBodyId(L"/normal"));
    EXPECT_EQ(static_cast<unsigned>(IDS_NOTICE_RESTART), noticeBodyId(L"/restart"));
    EXPECT_EQ(static_cast<unsigned>(IDS_NOTICE_FATAL), noticeBodyId(L"/fatal"));
    for (const wchar_t* bad : {L"/Normal", L"normal", L"/NORMAL", L"/normal ", L" /normal", L"/normalx", L"-normal",
                               L"/restart\t", L"/Fatal", L"/", L"", L"/caption"}) {
        EXPECT_EQ(0u, noticeBodyId(bad)) << '"' << testing::PrintToString(std::wstring(bad)) << '"';
        const NoticeRequest request = selectNotice(argsOf({L"dlg.exe", bad, L"C:\\Program"}));
        EXPECT_EQ(kExitBadSwitch, request.exitCode);
        EXPECT_EQ(0u, request.bodyId);
        EXPECT_TRUE(request.path.empty());
    }
    const NoticeRequest good = selectNotice(argsOf({L"dlg.exe", L"/fatal", L"C:\\Program Files"}));
    EXPECT_EQ(kExitShown, good.exitCode);
    EXPECT_EQ(static_cast<unsigned>(IDS_NOTICE_FATAL), good.bodyId);
    EXPECT_EQ(L"C:\\Program Files", good.path);
}

TEST(NoticeArguments, EmptyPathPassesSelectionButBodyIsTestedFirst)
{
    const NoticeRequest request = selectNotice(argsOf({L"dlg.exe", L"/normal", L""}));
    EXPECT_EQ(kExitShown, request.exitCode);
    EXPECT_TRUE(request.path.empty());
    EXPECT_EQ(kExitBadSwitch, checkNoticeTexts(L"", L""));
    EXPECT_EQ(kExitBadSwitch, checkNoticeTexts(L"", L"C:\\Program"));
    EXPECT_EQ(kExitEmptyPath, checkNoticeTexts(L"body %s", L""));
    EXPECT_EQ(kExitShown, checkNoticeTexts(L"body %s", L"C:\\Program"));
}

TEST(NoticeFormat, PathTakesThePlaceOfTheSlotAndNothingIsCut)
{
    // Every body of both languages, with paths from 1 to 600 characters: the text must be
    // the plain substitution, down to the final CR LF.
    for (LANGID language : {kEnglish, kJapanese}) {
        for (UINT id : {4u, 5u, 6u}) {
            const std::wstring body = expectedText(language, id);
            for (size_t length = 1; length <= 600; length += (length < 8 ? 1 : 37)) {
                std::wstring path = L"C:\\" + std::wstring(length, L'p');
                path.resize(length);
                const std::wstring text = formatNotice(body, path);
                ASSERT_EQ(expectedNotice(language, id, path), text)
                    << "language " << language << " id " << id << " path length " << length;
                ASSERT_EQ(body.size() - 2 + path.size(), text.size());
                ASSERT_EQ(L"\r\n", text.substr(text.size() - 2));
            }
        }
    }
}

TEST(NoticeFormat, PercentInThePathIsShownAsItStands)
{
    const std::wstring body = expectedText(kEnglish, 4);
    for (const wchar_t* path : {L"C:\\100%", L"C:\\%s%s%s%n%n", L"C:\\%d%x%p%S%ls", L"%", L"%%", L"C:\\a%*.*s"}) {
        EXPECT_EQ(expectedNotice(kEnglish, 4, path), formatNotice(body, path)) << testing::PrintToString(std::wstring(path));
    }
}

TEST(NoticeFormat, LongAndNonAsciiPaths)
{
    const std::wstring body = expectedText(kJapanese, 6);
    const std::wstring japanese = L"C:\\プログラム ファイル\\\u30C6\u30B9\u30C8";
    EXPECT_EQ(expectedNotice(kJapanese, 6, japanese), formatNotice(body, japanese));
    const std::wstring surrogates = L"C:\\\U0001F600\\x";
    EXPECT_EQ(expectedNotice(kJapanese, 6, surrogates), formatNotice(body, surrogates));
    // The longest path a command line can carry.
    const std::wstring longest = L"C:\\" + std::wstring(32760, L'x');
    const std::wstring text = formatNotice(body, longest);
    EXPECT_EQ(expectedNotice(kJapanese, 6, longest), text);
}
