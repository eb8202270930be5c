#pragma once
// Where the test programs and the built programs are, seen from inside Windows.

#include <string>

namespace brimlock_test {

// Folder of the running test program (the build's bin folder), without a trailing backslash.
std::wstring moduleDirectory();
// Full path of a program built beside the test, e.g. L"brimlock.exe".
std::wstring builtProgram(const std::wstring& fileName);
// A fresh, empty folder under the system's temporary folder; removed by the caller.
std::wstring makeTempDirectory(const std::wstring& hint);
// Removes a file or a folder with everything in it; links are removed, never followed.
void removeTree(const std::wstring& path);
std::wstring environmentVariable(const wchar_t* name);
// A host path (of the build tree, of the Wine root) as Windows sees it: drive Z: is the
// host's root.
std::wstring windowsPathOf(std::wstring hostPath);
bool isWow64();

} // namespace brimlock_test
