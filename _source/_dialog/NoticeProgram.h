#pragma once
// The dialog program's one pass, from the split command line to the exit code.

#include "_dialog/DesktopWait.h"
#include "_dialog/NoticeArguments.h"

#include <windows.h>

namespace brimlockdlg {

// Loads the caption and the body from `instance`'s string table, checks the arguments
// (exit codes 1, 2, 3 without showing anything), formats the text, waits for the desktop
// and shows the message through `api`; returns the exit code (0 once it was closed).
int runNotice(HINSTANCE instance, const CommandLineArgs& args, IDesktopWaitApi& api);

} // namespace brimlockdlg
