#pragma once
// The policies of a Group Policy template (.admx), read with the system's XML parser
// (MSXML, through COM): for each <policy>, the registry value Group Policy writes when the
// policy is enabled or disabled.

#include <windows.h>

#include <string>
#include <vector>

namespace brimlock_test {

struct PolicySetting {
    std::wstring name;
    std::wstring policyClass; // "Machine": the key is under HKEY_LOCAL_MACHINE
    std::wstring key;
    std::wstring valueName;
    bool hasEnabledValue = false; // <enabledValue><decimal value="..."/>
    DWORD enabledValue = 0;
    bool hasDisabledValue = false;
    DWORD disabledValue = 0;
};

// Every <policy> of the template, in file order. Empty, with `error` set, when the file
// cannot be loaded or parsed.
std::vector<PolicySetting> readPolicyTemplate(const std::wstring& path, std::string& error);

} // namespace brimlock_test
