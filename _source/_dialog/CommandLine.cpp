#include "_dialog/CommandLine.h"

#include "_win32/UniqueHandle.h"

#include <windows.h>
#include <shellapi.h>

namespace brimlockdlg {

CommandLineArgs splitCommandLine(const wchar_t* commandLine)
{
    CommandLineArgs args;
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(commandLine, &count);
    if (argv == nullptr) {
        return args;
    }
    // CommandLineToArgvW gives one LocalAlloc block holding the array and the strings.
    Corvane::Orlin::UniqueLocalMem owner(reinterpret_cast<HLOCAL>(argv));
    args.items.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    for (int i = 0; i < count; ++i) {
        args.items.emplace_back(argv[i] != nullptr ? argv[i] : L"");
    }
    args.count = count;
    return args;
}

CommandLineArgs parseCommandLine()
{
    return splitCommandLine(GetCommandLineW());
}

} // namespace brimlockdlg
