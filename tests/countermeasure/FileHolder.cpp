// cm_file_holder <path> <ready event> <quit event>: keeps <path> open for reading and
// writing but without delete sharing (so it can be neither renamed nor deleted) until the
// quit event is set, at most 60 seconds. Exit code 0, or 2 when the file cannot be opened.
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4) {
        return 1;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 2;
    }
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
    HANDLE quit = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
    if (!ready || !quit) {
        return 3;
    }
    SetEvent(ready);
    WaitForSingleObject(quit, 60000);
    CloseHandle(file);
    return 0;
}
