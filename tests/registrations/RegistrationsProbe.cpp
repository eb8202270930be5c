// registrations_probe: a program to plant at the paths Windows tries for a command line.
// Whatever its arguments, it writes the full path it was started from (UTF-8) to standard
// output, so that a test sees which of its copies CreateProcess chose.
#include <windows.h>

int wmain()
{
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    char utf8[MAX_PATH * 8] = {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, path, static_cast<int>(length), utf8, sizeof(utf8), nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8, static_cast<DWORD>(bytes), &written, nullptr);
    return 0;
}
