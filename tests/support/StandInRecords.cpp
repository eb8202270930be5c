#include "StandInRecords.h"

#include <windows.h>

namespace brimlock_test {

std::vector<std::wstring> readStandInRecords(const std::wstring& folder, const std::wstring& prefix, bool remove)
{
    std::vector<std::wstring> result;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\" + prefix + L"*.txt").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return result;
    }
    do {
        const std::wstring path = folder + L"\\" + data.cFileName;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            continue;
        }
        std::wstring text(data.nFileSizeLow / sizeof(wchar_t), L'\0');
        DWORD read = 0;
        ReadFile(file, &text[0], data.nFileSizeLow, &read, nullptr);
        CloseHandle(file);
        text.resize(read / sizeof(wchar_t));
        result.push_back(text);
        if (remove) {
            DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return result;
}

} // namespace brimlock_test
