// Random command lines through the real split (CommandLineToArgvW) and the program's whole
// pass: bad lines end with 1, 2 or 3 and show nothing; only exactly valid lines show.

#include "DialogImage.h"
#include "ExpectedTexts.h"
#include "FakeDesktopApi.h"
#include "FuzzCommandLines.h"

#include "_dialog/CommandLine.h"
#include "_dialog/DialogStringIds.h"
#include "_dialog/NoticeProgram.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <map>

using namespace brimlockdlg;
using namespace dialog_test;

namespace {

constexpr unsigned kSeed = 20240611;
constexpr int kLines = 20000;

std::string printable(const std::wstring& text)
{
    return testing::PrintToString(text.size() > 300 ? text.substr(0, 300) + L"..." : text);
}

} // namespace

TEST(CommandLineFuzz, OnlyExactlyValidLinesShow)
{
    DialogImage image;
    ASSERT_NE(nullptr, image.module()) << "error " << image.error();
    const std::wstring program = L"C:\\Program Files\\Corvane\\Tamsel\\brimlockdlg.exe";
    FuzzCommandLines generator(kSeed);
    std::map<int, int> exitCodes;
    int structured = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < kLines; ++n) {
        const FuzzLine line = generator.next(program);
        const std::wstring commandLine = L"\"" + program + L"\"" + line.arguments;
        const CommandLineArgs args = splitCommandLine(commandLine.c_str());
        ASSERT_EQ(static_cast<size_t>(args.count), args.items.size());
        ASSERT_GE(args.count, 1) << printable(commandLine);
        ASSERT_EQ(program, args.items[0]) << printable(commandLine);
        if (line.structured) {
            ++structured;
            ASSERT_EQ(line.items, args.items) << "split of " << printable(commandLine);
        }

        FakeDesktopApi api;
        api.answer(L"Default");
        const int exitCode = runNotice(image.module(), args, api);
        ++exitCodes[exitCode];
        ASSERT_EQ(exitCodeFor(args.items), exitCode) << printable(commandLine);
        if (exitCode != 0) {
            ASSERT_TRUE(api.boxes.empty()) << printable(commandLine);
            ASSERT_EQ(0, api.checks);
            continue;
        }
        ASSERT_EQ(1u, api.boxes.size()) << printable(commandLine);
        const UINT id = noticeBodyId(args.items[1]);
        ASSERT_EQ(expectedNotice(kEnglish, id, args.items[2]), api.boxes[0].text) << printable(commandLine);
        ASSERT_EQ(std::wstring(expectedText(kEnglish, IDS_CAPTION)), api.boxes[0].caption);
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    std::cout << kLines << " lines (" << structured << " built from known items) in " << elapsed
              << " ms; exit codes 0:" << exitCodes[0] << " 1:" << exitCodes[1] << " 2:" << exitCodes[2]
              << " 3:" << exitCodes[3] << std::endl;
    EXPECT_EQ(4u, exitCodes.size()) << "only 0, 1, 2 and 3 may occur";
    // The generator must reach every outcome often enough to mean something.
    for (int code : {0, 1, 2, 3}) {
        EXPECT_GE(exitCodes[code], 300) << "exit code " << code;
    }
}
