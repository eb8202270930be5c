#include "FileVersion.h"

#include <cstdio>
#include <vector>

namespace brimlock_test {

namespace {

std::wstring dotted(DWORD high, DWORD low)
{
    return std::to_wstring(HIWORD(high)) + L"." + std::to_wstring(LOWORD(high)) + L"." + std::to_wstring(HIWORD(low)) +
           L"." + std::to_wstring(LOWORD(low));
}

} // namespace

FileVersion readFileVersion(const std::wstring& path)
{
    FileVersion version;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<BYTE> data(size ? size : 1);
    if (!size || !GetFileVersionInfoW(path.c_str(), 0, size, data.data())) {
        version.error = GetLastError() ? GetLastError() : ERROR_RESOURCE_TYPE_NOT_FOUND;
        return version;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed &&
        fixed->dwSignature == VS_FFI_SIGNATURE) {
        version.fileVersion = dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
        version.productVersion = dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
        version.fileType = fixed->dwFileType;
    }
    struct Translation {
        WORD language;
        WORD codePage;
    }* translations = nullptr;
    if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                       &length) &&
        length >= sizeof(Translation)) {
        wchar_t key[16];
        std::swprintf(key, 16, L"%04x%04x", translations[0].language, translations[0].codePage);
        version.translation = key;
    }
    version.block = std::move(data);
    return version;
}

std::wstring FileVersion::string(const std::wstring& name) const
{
    if (block.empty() || translation.empty()) {
        return std::wstring();
    }
    const std::wstring query = L"\\StringFileInfo\\" + translation + L"\\" + name;
    wchar_t* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) || !value) {
        return std::wstring();
    }
    std::wstring text(value, length);
    while (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
    return text;
}

} // namespace brimlock_test
