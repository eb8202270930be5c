#pragma once
// A program's version resource as upgrade and inventory tools read it:
// GetFileVersionInfoW, then VerQueryValueW for the fixed part and for the strings of the
// language and code page that the file's translation table names first.

#include <windows.h>

#include <string>
#include <vector>

namespace brimlock_test {

struct FileVersion {
    DWORD error = 0;          // 0 when the resource was read; GetLastError() otherwise
    std::wstring fileVersion; // fixed part, "major.minor.build.revision"
    std::wstring productVersion;
    DWORD fileType = 0;
    // A string of the first translation, empty when it is missing.
    std::wstring string(const std::wstring& name) const;

    std::wstring translation; // the first translation, e.g. "040904b0"
    std::vector<BYTE> block;  // the whole resource, read by string()
};

FileVersion readFileVersion(const std::wstring& path);

} // namespace brimlock_test
