#include "Registry.h"

#include "_win32/UniqueHandle.h"

namespace brimlock_test {

using Corvane::Orlin::UniqueRegKey;

RegistryValue readMachineValue(const std::wstring& key, const std::wstring& name, REGSAM view)
{
    RegistryValue value;
    UniqueRegKey handle;
    value.error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, handle.put());
    DWORD size = 0;
    if (value.error == ERROR_SUCCESS) {
        value.error = RegQueryValueExW(handle.get(), name.c_str(), nullptr, &value.type, nullptr, &size);
    }
    if (value.error != ERROR_SUCCESS) {
        return value;
    }
    value.raw.resize(size);
    value.error = RegQueryValueExW(handle.get(), name.c_str(), nullptr, &value.type, value.raw.data(), &size);
    value.raw.resize(size);
    if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
        value.text.assign(reinterpret_cast<const wchar_t*>(value.raw.data()), size / sizeof(wchar_t));
        while (!value.text.empty() && value.text.back() == L'\0') {
            value.text.pop_back();
        }
    } else if (value.type == REG_DWORD && size == sizeof(DWORD)) {
        value.number = *reinterpret_cast<const DWORD*>(value.raw.data());
    }
    return value;
}

bool machineKeyExists(const std::wstring& key, REGSAM view)
{
    UniqueRegKey handle;
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, handle.put()) == ERROR_SUCCESS;
}

LSTATUS setMachineValue(const std::wstring& key, const std::wstring& name, DWORD type, const void* data, DWORD size,
                        REGSAM view)
{
    UniqueRegKey handle;
    const LSTATUS created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view,
                                            nullptr, handle.put(), nullptr);
    return created != ERROR_SUCCESS
               ? created
               : RegSetValueExW(handle.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
}

LSTATUS setMachineDword(const std::wstring& key, const std::wstring& name, DWORD value, REGSAM view)
{
    return setMachineValue(key, name, REG_DWORD, &value, sizeof value, view);
}

LSTATUS setMachineString(const std::wstring& key, const std::wstring& name, const std::wstring& text, REGSAM view)
{
    return setMachineValue(key, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)),
                           view);
}

LSTATUS deleteMachineValue(const std::wstring& key, const std::wstring& name, REGSAM view)
{
    UniqueRegKey handle;
    const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_SET_VALUE | view, handle.put());
    return opened != ERROR_SUCCESS ? opened : RegDeleteValueW(handle.get(), name.c_str());
}

MachineValueOverride::MachineValueOverride(std::wstring key, std::wstring name, REGSAM view)
    : _key(std::move(key)), _name(std::move(name)), _view(view), _saved(readMachineValue(_key, _name, _view))
{
}

MachineValueOverride::~MachineValueOverride()
{
    if (!_changed) {
        return;
    }
    if (_saved.error == ERROR_SUCCESS) {
        setMachineValue(_key, _name, _saved.type, _saved.raw.data(), static_cast<DWORD>(_saved.raw.size()), _view);
    } else {
        deleteMachineValue(_key, _name, _view);
    }
}

LSTATUS MachineValueOverride::setDword(DWORD value)
{
    _changed = true;
    return setMachineDword(_key, _name, value, _view);
}

LSTATUS MachineValueOverride::setString(const std::wstring& text)
{
    _changed = true;
    return setMachineString(_key, _name, text, _view);
}

} // namespace brimlock_test
