// registrations_probe: a program to plant at the paths Windows tries for a command line.
// It writes the full path it was started from (UTF-8) to standard output, so that a test sees
// which of its copies CreateProcess chose, then each argument as the C runtime split it, each
// after a line feed.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv)
{
    wchar_t path[MAX_PATH * 2] = {};
    std::wstring text(path, GetModuleFileNameW(nullptr, path, MAX_PATH * 2));
    for (int i = 1; i < argc; ++i) {
        text += L'\n' + std::wstring(argv[i]);
    }
    std::string utf8(text.size() * 4, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0],
                                    static_cast<int>(utf8.size()), nullptr, nullptr));
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    return 0;
}
