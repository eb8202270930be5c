// The name rules: pure string work, checked against the cases the rules name.
#include "_model/_service/Paths.h"
#include "_model/_service/_guard/NameRules.h"

#include <gtest/gtest.h>

using namespace tamselsvc::model::service;

TEST(NameRules, FileNameIsThePartAfterTheLastSeparator)
{
    EXPECT_EQ(L"Program", fileNameOf(L"C:\\Program"));
    EXPECT_EQ(L"Quarrow Link", fileNameOf(L"C:\\Program Files\\Corvane\\Quarrow Link"));
    EXPECT_EQ(L"b.txt", fileNameOf(L"C:/a/b.txt"));
    EXPECT_EQ(L"b", fileNameOf(L"C:\\a/b"));
    EXPECT_EQ(L"", fileNameOf(L"C:\\"));
    EXPECT_EQ(L"name", fileNameOf(L"name"));
}

TEST(NameRules, ExtensionAndStemFollowTheDotRules)
{
    struct Case { const wchar_t* name; const wchar_t* stem; const wchar_t* extension; };
    const Case cases[] = {
        {L"Program", L"Program", L""},
        {L"PROGRAM.EXE", L"PROGRAM", L".EXE"},
        {L"Program Files.txt", L"Program Files", L".txt"},
        {L"archive.tar.gz", L"archive.tar", L".gz"},
        {L".", L".", L""},
        {L"..", L"..", L""},
        {L".profile", L".profile", L""},      // the only dot leads the name
        {L".profile.bak", L".profile", L".bak"},
        {L"name.", L"name", L"."},           // a final dot is an extension of its own
        {L"...", L"..", L"."},
        {L"Program:stream", L"Program", L""}, // a colon ends the name
        {L"Program.exe:stream.txt", L"Program", L".exe"},
        {L"a:b.c", L"a", L""},
        {L".x:y.z", L".x", L""},
        {L"", L"", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.stem, stemOf(c.name)) << c.name;
        EXPECT_EQ(c.extension, extensionOf(c.name)) << c.name;
    }
    EXPECT_EQ(L"Quarrow Link", stemOfPath(L"C:\\Program Files (x86)\\Corvane\\Quarrow Link"));
    EXPECT_EQ(L"Program Files (x86)", stemOfPath(L"C:\\Program Files (x86)"));
}

TEST(NameRules, LowerCasingTouchesOnlyAToZ)
{
    EXPECT_EQ(L"program files (x86)", lowerAsciiOnly(L"PROGRAM Files (X86)"));
    EXPECT_EQ(L"@[`{", lowerAsciiOnly(L"@[`{")); // the neighbours of A-Z and a-z stay
    // Accented, full-width and Greek capitals are left as they are.
    EXPECT_EQ(L"\u00c9t\u00c9", lowerAsciiOnly(L"\u00c9T\u00c9"));
    EXPECT_EQ(L"\uff30\u0391", lowerAsciiOnly(L"\uff30\u0391"));
    EXPECT_TRUE(sameStem(L"C:\\PROGRAM.EXE", L"C:\\Program"));
    EXPECT_FALSE(sameStem(L"C:\\Programs", L"C:\\Program"));
    EXPECT_FALSE(sameStem(L"C:\\Progr\u00c1m", L"C:\\progr\u00e1m"));
}

TEST(NameRules, StemPredicatesCompareWholeAndContainedStems)
{
    const std::vector<std::wstring> stems{L"program", L"program files"};
    EXPECT_TRUE(stemEqualsAny(L"C:\\PROGRAM.EXE", stems));
    EXPECT_TRUE(stemEqualsAny(L"C:\\Program Files.txt", stems));
    EXPECT_FALSE(stemEqualsAny(L"C:\\Program1", stems));
    EXPECT_FALSE(stemEqualsAny(L"C:\\Program Files (x86)", stems));
    EXPECT_TRUE(stemContainsAny(L"C:\\Program1.txt", stems));
    EXPECT_TRUE(stemContainsAny(L"C:\\MyPROGRAMs", stems));
    EXPECT_FALSE(stemContainsAny(L"C:\\Pro gram", stems));
    EXPECT_FALSE(stemContainsAny(L"C:\\x.program", stems)); // the extension does not count
    EXPECT_FALSE(stemContainsAny(L"C:\\Program", {}));
}

TEST(NameRules, ParentKeepsTheRootSeparatorOnly)
{
    EXPECT_EQ(L"C:\\", parentOf(L"C:\\Program"));
    EXPECT_EQ(L"C:\\Program Files\\Corvane", parentOf(L"C:\\Program Files\\Corvane\\Quarrow"));
    EXPECT_EQ(L"C:\\a", parentOf(L"C:\\a\\\\b"));
    EXPECT_EQ(L"C:\\", parentOf(L"C:\\\\b"));
    EXPECT_EQ(L"\\", parentOf(L"\\b"));
    EXPECT_EQ(L"\\\\server\\share\\", parentOf(L"\\\\server\\share\\b"));
    EXPECT_EQ(L"", parentOf(L"b"));

    EXPECT_EQ(L"C:\\Program", joinPath(L"C:\\", L"Program"));
    EXPECT_EQ(L"C:\\a\\b", joinPath(L"C:\\a", L"b"));
    EXPECT_EQ(L"C:/a/b", joinPath(L"C:/a/", L"b"));
}

TEST(NameRules, NameSearchTakesTheFirstFreeNumber)
{
    std::unordered_set<std::wstring> taken{L"program", L"program1"};
    EXPECT_EQ(L"C:\\Program2", findFreeNumberedName(L"C:\\", L"Program", L"", taken));
    EXPECT_EQ(1u, taken.count(L"program2")) << "the chosen key is taken from now on";
    EXPECT_EQ(L"C:\\Program3", findFreeNumberedName(L"C:\\", L"Program", L"", taken));
    // Case of stem and extension is kept; the key ignores the extension.
    std::unordered_set<std::wstring> other{L"program"};
    EXPECT_EQ(L"C:\\PROGRAM1.EXE", findFreeNumberedName(L"C:\\", L"PROGRAM", L".EXE", other));
    EXPECT_EQ(L"C:\\a\\Quarrow Link1", findFreeNumberedName(L"C:\\a", L"Quarrow Link", L"", other));
}

TEST(NameRules, NameSearchGivesUpAfterOneHundred)
{
    std::unordered_set<std::wstring> taken{L"program"};
    for (int n = 1; n <= 99; ++n) {
        taken.insert(L"program" + std::to_wstring(n));
    }
    EXPECT_EQ(L"C:\\Program100", findFreeNumberedName(L"C:\\", L"Program", L"", taken));
    const size_t before = taken.size();
    EXPECT_EQ(L"", findFreeNumberedName(L"C:\\", L"Program", L"", taken)) << "101 is never tried";
    EXPECT_EQ(before, taken.size());
    EXPECT_EQ(0u, taken.count(L"program101"));
}
