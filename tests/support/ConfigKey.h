#pragma once
// The service's configuration key, as tests set it: HKLM\SOFTWARE\Corvane\Tamsel in a chosen
// registry view. Removed from both views when the object is made and when it goes, so a
// test starts from "no key" and leaves none behind.

#include <windows.h>

#include <string>

namespace brimlock_test {

class ConfigKey {
public:
    ConfigKey();
    ~ConfigKey();
    ConfigKey(const ConfigKey&) = delete;
    ConfigKey& operator=(const ConfigKey&) = delete;

    // `view` is KEY_WOW64_64KEY (the native key) or KEY_WOW64_32KEY (WOW6432Node on 64-bit
    // Windows). Each returns the registry's result code.
    LSTATUS setDword(const wchar_t* name, DWORD value, REGSAM view = KEY_WOW64_64KEY);
    LSTATUS setString(const wchar_t* name, const wchar_t* value, REGSAM view = KEY_WOW64_64KEY);
    LSTATUS setQword(const wchar_t* name, ULONGLONG value, REGSAM view = KEY_WOW64_64KEY);
    LSTATUS setRaw(const wchar_t* name, DWORD type, const void* data, DWORD size, REGSAM view = KEY_WOW64_64KEY);
    LSTATUS deleteValue(const wchar_t* name, REGSAM view = KEY_WOW64_64KEY);
    // Deletes the key in both views (and the maker's key when that is left empty).
    static void removeEverywhere();
};

} // namespace brimlock_test
