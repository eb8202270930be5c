#include "ConfigKey.h"

#include "Registry.h"

namespace brimlock_test {

namespace {
constexpr wchar_t kKey[] = L"SOFTWARE\\Corvane\\Tamsel";
constexpr wchar_t kMakerKey[] = L"SOFTWARE\\Corvane";
} // namespace

ConfigKey::ConfigKey()
{
    removeEverywhere();
}

ConfigKey::~ConfigKey()
{
    removeEverywhere();
}

void ConfigKey::removeEverywhere()
{
    for (REGSAM view : {REGSAM(KEY_WOW64_64KEY), REGSAM(KEY_WOW64_32KEY)}) {
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, view, 0);
        // Fails, as it should, while anything else lives under the maker's key.
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kMakerKey, view, 0);
    }
}

LSTATUS ConfigKey::setRaw(const wchar_t* name, DWORD type, const void* data, DWORD size, REGSAM view)
{
    return setMachineValue(kKey, name, type, data, size, view);
}

LSTATUS ConfigKey::setDword(const wchar_t* name, DWORD value, REGSAM view)
{
    return setMachineDword(kKey, name, value, view);
}

LSTATUS ConfigKey::setString(const wchar_t* name, const wchar_t* value, REGSAM view)
{
    return setMachineString(kKey, name, value, view);
}

LSTATUS ConfigKey::setQword(const wchar_t* name, ULONGLONG value, REGSAM view)
{
    return setRaw(name, REG_QWORD, &value, sizeof(value), view);
}

LSTATUS ConfigKey::deleteValue(const wchar_t* name, REGSAM view)
{
    return deleteMachineValue(kKey, name, view);
}

} // namespace brimlock_test
