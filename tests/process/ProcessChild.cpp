// Child program of the ChildProcess tests. What it does is chosen by its first argument:
//   (none)        writes its command line (UTF-8) to standard output, exits 3
//   exit N        exits with N
//   sleep MS      sleeps MS milliseconds, exits 0
//   echo          reads one line from standard input, writes "out:<line>" to standard
//                 output and "err:<line>" to standard error, exits 7
//   break         writes "ready", then exits 42 on CTRL_BREAK (99 if none comes in 30 s)
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

HANDLE g_brk = nullptr;

void writeAll(HANDLE to, const std::string& text)
{
    DWORD written = 0;
    WriteFile(to, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

BOOL WINAPI onCtrl(DWORD type)
{
    if (type == CTRL_BREAK_EVENT) {
        SetEvent(g_brk);
        return TRUE;
    }
    return FALSE;
}

std::string utf8(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) {
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    }
    return out;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (argc < 2) {
        writeAll(out, utf8(GetCommandLineW()));
        return 3;
    }
    const std::wstring mode = argv[1];
    if (mode == L"exit" && argc > 2) {
        return static_cast<int>(wcstoul(argv[2], nullptr, 10));
    }
    if (mode == L"sleep" && argc > 2) {
        Sleep(wcstoul(argv[2], nullptr, 10));
        return 0;
    }
    if (mode == L"echo") {
        std::string line;
        char c = 0;
        DWORD got = 0;
        const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
        while (ReadFile(in, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
            line.push_back(c);
        }
        writeAll(out, "out:" + line + "\n");
        writeAll(GetStdHandle(STD_ERROR_HANDLE), "err:" + line + "\n");
        return 7;
    }
    if (mode == L"break") {
        g_brk = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        SetConsoleCtrlHandler(onCtrl, TRUE);
        writeAll(out, "ready\n");
        return WaitForSingleObject(g_brk, 30000) == WAIT_OBJECT_0 ? 42 : 99;
    }
    return 100;
}
