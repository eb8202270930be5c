// file_holder <path> [<ready event> <quit event>]: another process that has a file open, as
// an editor or a scanner would, so that the file can be neither renamed nor deleted now.
//
// Creates the file when it is missing and keeps it open for reading and writing, with read
// and write sharing but without delete sharing, and prints "holding <path>". With the two
// event names: sets the ready event and holds the file until the quit event is set (the
// countermeasure tests). Without them: holds it until its standard input ends, the caller
// closing the pipe (scripts/demo). At most 300 seconds either way, so that a caller that
// dies leaves no process behind for long.
// Exit code 0; 1 on bad usage; 2 when the file cannot be opened; 3 when an event cannot.
#include <windows.h>

#include <cstdio>

namespace {

constexpr DWORD kMostMs = 300000;

DWORD WINAPI waitForEndOfInput(void*)
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char buffer[64];
    DWORD read = 0;
    while (ReadFile(input, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2 && argc != 4) {
        std::fputs("usage: file_holder <path> [<ready event> <quit event>]\n", stderr);
        return 1;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open %ls: error %lu\n", argv[1], GetLastError());
        return 2;
    }
    std::printf("holding %ls\n", argv[1]);
    std::fflush(stdout);
    HANDLE quit = nullptr;
    if (argc == 4) {
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
        quit = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
        if (!ready || !quit) {
            return 3;
        }
        SetEvent(ready);
        CloseHandle(ready);
    } else {
        quit = CreateThread(nullptr, 0, waitForEndOfInput, nullptr, 0, nullptr);
    }
    if (quit) {
        WaitForSingleObject(quit, kMostMs);
        CloseHandle(quit);
    }
    CloseHandle(file);
    return 0;
}
