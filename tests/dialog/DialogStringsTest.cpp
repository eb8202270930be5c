// The string tables and manifest compiled into brimlockdlg.exe, read back from the image.

#include "DialogImage.h"
#include "ExpectedTexts.h"

#include "_dialog/ResourceString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace dialog_test;

namespace {

BOOL CALLBACK collectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param)
{
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
    return TRUE;
}

} // namespace

TEST(DialogStrings, EachLanguageHoldsExactlyTheExpectedTexts)
{
    DialogImage image;
    ASSERT_NE(nullptr, image.module()) << "error " << image.error();
    for (LANGID language : {kEnglish, kJapanese}) {
        for (UINT id = 0; id < 16; ++id) {
            bool found = false;
            const std::wstring text = image.stringIn(language, id, &found);
            ASSERT_TRUE(found) << "language " << language << " has no string block 1";
            const wchar_t* expected = expectedText(language, id);
            if (expected == nullptr) {
                EXPECT_TRUE(text.empty()) << "unexpected string " << id << " in " << language;
                continue;
            }
            EXPECT_EQ(std::wstring(expected), text) << "language " << language << " id " << id;
            // loadResourceString keeps at most 511 characters.
            EXPECT_LT(text.size(), 512u);
        }
    }
}

TEST(DialogStrings, JapaneseQuirksOfTheRestartAndFatalBodies)
{
    DialogImage image;
    ASSERT_NE(nullptr, image.module()) << "error " << image.error();
    EXPECT_NE(std::wstring::npos, image.stringIn(kJapanese, 4).find(L"\u30BD\u30FC\u30B9 \"brimlock\" \u3068"));
    EXPECT_NE(std::wstring::npos, image.stringIn(kJapanese, 5).find(L"\u30BD\u30FC\u30B9\"brimlock\" \u3068"));
    EXPECT_NE(std::wstring::npos, image.stringIn(kJapanese, 6).find(L"\u30BD\u30FC\u30B9\u201Dbrimlock\u201D\u3068"));
}

TEST(DialogStrings, OnlyEnglishAndJapaneseTables)
{
    DialogImage image;
    ASSERT_NE(nullptr, image.module()) << "error " << image.error();
    std::vector<WORD> languages;
    ASSERT_TRUE(EnumResourceLanguagesW(image.module(), MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(1), collectLanguage,
                                       reinterpret_cast<LONG_PTR>(&languages)))
        << "error " << GetLastError();
    std::sort(languages.begin(), languages.end());
    EXPECT_EQ((std::vector<WORD>{kEnglish, kJapanese}), languages);
}

TEST(DialogStrings, LoadResourceStringOfMissingIdIsEmpty)
{
    DialogImage image;
    ASSERT_NE(nullptr, image.module()) << "error " << image.error();
    EXPECT_EQ(L"", brimlockdlg::loadResourceString(image.module(), 2));
    EXPECT_EQ(L"", brimlockdlg::loadResourceString(image.module(), 7));
    EXPECT_EQ(L"", brimlockdlg::loadResourceString(image.module(), 400));
    EXPECT_FALSE(brimlockdlg::loadResourceString(image.module(), 1).empty());
}

TEST(DialogProgramImage, AsInvokerManifestAndGuiSubsystem)
{
    DialogImage image;
    ASSERT_NE(nullptr, image.module()) << "error " << image.error();
    HRSRC found = FindResourceW(image.module(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(nullptr, found) << "error " << GetLastError();
    const char* data = static_cast<const char*>(LockResource(LoadResource(image.module(), found)));
    ASSERT_NE(nullptr, data);
    const std::string manifest(data, SizeofResource(image.module(), found));
    EXPECT_NE(std::string::npos, manifest.find("level=\"asInvoker\"")) << manifest;
    EXPECT_NE(std::string::npos, manifest.find("uiAccess=\"false\"")) << manifest;

    std::ifstream file(dialogProgramPath().c_str(), std::ios::binary);
    ASSERT_TRUE(file.good());
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), sizeof(IMAGE_DOS_HEADER));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
    ASSERT_EQ(IMAGE_DOS_SIGNATURE, dos->e_magic);
    ASSERT_LT(static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32), bytes.size());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(bytes.data() + dos->e_lfanew);
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt->OptionalHeader.Subsystem);
}
