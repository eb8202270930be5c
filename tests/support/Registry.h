#pragma once
// Values under HKEY_LOCAL_MACHINE as the tests set, read and remove them, in a chosen
// registry view: KEY_WOW64_64KEY, the native key, or KEY_WOW64_32KEY, WOW6432Node on 64-bit
// Windows. Each call opens the key and closes it again; results are the registry's codes.

#include <windows.h>

#include <string>
#include <vector>

namespace brimlock_test {

struct RegistryValue {
    LSTATUS error = ERROR_FILE_NOT_FOUND;
    DWORD type = REG_NONE;
    std::vector<BYTE> raw; // the data as stored
    std::wstring text;     // REG_SZ and REG_EXPAND_SZ, without the terminating nulls
    DWORD number = 0;      // REG_DWORD
};

RegistryValue readMachineValue(const std::wstring& key, const std::wstring& name, REGSAM view = KEY_WOW64_64KEY);
bool machineKeyExists(const std::wstring& key, REGSAM view = KEY_WOW64_64KEY);
// These make the key when it is missing.
LSTATUS setMachineValue(const std::wstring& key, const std::wstring& name, DWORD type, const void* data, DWORD size,
                        REGSAM view = KEY_WOW64_64KEY);
LSTATUS setMachineDword(const std::wstring& key, const std::wstring& name, DWORD value, REGSAM view = KEY_WOW64_64KEY);
LSTATUS setMachineString(const std::wstring& key, const std::wstring& name, const std::wstring& text,
                         REGSAM view = KEY_WOW64_64KEY);
LSTATUS deleteMachineValue(const std::wstring& key, const std::wstring& name, REGSAM view = KEY_WOW64_64KEY);

// One value changed for the life of the object: it is put back as it was when the object
// was made (or deleted, when there was none) as the object goes.
class MachineValueOverride {
public:
    MachineValueOverride(std::wstring key, std::wstring name, REGSAM view = KEY_WOW64_64KEY);
    ~MachineValueOverride();
    MachineValueOverride(const MachineValueOverride&) = delete;
    MachineValueOverride& operator=(const MachineValueOverride&) = delete;

    LSTATUS setDword(DWORD value);
    LSTATUS setString(const std::wstring& text);

private:
    std::wstring _key;
    std::wstring _name;
    REGSAM _view;
    RegistryValue _saved;
    bool _changed = false;
};

} // namespace brimlock_test
