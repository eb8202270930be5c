#include "_model/_service/_report/RegistrationScan.h"

#include "_model/_service/Paths.h"
#include "_win32/UniqueHandle.h"

#include <algorithm>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

using Corvane::Orlin::UniqueRegKey;

namespace {

constexpr DWORD kMaxKeyName = 256;     // 255 characters and the NUL
constexpr DWORD kMaxValueName = 16384; // 16,383 characters and the NUL
constexpr wchar_t kHklm[] = L"HKLM\\";

// readValueText; a value that exists and cannot be read is told to the visitor.
bool readText(RegistrationVisitor& visitor, HKEY key, const Registration& registration, const wchar_t* name,
              std::wstring& text, bool& expandable)
{
    const DWORD error = readValueText(key, name, text, expandable);
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
        visitor.passedOver(placeOf(registration), registration.name, error);
    }
    return error == ERROR_SUCCESS;
}

std::wstring expanded(const std::wstring& text)
{
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (needed == 0) {
        return text;
    }
    std::vector<wchar_t> buffer(needed, L'\0');
    const DWORD got = ExpandEnvironmentStringsW(text.c_str(), buffer.data(), needed);
    if (got == 0 || got > needed) {
        return text;
    }
    return std::wstring(buffer.data());
}

bool isWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

void fillCommandLine(Registration& registration)
{
    registration.commandLine = registration.expandable ? expandedAsStarted(registration.value) : registration.value;
}

bool isWin32Service(HKEY service)
{
    DWORD type = 0;
    DWORD valueType = 0;
    DWORD size = sizeof(type);
    if (RegQueryValueExW(service, L"Type", nullptr, &valueType, reinterpret_cast<BYTE*>(&type), &size) !=
            ERROR_SUCCESS ||
        valueType != REG_DWORD || size != sizeof(type)) {
        return false;
    }
    return (type & (SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS)) != 0;
}

// The end of a listing: 0 for its normal end, the error otherwise.
DWORD endOfListing(LSTATUS status)
{
    return status == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : static_cast<DWORD>(status);
}

DWORD visitServices(RegistrationVisitor& visitor)
{
    UniqueRegKey services;
    const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServicesKey, 0, KEY_ENUMERATE_SUB_KEYS | KEY_WOW64_64KEY,
                                         services.put());
    if (opened != ERROR_SUCCESS) {
        return static_cast<DWORD>(opened);
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[kMaxKeyName];
        DWORD length = kMaxKeyName;
        const LSTATUS status = RegEnumKeyExW(services.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            return endOfListing(status);
        }
        Registration registration;
        registration.kind = RegistrationKind::Service;
        registration.name.assign(name, length);
        registration.key = std::wstring(kHklm) + kServicesKey + L"\\" + registration.name;
        UniqueRegKey service;
        const LSTATUS serviceOpened =
            RegOpenKeyExW(services.get(), name, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, service.put());
        if (serviceOpened != ERROR_SUCCESS && serviceOpened != ERROR_FILE_NOT_FOUND) {
            visitor.passedOver(registration.key, registration.name, static_cast<DWORD>(serviceOpened));
        }
        if (serviceOpened != ERROR_SUCCESS || !isWin32Service(service.get())) {
            continue;
        }
        if (!readText(visitor, service.get(), registration, L"ImagePath", registration.value, registration.expandable)) {
            continue;
        }
        fillCommandLine(registration);
        if (!visitor.visit(registration)) {
            return ERROR_CANCELLED;
        }
    }
}

// A value of a RunOnceEx section that holds no command line: the section's title (its
// default value) and the names RunOnceEx reads as settings.
bool isRunOnceExSetting(const std::wstring& name)
{
    const std::wstring lower = lowerAsciiOnly(name);
    return lower.empty() || lower == L"depend" || lower == L"flags" || lower == L"title";
}

// A RunOnceEx entry: "||" and a command line, a DLL's function ("file|function|arguments",
// no command line: false), or a plain command line. The "||" is kept in `before`.
bool takeRunOnceExEntry(Registration& registration)
{
    const std::wstring line = registration.commandLine;
    if (line.compare(0, 2, L"||") == 0) {
        registration.before = L"||";
        registration.commandLine = line.substr(2);
        return true;
    }
    return line.find(L'|') == std::wstring::npos;
}

// `root` is HKEY_LOCAL_MACHINE, named `rootName` "HKLM\", or HKEY_USERS, "HKU\". A
// RunOnceEx section (`section`) holds entries beside values that are no command lines.
DWORD visitStartupKey(RegistrationVisitor& visitor, HKEY root, const wchar_t* rootName, const std::wstring& keyPath,
                      const StartupView& view, bool section = false)
{
    UniqueRegKey key;
    const LSTATUS opened = RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_QUERY_VALUE | view.sam, key.put());
    if (opened != ERROR_SUCCESS) {
        return opened == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(opened);
    }
    std::vector<wchar_t> name(kMaxValueName);
    for (DWORD index = 0;; ++index) {
        DWORD length = kMaxValueName;
        const LSTATUS status = RegEnumValueW(key.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            return endOfListing(status);
        }
        Registration registration;
        registration.kind = RegistrationKind::StartupValue;
        registration.name.assign(name.data(), length);
        registration.key = rootName + keyPath;
        registration.view = view.view;
        if ((section && isRunOnceExSetting(registration.name)) ||
            !readText(visitor, key.get(), registration, registration.name.c_str(), registration.value,
                      registration.expandable)) {
            continue;
        }
        fillCommandLine(registration);
        if (section && !takeRunOnceExEntry(registration)) {
            continue;
        }
        if (!visitor.visit(registration)) {
            return ERROR_CANCELLED;
        }
    }
}

