#include "DialogImage.h"

#include "TestPaths.h"

namespace dialog_test {

std::wstring dialogProgramPath()
{
    return brimlock_test::builtProgram(L"brimlockdlg.exe");
}

DialogImage::DialogImage()
{
    _module = LoadLibraryExW(dialogProgramPath().c_str(), nullptr,
                             LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    _error = _module ? 0 : GetLastError();
}

DialogImage::~DialogImage()
{
    if (_module) {
        FreeLibrary(_module);
    }
}

std::wstring DialogImage::stringIn(LANGID language, UINT id, bool* found) const
{
    if (found) {
        *found = false;
    }
    // Strings are kept in blocks of 16: block id/16+1, each string a length and its characters.
    HRSRC block = FindResourceExW(_module, MAKEINTRESOURCEW(6) /* RT_STRING */, MAKEINTRESOURCEW(id / 16 + 1),
                                  language);
    if (!block) {
        return std::wstring();
    }
    HGLOBAL loaded = LoadResource(_module, block);
    const auto* data = static_cast<const WCHAR*>(LockResource(loaded));
    const DWORD size = SizeofResource(_module, block) / sizeof(WCHAR);
    if (!data) {
        return std::wstring();
    }
    DWORD pos = 0;
    for (UINT index = 0; index < id % 16; ++index) {
        if (pos >= size) {
            return std::wstring();
        }
        pos += 1 + data[pos];
    }
    if (pos >= size || pos + 1 + data[pos] > size) {
        return std::wstring();
    }
    if (found) {
        *found = true;
    }
    return std::wstring(data + pos + 1, data[pos]);
}

} // namespace dialog_test
