// The dialog's command line as the service builds it (ChildProcess with the dialog's
// arguments), split by the real CommandLineToArgvW: every legal path comes back as the
// third of exactly three items. The portable split model of the native checks is held
// against the real call here, on any text, quotes included.
#include "ArgvSplit.h"
#include "HostileText.h"

#include "_dialog/CommandLine.h"
#include "_process/ChildProcess.h"
#include "_process/NotificationLaunch.h"

#include <gtest/gtest.h>

#include <algorithm>

using brimlock_native::HostileText;

namespace {

// The dialog program's own split (CommandLineToArgvW).
std::vector<std::wstring> realSplit(const std::wstring& line)
{
    return brimlockdlg::splitCommandLine(line.c_str()).items;
}

} // namespace

TEST(DialogCommandLine, EveryLegalPathSplitsBackIntoThreeItems)
{
    tamselsvc::process::g_serviceDirectory = L"C:\\Program Files\\Corvane\\Quarrow Link";
    const std::wstring program = tamselsvc::process::dialogProgramPath();
    HostileText random(21);
    for (int round = 0; round < 3000; ++round) {
        const std::wstring path = random.legalPath(3, 16);
        const wchar_t* noticeSwitch = round % 3 == 0 ? L"/normal" : round % 3 == 1 ? L"/restart" : L"/fatal";
        Corvane::Orlin::ChildProcess dialog(program, tamselsvc::process::dialogArguments(noticeSwitch, path));
        const auto items = realSplit(dialog.commandLine());
        ASSERT_EQ(3u, items.size()) << round;
        EXPECT_EQ(program, items[0]);
        EXPECT_EQ(noticeSwitch, items[1]);
        ASSERT_EQ(path, items[2]) << round;
    }
}

TEST(DialogCommandLine, SplitModelAgreesWithTheRealCall)
{
    HostileText random(22);
    int compared = 0;
    for (int round = 0; round < 5000; ++round) {
        std::wstring line = random.text(40);
        line.erase(std::remove(line.begin(), line.end(), L'\0'), line.end());
        if (line.empty() || line[0] == L' ' || line[0] == L'\t') {
            continue; // a leading blank gives an empty program item in one and not the other
        }
        ASSERT_EQ(realSplit(line), brimlock_native::splitCommandLine(line)) << round;
        ++compared;
    }
    EXPECT_GT(compared, 3000);
}