// Each section of RunOnceEx (each subkey but Depend, which lists DLLs), in the key's order.
DWORD visitRunOnceEx(RegistrationVisitor& visitor, const StartupView& view)
{
    UniqueRegKey key;
    const LSTATUS opened =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnceExKey, 0, KEY_ENUMERATE_SUB_KEYS | view.sam, key.put());
    if (opened != ERROR_SUCCESS) {
        return opened == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(opened);
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[kMaxKeyName];
        DWORD length = kMaxKeyName;
        const LSTATUS status = RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            return endOfListing(status);
        }
        const std::wstring section(name, length);
        if (lowerAsciiOnly(section) == L"depend") {
            continue;
        }
        if (const DWORD error =
                visitStartupKey(visitor, HKEY_LOCAL_MACHINE, kHklm, std::wstring(kRunOnceExKey) + L"\\" + section,
                                view, true)) {
            return error;
        }
    }
}

DWORD visitWinlogon(RegistrationVisitor& visitor, const StartupView& view)
{
    UniqueRegKey key;
    const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kWinlogonKey, 0, KEY_QUERY_VALUE | view.sam, key.put());
    if (opened != ERROR_SUCCESS) {
        return opened == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(opened);
    }
    for (const wchar_t* name : kWinlogonValues) {
        Registration whole;
        whole.kind = RegistrationKind::StartupValue;
        whole.name = name;
        whole.key = std::wstring(kHklm) + kWinlogonKey;
        whole.view = view.view;
        if (!readText(visitor, key.get(), whole, name, whole.value, whole.expandable)) {
            continue;
        }
        fillCommandLine(whole);
        const std::wstring list = whole.commandLine;
        for (size_t start = 0; start <= list.size();) {
            const size_t comma = std::min(list.find(L',', start), list.size());
            Registration part = whole;
            part.before = list.substr(0, start);
            part.commandLine = list.substr(start, comma - start);
            part.after = list.substr(comma);
            if (part.commandLine.find_first_not_of(L" \t") != std::wstring::npos && !visitor.visit(part)) {
                return ERROR_CANCELLED;
            }
            start = comma + 1;
        }
    }
    return ERROR_SUCCESS;
}

DWORD visitUsers(RegistrationVisitor& visitor)
{
    const std::wstring classes = L"_Classes";
    for (DWORD index = 0;; ++index) {
        wchar_t name[kMaxKeyName];
        DWORD length = kMaxKeyName;
        const LSTATUS status = RegEnumKeyExW(HKEY_USERS, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            return endOfListing(status);
        }
        const std::wstring user(name, length);
        if (user.size() > classes.size() && user.compare(user.size() - classes.size(), classes.size(), classes) == 0) {
            continue;
        }
        for (const wchar_t* keyPath : kUserStartupKeys) {
            if (const DWORD error = visitStartupKey(visitor, HKEY_USERS, L"HKU\\", user + L"\\" + keyPath,
                                                    {0, RegistryView::Single})) {
                return error;
            }
        }
    }
}

} // namespace

DWORD readValueText(HKEY key, const wchar_t* name, std::wstring& text, bool& expandable)
{
    // The value can grow between the two calls: ask again, a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        if (const LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size)) {
            return static_cast<DWORD>(status);
        }
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            return ERROR_INVALID_DATATYPE;
        }
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = size;
        const LSTATUS status =
            RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got);
        if (status == ERROR_MORE_DATA) {
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return static_cast<DWORD>(status);
        }
        if (type != REG_SZ && type != REG_EXPAND_SZ) {
            return ERROR_INVALID_DATATYPE;
        }
        text.assign(buffer.data(), got / sizeof(wchar_t));
        text = text.substr(0, text.find(L'\0'));
        expandable = type == REG_EXPAND_SZ;
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

std::wstring expandedAsStarted(const std::wstring& text)
{
    static const bool onWow64 = isWow64();
    return expanded(onWow64 ? withNativeFolderVariables(text) : text);
}

StartupViews startupViews()
{
    if (isWow64()) {
        return {{{KEY_WOW64_64KEY, RegistryView::Native}, {KEY_WOW64_32KEY, RegistryView::Redirected32}}, 2};
    }
    return {{{0, RegistryView::Single}, {0, RegistryView::Single}}, 1};
}

DWORD enumerateRegistrations(RegistrationVisitor& visitor)
{
    if (const DWORD error = visitServices(visitor)) {
        return error;
    }
    const StartupViews views = startupViews();
    for (const wchar_t* keyPath : kStartupKeys) {
        for (int i = 0; i < views.count; ++i) {
            if (const DWORD error = visitStartupKey(visitor, HKEY_LOCAL_MACHINE, kHklm, keyPath, views.views[i])) {
                return error;
            }
        }
    }
    for (int i = 0; i < views.count; ++i) {
        if (const DWORD error = visitRunOnceEx(visitor, views.views[i])) {
            return error;
        }
    }
    if (const DWORD error = visitWinlogon(visitor, views.views[0])) {
        return error;
    }
    return visitUsers(visitor);
}

}}} // namespace tamselsvc::model::service
