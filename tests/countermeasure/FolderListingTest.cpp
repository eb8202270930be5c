// The listing against links made on the Linux side of the prefix (Wine's own
// CreateSymbolicLinkW makes nothing): folders behind links are skipped, files behind
// links kept, and a dangling link is no error.
#include "CountermeasureTesting.h"
#include "HostShell.h"
#include "TestPaths.h"
#include "Wait.h"

#include "_model/_service/_guard/FolderListing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <unordered_set>

using namespace brimlock_test;
using namespace tamselsvc::model::service;

namespace {

// Removed on the Linux side: a Windows-side tree removal would follow the links.
bool removeLinkFolder(const std::wstring& folder, const std::string& unixFolder)
{
    return runHostShellAndWait("rm -rf '" + unixFolder + "'", folder + L".done") && !exists(folder);
}

} // namespace

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
    ASSERT_TRUE(runHostShellAndWait("cd '" + unixFolder + "' && ln -s realfile filelink && ln -s realdir dirlink && "
                                    "ln -s nothing dangling && touch done",
                                    folder + L".done"));
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

    // The same listing for a pass: the files for the check (folders behind links skipped as
    // above), and the name of every entry that holds a stem, folders and links too.
    const FolderListing listing = listCandidateFolder(
        folder, {L"done", L"filelink", L"realfile", L"realdir", L"dirlink"}, {L"real", L"link", L"done"});
    std::vector<std::wstring> offending = listing.offending;
    std::sort(offending.begin(), offending.end());
    EXPECT_EQ(expected, offending);
    // (Wine 8 lists no dangling link at all.)
    const std::unordered_set<std::wstring> taken{L"done", L"filelink", L"realfile", L"realdir", L"dirlink"};
    EXPECT_EQ(taken, listing.takenNames) << "folders and links take their names too";
    EXPECT_TRUE(removeLinkFolder(folder, unixFolder));
}
