// The dialog's command line splits back into exactly its three items for every path the
// file system allows, and the two things that could break the quoting (a double quote, a
// path ending in a backslash) are what no file path can contain.
#include "ArgvSplit.h"
#include "HostileText.h"
#include "_process/DialogCommandLine.h"

#include <gtest/gtest.h>

using brimlock_native::HostileText;
using brimlock_native::splitCommandLine;
using tamselsvc::process::formatDialogCommandLine;

namespace {

const std::wstring kProgram = L"C:\\Program Files (x86)\\Corvane\\Quarrow Link\\brimlockdlg.exe";

bool splitsBack(const std::wstring& path)
{
    const auto items = splitCommandLine(formatDialogCommandLine(kProgram, L"/normal", path));
    return items.size() == 3 && items[0] == kProgram && items[1] == L"/normal" && items[2] == path;
}

} // namespace

TEST(DialogCommandLine, SplitModelFollowsTheDocumentedRules)
{
    using V = std::vector<std::wstring>;
    EXPECT_EQ((V{L"C:\\a b\\p.exe", L"/normal", L"C:\\Program"}),
              splitCommandLine(L"\"C:\\a b\\p.exe\" /normal \"C:\\Program\""));
    EXPECT_EQ((V{L"p", L"a\\\\b", L"c\"d", L"e\\"}), splitCommandLine(L"p a\\\\b c\\\"d \"e\\\\\""));
    EXPECT_EQ((V{L"p", L"a b", L"c"}), splitCommandLine(L"p \"a b\"\tc"));
}

TEST(DialogCommandLine, EveryLegalPathSplitsIntoExactlyThreeItems)
{
    HostileText random(7);
    for (int round = 0; round < 20000; ++round) {
        // A path of legal names: a drive, folders, a file; blanks, "%", tabs, dots at the
        // end, letters outside any code page and lone surrogates are all allowed.
        const std::wstring path = random.legalPath(4, 20);
        for (const wchar_t* noticeSwitch : {L"/normal", L"/restart", L"/fatal"}) {
            const auto items = splitCommandLine(formatDialogCommandLine(kProgram, noticeSwitch, path));
            ASSERT_EQ(3u, items.size());
            EXPECT_EQ(kProgram, items[0]);
            EXPECT_EQ(noticeSwitch, items[1]);
            ASSERT_EQ(path, items[2]);
        }
    }
}

TEST(DialogCommandLine, OnlyWhatNoFilePathHoldsBreaksTheQuoting)
{
    // A path ending in a backslash (a folder's, never a file's) escapes the closing quote.
    EXPECT_FALSE(splitsBack(L"C:\\a b\\"));
    // A double quote (illegal in Windows names) ends the quoted run early.
    EXPECT_FALSE(splitsBack(L"C:\\a\" b"));
    // Backslashes inside the path, even many before a blank, stay literal.
    const std::wstring inner = L"C:\\\\\\x\\\\ y\\z";
    const auto items = splitCommandLine(formatDialogCommandLine(kProgram, L"/fatal", inner));
    ASSERT_EQ(3u, items.size());
    EXPECT_EQ(inner, items[2]);
}
