// The real message box, read back from its window with Win32 calls: caption, text,
// buttons, icon and modality, then closed with Return. Built twice: for English (the
// default) and for Japanese (LC_ALL=ja_JP.UTF-8); BRIMLOCK_DIALOG_LANGUAGE names the table
// the test expects.

#include "DialogImage.h"
#include "ExpectedTexts.h"
#include "MessageBoxProbe.h"

#include "TestProcess.h"
#include "_dialog/ResourceString.h"

#include <gtest/gtest.h>

// Suite names carry the language (DialogWindowEn, DialogWindowJa), so that the two builds
// list different tests.
#ifndef DIALOG_WINDOW_SUITE
#define DIALOG_WINDOW_SUITE DialogWindow
#define DIALOG_LANGUAGE_SUITE DialogLanguage
#endif

using namespace dialog_test;
using brimlock_test::MessageBoxView;
using brimlock_test::quoteArgument;
using brimlock_test::toUtf8;

namespace {

brimlock_test::StartedProcess startDialog(const std::wstring& noticeSwitch, const std::wstring& path)
{
    return brimlock_test::startProcess(quoteArgument(dialogProgramPath()) + L" " + noticeSwitch + L" " +
                                       quoteArgument(path));
}

// Reads the box of a freshly started dialog, checks it, and closes it with Return.
void showReadAndClose(const std::wstring& noticeSwitch, UINT id, const std::wstring& path)
{
    const LANGID language = testLanguage();
    brimlock_test::StartedProcess dialog = startDialog(noticeSwitch, path);
    ASSERT_TRUE(dialog.process) << "error " << GetLastError();
    HWND window = brimlock_test::waitForDialogWindow(dialog.processId, 20000);
    if (window == nullptr) {
        TerminateProcess(dialog.process.get(), 0xDEAD);
        FAIL() << "no message box within 20 s";
    }
    const MessageBoxView view = brimlock_test::readMessageBox(window);
    EXPECT_EQ(1u, brimlock_test::dialogWindowsOf(dialog.processId).size()) << "one box only";
    EXPECT_EQ(std::wstring(expectedText(language, 1)), view.caption) << toUtf8(view.caption);
    ASSERT_TRUE(view.textFound);
    const std::wstring expected = expectedNotice(language, id, path);
    EXPECT_EQ(expected, view.text) << "shown:\n" << toUtf8(view.text) << "\nexpected:\n" << toUtf8(expected);
    ASSERT_EQ(1u, view.buttons.size());
    EXPECT_EQ(IDOK, view.buttons[0].id);
    EXPECT_FALSE(view.hasIcon);
    EXPECT_EQ(nullptr, view.owner);
    EXPECT_NE(0, view.exStyle & WS_EX_TOPMOST) << "system-modal boxes stay on top";

    EXPECT_TRUE(brimlock_test::pressReturn(window)) << "error " << GetLastError();
    const DWORD waited = WaitForSingleObject(dialog.process.get(), 10000);
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(dialog.process.get(), 0xDEAD);
        FAIL() << "Return did not close the box";
    }
    DWORD exitCode = 0xFFFF;
    ASSERT_TRUE(GetExitCodeProcess(dialog.process.get(), &exitCode)) << "error " << GetLastError();
    EXPECT_EQ(0u, exitCode);
}

} // namespace

TEST(DIALOG_LANGUAGE_SUITE, ResourceLookupServesTheUserInterfaceLanguage)
{
    const LANGID language = testLanguage();
    EXPECT_EQ(language, GetUserDefaultUILanguage());
    DialogImage image;
    ASSERT_NE(nullptr, image.module()) << "error " << image.error();
    for (UINT id : {1u, 4u, 5u, 6u}) {
        EXPECT_EQ(std::wstring(expectedText(language, id)), brimlockdlg::loadResourceString(image.module(), id))
            << "id " << id;
    }
}

TEST(DIALOG_WINDOW_SUITE, NormalNotice)
{
    showReadAndClose(L"/normal", 4, L"C:\\Program");
}

TEST(DIALOG_WINDOW_SUITE, RestartNotice)
{
    showReadAndClose(L"/restart", 5, L"C:\\Program");
}

TEST(DIALOG_WINDOW_SUITE, FatalNoticeWithLongPath)
{
    showReadAndClose(L"/fatal", 6, L"C:\\Program Files (x86)\\Corvane\\Quarrow");
}

TEST(DIALOG_WINDOW_SUITE, PercentInPathShownUnchanged)
{
    showReadAndClose(L"/normal", 4, L"C:\\100%s %d%n%%\\Program");
}

TEST(DIALOG_WINDOW_SUITE, NonAsciiPath)
{
    showReadAndClose(L"/restart", 5, L"C:\\\u30D7\u30ED\u30B0\u30E9\u30E0 \u00E9\\x");
}
