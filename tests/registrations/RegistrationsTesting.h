#pragma once
// What the report's tests make, each removed again when the case ends: a folder of their own
// on drive C, and values of HKLM's Run key.

#include "Registry.h"
#include "TestPaths.h"

#include <windows.h>

#include <string>

namespace brimlock_test {

const std::wstring kRegistrationsRoot = L"C:\\brimlock-reg";
constexpr wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

struct TestFolder {
    TestFolder()
    {
        removeTree(kRegistrationsRoot);
        CreateDirectoryW(kRegistrationsRoot.c_str(), nullptr);
    }
    ~TestFolder() { removeTree(kRegistrationsRoot); }
};

// A value of the Run key in one view (removed from both views before and after).
class RunValue {
public:
    explicit RunValue(std::wstring name, REGSAM view = KEY_WOW64_64KEY) : _name(std::move(name)), _view(view)
    {
        remove();
    }
    ~RunValue() { remove(); }
    LSTATUS set(const std::wstring& text) const { return setMachineString(kRunKey, _name, text, _view); }
    std::wstring get() const { return readMachineValue(kRunKey, _name, _view).text; }

private:
    void remove() const
    {
        for (REGSAM view : {REGSAM(KEY_WOW64_64KEY), REGSAM(KEY_WOW64_32KEY)}) {
            deleteMachineValue(kRunKey, _name, view);
        }
    }

    std::wstring _name;
    REGSAM _view;
};

} // namespace brimlock_test
