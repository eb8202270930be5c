// The real program with bad command lines: it must end at once with its exit code, and
// show nothing (a message box would keep it running until the time-out).

#include "DialogImage.h"
#include "FuzzCommandLines.h"

#include "TestProcess.h"

#include <gtest/gtest.h>

using namespace dialog_test;
using brimlock_test::ProcessResult;
using brimlock_test::quoteArgument;
using brimlock_test::runProcess;

namespace {

ProcessResult runDialog(const std::wstring& arguments)
{
    return runProcess(quoteArgument(dialogProgramPath()) + arguments, 15000);
}

} // namespace

TEST(DialogProcess, BadCommandLinesEndWithTheirExitCode)
{
    const struct {
        const wchar_t* arguments;
        DWORD exitCode;
    } cases[] = {
        {L"", 1},
        {L" /normal", 1},
        {L" /normal C:\\Program extra", 1},
        {L" /Normal C:\\Program", 2},
        {L" normal C:\\Program", 2},
        {L" /restart2 \"\"", 2},
        {L" /normal \"\"", 3},
        {L" /fatal \"\"", 3},
    };
    for (const auto& c : cases) {
        const ProcessResult result = runDialog(c.arguments);
        ASSERT_TRUE(result.started) << "error " << GetLastError();
        EXPECT_TRUE(result.finished) << "still running: something was shown for [" << testing::PrintToString(std::wstring(c.arguments)) << "]";
        EXPECT_EQ(c.exitCode, result.exitCode) << testing::PrintToString(std::wstring(c.arguments));
    }
}

TEST(DialogProcess, RandomBadLinesEndWithoutShowing)
{
    // A sample of the random lines, through the real program's own command line.
    FuzzCommandLines generator(7);
    int run = 0;
    for (int n = 0; n < 2000 && run < 25; ++n) {
        FuzzLine line = generator.next(dialogProgramPath());
        if (!line.structured || exitCodeFor(line.items) == 0 || line.arguments.size() > 8000) {
            continue;
        }
        ++run;
        const ProcessResult result = runDialog(line.arguments);
        ASSERT_TRUE(result.started) << "error " << GetLastError();
        EXPECT_TRUE(result.finished) << testing::PrintToString(line.arguments);
        EXPECT_EQ(static_cast<DWORD>(exitCodeFor(line.items)), result.exitCode)
            << testing::PrintToString(line.arguments);
    }
    EXPECT_EQ(25, run);
}
