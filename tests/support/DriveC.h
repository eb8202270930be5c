#pragma once
// Files of the prefix's drive C as the tests make, read and remove them, and the restart
// list (PendingFileRenameOperations) that the countermeasure writes.

#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace brimlock_test {

// A new file with `text` in it; false when the name is taken or the file cannot be written.
bool createFileWithText(const std::wstring& path, const std::string& text);
// createFileWithText(path, "x").
bool createFile(const std::wstring& path);
std::string readFileText(const std::wstring& path); // "<missing>" when it cannot be opened
bool exists(const std::wstring& path);     // any entry
bool isDirectory(const std::wstring& path);
bool fileExists(const std::wstring& path); // an entry that is not a folder

// The names (without folder) of the entries that match a FindFirstFileW pattern; with
// `filesOnly`, of those the listing does not mark as folders (so names that no path
// reaches as written, such as "Program.", count too).
std::vector<std::wstring> namesMatching(const std::wstring& pattern, bool filesOnly = false);
// Deletes every file in `folder` (with or without a final backslash) that matches
// `pattern`, read-only ones too; folders stay.
void deleteFilesMatching(const std::wstring& folder, const std::wstring& pattern);
// Removes every file in C:\ whose name starts with "program", "quarrow" or "progrxm" (any
// case), and the test folders C:\Program, C:\Programs, C:\Program1 and C:\Program1.exe
// when empty.
void cleanDriveC();

// Holds a file open for reading without delete sharing, as a program using it would: it
// can be neither renamed nor deleted until the object goes.
class HeldFile {
public:
    explicit HeldFile(const std::wstring& path);
    bool held() const { return static_cast<bool>(_file); }
    void release() { _file.reset(); }

private:
    Corvane::Orlin::UniqueFile _file;
};

// PendingFileRenameOperations (REG_MULTI_SZ under Session Manager): its entries, and
// whether the value exists at all.
struct PendingOperations {
    bool present = false;
    DWORD type = REG_MULTI_SZ;
    std::vector<BYTE> raw;
    std::vector<std::wstring> entries; // every string of the value, empty ones included
};
PendingOperations readPendingOperations();
// Puts the value back as it was (deletes it when it was absent).
void restorePendingOperations(const PendingOperations& saved);
// Deletes the value.
void clearPendingOperations();
// The entries added after `before`, as pairs (source, target), target "" for a deletion.
std::vector<std::pair<std::wstring, std::wstring>> addedOperations(const PendingOperations& before);

// Runs "wineboot.exe -r", which carries out the pending renames and deletions.
bool runWinebootRestart();

} // namespace brimlock_test
