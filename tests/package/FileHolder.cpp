// demo_file_holder <path>: another process that has a file open, as an editor or a scanner
// would, so that the file can be neither renamed nor deleted now. Used by scripts/demo.
//
// Creates the file when it is missing, keeps it open for reading and writing with read and
// write sharing but without delete sharing, prints "holding <path>" and waits until its
// standard input ends (the caller closes the pipe) or 300 seconds pass, then closes it.
// Exit code 0; 2 when the file cannot be opened; 1 on bad usage.
#include <windows.h>

#include <cstdio>

namespace {

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
    if (argc != 2) {
        std::fputs("usage: demo_file_holder <path>\n", stderr);
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
    // The wait is bounded so that a caller that dies without closing the pipe leaves no
    // process behind for long.
    HANDLE reader = CreateThread(nullptr, 0, waitForEndOfInput, nullptr, 0, nullptr);
    if (reader) {
        WaitForSingleObject(reader, 300000);
        CloseHandle(reader);
    }
    CloseHandle(file);
    return 0;
}
