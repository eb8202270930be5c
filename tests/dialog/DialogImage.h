#pragma once
// brimlockdlg.exe opened as a resource image, so a test can read its string table and
// manifest, and run the program's logic against its real texts.

#include <windows.h>

#include <string>

namespace dialog_test {

class DialogImage {
public:
    DialogImage();
    ~DialogImage();
    DialogImage(const DialogImage&) = delete;
    DialogImage& operator=(const DialogImage&) = delete;

    // Null when the image could not be opened; error() then tells why.
    HMODULE module() const { return _module; }
    DWORD error() const { return _error; }

    // The string `id` of the table in `language`, read from the resource block directly
    // (no language fallback). `found` is false when that language has no such block.
    std::wstring stringIn(LANGID language, UINT id, bool* found = nullptr) const;

private:
    HMODULE _module = nullptr;
    DWORD _error = 0;
};

std::wstring dialogProgramPath();

} // namespace dialog_test
