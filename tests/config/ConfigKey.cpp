#include "ConfigKey.h"

#include "_win32/UniqueHandle.h"

namespace brimlock_test {

namespace {

constexpr wchar_t kKey[] = L"SOFTWARE\\Corvane\\Tamsel";
constexpr wchar_t kMakerKey[] = L"SOFTWARE\\Corvane";

LSTATUS withKey(REGSAM view, LSTATUS (*body)(HKEY, const void*), const void* context)
{
    Corvane::Orlin::UniqueRegKey key;
    const LSTATUS created = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                                            key.put(), nullptr);
    return created != ERROR_SUCCESS ? created : body(key.get(), context);
}

struct RawValue {
    const wchar_t* name;
    DWORD type;
    const void* data;
    DWORD size;
};

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
    const RawValue value{name, type, data, size};
    return withKey(
        view,
        [](HKEY key, const void* context) -> LSTATUS {
            const auto* v = static_cast<const RawValue*>(context);
            return RegSetValueExW(key, v->name, 0, v->type, static_cast<const BYTE*>(v->data), v->size);
        },
        &value);
}

LSTATUS ConfigKey::setDword(const wchar_t* name, DWORD value, REGSAM view)
{
    return setRaw(name, REG_DWORD, &value, sizeof(value), view);
}

LSTATUS ConfigKey::setString(const wchar_t* name, const wchar_t* value, REGSAM view)
{
    return setRaw(name, REG_SZ, value, static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)), view);
}

LSTATUS ConfigKey::setQword(const wchar_t* name, ULONGLONG value, REGSAM view)
{
    return setRaw(name, REG_QWORD, &value, sizeof(value), view);
}

LSTATUS ConfigKey::deleteValue(const wchar_t* name, REGSAM view)
{
    return withKey(
        view, [](HKEY key, const void* context) -> LSTATUS {
            return RegDeleteValueW(key, static_cast<const wchar_t*>(context));
        },
        name);
}

} // namespace brimlock_test
