// The program's whole pass against its real string table, with the desktop calls and the
// message box replaced.

#include "DialogImage.h"
#include "CommandLineArgsOf.h"
#include "ExpectedTexts.h"
#include "FakeDesktopApi.h"

#include "_dialog/NoticeProgram.h"

#include <gtest/gtest.h>

using namespace brimlockdlg;
using namespace dialog_test;

TEST(NoticeProgram, BadArgumentsShowNothing)
{
    DialogImage image;
    ASSERT_NE(nullptr, image.module()) << "error " << image.error();
    struct Case {
        std::vector<std::wstring> items;
        int exitCode;
    } cases[] = {
        {{}, 1},
        {{L"brimlockdlg.exe"}, 1},
        {{L"brimlockdlg.exe", L"/normal"}, 1},
        {{L"brimlockdlg.exe", L"/normal", L"C:\\Program", L"extra"}, 1},
        {{L"brimlockdlg.exe", L"/Normal", L"C:\\Program"}, 2},
        {{L"brimlockdlg.exe", L"normal", L"C:\\Program"}, 2},
        {{L"brimlockdlg.exe", L"/Restart", L""}, 2},
        {{L"brimlockdlg.exe", L"/normal", L""}, 3},
        {{L"brimlockdlg.exe", L"/fatal", L""}, 3},
    };
    for (const Case& c : cases) {
        FakeDesktopApi api;
        EXPECT_EQ(c.exitCode, runNotice(image.module(), argsOf(c.items), api)) << c.items.size() << " items";
        EXPECT_EQ(0, api.checks);
        EXPECT_TRUE(api.boxes.empty());
    }
}

TEST(NoticeProgram, EachSwitchShowsItsBodyWithThePath)
{
    DialogImage image;
    ASSERT_NE(nullptr, image.module()) << "error " << image.error();
    const LANGID language = testLanguage();
    const struct {
        const wchar_t* noticeSwitch;
        UINT id;
    } switches[] = {{L"/normal", 4}, {L"/restart", 5}, {L"/fatal", 6}};
    for (const auto& s : switches) {
        for (const wchar_t* path : {L"C:\\Program", L"C:\\Program Files (x86)\\Corvane\\Quarrow", L"C:\\50%s %d%%"}) {
            FakeDesktopApi api;
            api.answer(L"Default");
            EXPECT_EQ(0, runNotice(image.module(), argsOf({L"brimlockdlg.exe", s.noticeSwitch, path}), api));
            ASSERT_EQ(1u, api.boxes.size());
            EXPECT_EQ(std::wstring(expectedText(language, 1)), api.boxes[0].caption);
            EXPECT_EQ(expectedNotice(language, s.id, path), api.boxes[0].text);
            EXPECT_EQ(static_cast<UINT>(MB_OK | MB_SYSTEMMODAL), api.boxes[0].style);
        }
    }
}

TEST(NoticeProgram, MissingBodyIsExitCode2EvenWithEmptyPath)
{
    // This test program has no string table: every body (and the caption) is empty.
    FakeDesktopApi api;
    EXPECT_EQ(2, runNotice(GetModuleHandleW(nullptr), argsOf({L"x.exe", L"/normal", L"C:\\Program"}), api));
    EXPECT_EQ(2, runNotice(GetModuleHandleW(nullptr), argsOf({L"x.exe", L"/restart", L""}), api));
    EXPECT_TRUE(api.boxes.empty());
}
