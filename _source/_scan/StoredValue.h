#pragma once
// One registration's registry value, found again by its place for a change: the key as
// the registrations name it ("HKLM\..." or "HKU\...", native names), the registry view it
// was read in and the value's name. A change is made only on the text seen before: the
// value is read again on the handle it is written through, right before the write, and
// left alone when its type or text differ. The seam (ScanFixPorts) lets a test fail a
// write or the undo file's move.
//
// Failure: a failed write leaves the value as it was (RegSetValueExW writes all or
// nothing); a value that changed is not written.

#include "_model/_service/_report/Registration.h"
#include "_win32/Ports.h"

#include <windows.h>

#include <string>

namespace brimlockscan {

struct ScanFixPorts {
    LSTATUS(WINAPI* regSetValueEx)(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
    BOOL(WINAPI* moveFileEx)(LPCWSTR from, LPCWSTR to, DWORD flags);
};
extern Corvane::Orlin::Ports<ScanFixPorts> scanFixPorts;

struct ValuePlace {
    std::wstring key; // "HKLM\..." or "HKU\..."
    tamselsvc::model::service::RegistryView view = tamselsvc::model::service::RegistryView::Single;
    std::wstring name;
};

struct StoredText {
    DWORD type = REG_SZ; // REG_SZ or REG_EXPAND_SZ
    std::wstring text;   // up to the first NUL
};

// The value's text and type now: 0, the registry's error, or ERROR_INVALID_DATATYPE.
DWORD readStoredText(const ValuePlace& place, StoredText& stored);

// Writes `replacement` when the value holds exactly `expected` now: 0; ERROR_FILE_NOT_FOUND
// for a missing key; kValueChanged when the value differs; else the registry's error.
constexpr DWORD kValueChanged = ERROR_INVALID_STATE;
DWORD replaceStoredText(const ValuePlace& place, const StoredText& expected, const StoredText& replacement);

} // namespace brimlockscan
