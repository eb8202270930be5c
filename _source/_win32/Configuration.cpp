#include "_win32/Configuration.h"

#include "_win32/UniqueHandle.h"

#include <cstring>

namespace Corvane { namespace Orlin {

bool readConfigDword(const std::wstring& name, DWORD& value)
{
    UniqueRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kConfigKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    BYTE buffer[256] = {};
    DWORD size = sizeof(buffer);
    DWORD type = REG_DWORD;
    const LSTATUS status = RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, buffer, &size);
    key.reset();
    if (status != ERROR_SUCCESS || type != REG_DWORD) {
        return false;
    }
    DWORD read;
    std::memcpy(&read, buffer, sizeof(read));
    value = read;
    return true;
}

}} // namespace Corvane::Orlin
