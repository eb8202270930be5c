#pragma once
// The program registrations of this machine that Windows starts through CreateProcess with
// no application name, read from the registry as they are now: every Win32 service's
// ImagePath, and the values of HKLM's Run, RunOnce and RunOnceEx keys in each registry view
// (and the other places listed at enumerateRegistrations). Drivers
// are left out (the kernel loads them; no command line is split).

#include "_model/_service/_report/Registration.h"

#include <windows.h>

#include <string>

namespace tamselsvc { namespace model { namespace service {

// Where the registrations live, below HKEY_LOCAL_MACHINE.
constexpr wchar_t kServicesKey[] = L"SYSTEM\\CurrentControlSet\\Services";
constexpr const wchar_t* kStartupKeys[] = {
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\"
    L"CurrentVersion\\Run",
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Install\\Software\\Microsoft\\Windows\\"
    L"CurrentVersion\\RunOnce"};
// RunOnceEx: each subkey (a section, but Depend) holds entries that are command lines, or
// "||" and a command line, or a DLL's function ("file|function|arguments").
constexpr wchar_t kRunOnceExKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx";
// Winlogon's values that hold comma-separated command lines started at each logon.
constexpr wchar_t kWinlogonKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
constexpr const wchar_t* kWinlogonValues[] = {L"Shell", L"Userinit"};
// Below each user's key of HKEY_USERS (a loaded hive; one key in both registry views).
constexpr const wchar_t* kUserStartupKeys[] = {L"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                               L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"};

// The views to read Run and RunOnce in: the native one, and on 64-bit Windows also the
// 32-bit one (WOW6432Node). On 32-bit Windows both views are the same key, read once.
struct StartupView {
    REGSAM sam;
    RegistryView view;
};
// One or two entries; `count` says how many.
struct StartupViews {
    StartupView views[2];
    int count;
};
StartupViews startupViews();

// A REG_SZ or REG_EXPAND_SZ value of `key`, up to its first NUL, as the enumeration reads
// it: 0, the registry's error, or ERROR_INVALID_DATATYPE for any other type (no command
// line). `text` and `expandable` are set only on success.
DWORD readValueText(HKEY key, const wchar_t* name, std::wstring& text, bool& expandable);

// `text` with its environment variables expanded as the service control manager, the shell
// and the Task Scheduler expand them: with this process's environment, and on 64-bit Windows
// with the native program folders (withNativeFolderVariables).
std::wstring expandedAsStarted(const std::wstring& text);

class RegistrationVisitor {
public:
    // One registration; false ends the enumeration.
    virtual bool visit(const Registration& registration) = 0;
    // A service key or a value that exists but could not be read (access denied, a type
    // that is no text): `place` as placeOf names keys, `name` the value or service; left out.
    virtual void passedOver(const std::wstring& place, const std::wstring& name, DWORD error)
    {
        (void)place, (void)name, (void)error;
    }

protected:
    ~RegistrationVisitor() = default;
};

// Visits, in this order: each Win32 service (its Type holds SERVICE_WIN32_OWN_PROCESS or
// SERVICE_WIN32_SHARE_PROCESS) with an ImagePath of type REG_SZ or REG_EXPAND_SZ, in the
// order of the services key; then each REG_SZ or REG_EXPAND_SZ value of each key of
// kStartupKeys (Run, RunOnce, then the Terminal Server install copies), in each view of
// startupViews(); then each entry of each section of kRunOnceExKey in each view (its
// default value, Depend, Flags and Title left out, and an entry that calls a DLL's function;
// after "||" the command line, with "||" in `before`); then each comma-separated, not blank, command line of Winlogon's Shell
// and Userinit (native view), one registration each; then the values of kUserStartupKeys
// of each user whose hive is loaded (HKEY_USERS\<SID>, the "_Classes" keys left out),
// placed as "HKU\<SID>\...". A REG_EXPAND_SZ text is expanded with this process's
// environment, as the service control manager and the shell expand it (on 64-bit Windows
// with the native program folders, withNativeFolderVariables). Values that cannot be
// read, services that cannot be opened and keys that do not exist are passed over (told to
// the visitor's passedOver, but for a missing key or value). A text
// ends at its first NUL. Returns 0 when everything was listed, ERROR_CANCELLED when the
// visitor ended the enumeration, and the Win32 error when the services key, HKEY_USERS or
// another key that exists cannot be opened or listed through: then the listing is
// incomplete and must not be taken for the machine's registrations.
DWORD enumerateRegistrations(RegistrationVisitor& visitor);

}}} // namespace tamselsvc::model::service
