#include "_scan/StoredValue.h"

#include "_model/_service/_report/RegistrationScan.h"
#include "_win32/UniqueHandle.h"

namespace brimlockscan {

using tamselsvc::model::service::RegistryView;

Corvane::Orlin::Ports<ScanFixPorts> scanFixPorts{ScanFixPorts{&::RegSetValueExW, &::MoveFileExW}};

namespace {

// The root and the path below it; false for a key of another root.
bool splitKey(const std::wstring& key, HKEY& root, std::wstring& path)
{
    for (const auto& known : {std::make_pair(L"HKLM\\", HKEY_LOCAL_MACHINE), std::make_pair(L"HKU\\", HKEY_USERS)}) {
        const std::wstring prefix = known.first;
        if (key.compare(0, prefix.size(), prefix) == 0 && key.size() > prefix.size()) {
            root = known.second;
            path = key.substr(prefix.size());
            return true;
        }
    }
    return false;
}

DWORD openValueKey(const ValuePlace& place, REGSAM access, Corvane::Orlin::UniqueRegKey& key)
{
    HKEY root = nullptr;
    std::wstring path;
    if (!splitKey(place.key, root, path)) {
        return ERROR_BAD_PATHNAME;
    }
    const REGSAM view = place.view == RegistryView::Redirected32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    return static_cast<DWORD>(RegOpenKeyExW(root, path.c_str(), 0, access | view, key.put()));
}

DWORD readOn(HKEY key, const std::wstring& name, StoredText& stored)
{
    bool expandable = false;
    const DWORD error = tamselsvc::model::service::readValueText(key, name.c_str(), stored.text, expandable);
    stored.type = expandable ? REG_EXPAND_SZ : REG_SZ;
    return error;
}

} // namespace

DWORD readStoredText(const ValuePlace& place, StoredText& stored)
{
    Corvane::Orlin::UniqueRegKey key;
    if (const DWORD error = openValueKey(place, KEY_QUERY_VALUE, key)) {
        return error;
    }
    return readOn(key.get(), place.name, stored);
}

DWORD replaceStoredText(const ValuePlace& place, const StoredText& expected, const StoredText& replacement)
{
    Corvane::Orlin::UniqueRegKey key;
    if (const DWORD error = openValueKey(place, KEY_QUERY_VALUE | KEY_SET_VALUE, key)) {
        return error;
    }
    StoredText now;
    const DWORD read = readOn(key.get(), place.name, now);
    if (read == ERROR_FILE_NOT_FOUND || read == ERROR_INVALID_DATATYPE ||
        (read == ERROR_SUCCESS && (now.type != expected.type || now.text != expected.text))) {
        return kValueChanged;
    }
    if (read != ERROR_SUCCESS) {
        return read;
    }
    const DWORD size = static_cast<DWORD>((replacement.text.size() + 1) * sizeof(wchar_t));
    return static_cast<DWORD>(scanFixPorts().regSetValueEx(key.get(), place.name.c_str(), 0, replacement.type,
                                                           reinterpret_cast<const BYTE*>(replacement.text.c_str()),
                                                           size));
}

} // namespace brimlockscan
