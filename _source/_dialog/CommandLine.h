#pragma once
// Splitting the dialog program's command line by the standard Windows rules.

#include "_dialog/NoticeArguments.h"

namespace brimlockdlg {

// CommandLineToArgvW on `commandLine`; every item copied, with the count it reported.
// When the split fails the list is empty and the count 0.
CommandLineArgs splitCommandLine(const wchar_t* commandLine);

// splitCommandLine(GetCommandLineW()).
CommandLineArgs parseCommandLine();

} // namespace brimlockdlg
