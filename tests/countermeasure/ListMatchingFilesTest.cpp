// The listing against links made on the Linux side of the prefix (Wine's own
// CreateSymbolicLinkW makes nothing): folders behind links are skipped, files behind
// links kept, and a dangling link is no error.
#include "CountermeasureTesting.h"
#include "TestPaths.h"
#include "Wait.h"

#include "_model/_service/Countermeasure.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace brimlock_test;
using namespace tamselsvc::model::service;

namespace {

// Wine's own export; null outside Wine.
std::string unixPathOf(const std::wstring& path)
{
    using Fn = char*(CDECL*)(LPCWSTR);
    const auto fn = reinterpret_cast<Fn>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    if (!fn) {
        return std::string();
    }
    char* unix = fn(path.c_str());
    std::string result = unix ? unix : "";
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

// Starts a shell command on the Linux side. Wine starts it but gives no handle to wait
// on, so callers wait for its effect.
bool runUnixShell(const std::string& script)
{
    std::wstring command = L"/bin/sh -c \"" + std::wstring(script.begin(), script.end()) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return false;
    }
    if (info.hThread) CloseHandle(info.hThread);
    if (info.hProcess) CloseHandle(info.hProcess);
    return true;
}

} // namespace

// Runs the script and waits until it has ended: it touches a marker file beside the
// folder last.
bool runUnixShellAndWait(const std::string& script, const std::wstring& folder, const std::string& unixFolder)
{
    const std::wstring marker = folder + L".done";
    DeleteFileW(marker.c_str());
    if (!runUnixShell(script + "; touch '" + unixFolder + ".done'")) {
        return false;
    }
    const bool ended = waitUntil([&] { return exists(marker); }, std::chrono::seconds(10));
    DeleteFileW(marker.c_str());
    return ended;
}

// Removed on the Linux side: a Windows-side tree removal would follow the links.
bool removeLinkFolder(const std::wstring& folder, const std::string& unixFolder)
{
    return runUnixShellAndWait("rm -rf '" + unixFolder + "'", folder, unixFolder) && !exists(folder);
}

TEST(ListMatchingFiles, LinkedFoldersAreSkippedAndLinkedFilesKept)
{
    const std::wstring folder = L"C:\\brimlock-links";
    const std::string unixFolder = unixPathOf(folder);
    if (unixFolder.empty()) {
        GTEST_SKIP() << "not running under Wine";
    }
    ASSERT_TRUE(removeLinkFolder(folder, unixFolder));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\realdir").c_str(), nullptr));
    ASSERT_TRUE(createFileWithText(folder + L"\\realfile", "r"));
    ASSERT_TRUE(runUnixShellAndWait("cd '" + unixFolder + "' && ln -s realfile filelink && ln -s realdir dirlink && "
                                    "ln -s nothing dangling && touch done",
                                    folder, unixFolder));
    ASSERT_TRUE(exists(folder + L"\\done")) << "the links were not made";

    const PathPredicate all = [](const std::wstring&) { return true; };
    std::vector<std::wstring> listed = listMatchingFiles(folder, all);
    std::sort(listed.begin(), listed.end());
    const std::vector<std::wstring> expected{folder + L"\\done", folder + L"\\filelink", folder + L"\\realfile"};
    EXPECT_EQ(expected, listed);

    // The predicate sees full paths and decides alone among the files.
    std::vector<std::wstring> seen;
    const std::vector<std::wstring> some = listMatchingFiles(folder + L"\\", [&](const std::wstring& path) {
        seen.push_back(path);
        return path.find(L"file") != std::wstring::npos;
    });
    EXPECT_EQ(2u, some.size());
    EXPECT_NE(seen.end(), std::find(seen.begin(), seen.end(), folder + L"\\realfile")) << "one backslash added";
    EXPECT_EQ(seen.end(), std::find(seen.begin(), seen.end(), folder + L"\\.")) << "no dot entries";
    EXPECT_TRUE(removeLinkFolder(folder, unixFolder));
}
