// Stands in for the dialog program in the launch tests, copied as brimlockdlg.exe into the
// folder a test uses as the service's folder. It writes the command line it received to
// started-<pid>.txt in its own folder (UTF-16, written whole before the file appears),
// waits until a file "release" or "release-<pid>" exists there (at most 60 s), then
// writes ended-<pid>.txt and exits with 0 (released) or 1 (time-out).
#include <windows.h>

#include <string>

namespace {

std::wstring ownFolder()
{
    wchar_t path[MAX_PATH * 4] = L"";
    const DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(sizeof path / sizeof path[0]));
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

void writeWhole(const std::wstring& path, const std::wstring& text)
{
    const std::wstring partial = path + L".part";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    const std::wstring folder = ownFolder();
    const std::wstring pid = std::to_wstring(GetCurrentProcessId());
    writeWhole(folder + L"\\started-" + pid + L".txt", GetCommandLineW());
    int result = 1;
    for (int waited = 0; waited < 60000; waited += 20) {
        if (exists(folder + L"\\release") || exists(folder + L"\\release-" + pid)) {
            result = 0;
            break;
        }
        Sleep(20);
    }
    writeWhole(folder + L"\\ended-" + pid + L".txt", result == 0 ? L"released" : L"timed out");
    return result;
}
