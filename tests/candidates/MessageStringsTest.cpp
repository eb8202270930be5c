// The event-text heads, loaded from this program's own string table. Built twice: once run
// under a Japanese locale (BRIMLOCK_EXPECT_JAPANESE), once under the C locale.
#include "TestPaths.h"

#include "_model/_service/MessageStrings.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace svc = tamselsvc::model::service;

namespace {

struct Expected {
    UINT id;
    const wchar_t* text;
};

#ifdef BRIMLOCK_EXPECT_JAPANESE
const Expected kExpected[] = {
    {102, L"\u4e0b\u8a18\u306e\u901a\u308a\u30d5\u30a1\u30a4\u30eb\u540d\u3092\u5909\u66f4\u3057\u307e\u3057\u305f"
          L"\u3002\r\n\r\n"},
    {103, L"\u518d\u8d77\u52d5\u6642\u306b\u4e0b\u8a18\u306e\u901a\u308a\u30d5\u30a1\u30a4\u30eb\u540d\u304c\u5909"
          L"\u66f4\u3055\u308c\u307e\u3059\u3002\r\n\r\n"},
    {104, L"\u518d\u8d77\u52d5\u6642\u306b\u4e0b\u8a18\u306e\u30d5\u30a1\u30a4\u30eb\u304c\u524a\u9664\u3055\u308c"
          L"\u307e\u3059\u3002\r\n\r\n"},
    {105, L"\u30a8\u30e9\u30fc\u30b3\u30fc\u30c9= "},
};
#else
const Expected kExpected[] = {
    {102, L"The file was renamed as follows.\r\n\r\n"},
    {103, L"The file will be renamed as follows on restart.\r\n\r\n"},
    {104, L"The following file will be deleted on restart.\r\n\r\n"},
    {105, L"Error code= "},
};
#endif

bool endsWith(const std::wstring& text, const std::wstring& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Code points, so that a mismatch shows which character differs.
std::string codePoints(const std::wstring& text)
{
    std::string out;
    char unit[8];
    for (wchar_t c : text) {
        snprintf(unit, sizeof(unit), "%04x ", static_cast<unsigned>(c));
        out += unit;
    }
    return out;
}

} // namespace

// One suite name per build, so that the two programs' cases stay apart in CTest.
#ifdef BRIMLOCK_EXPECT_JAPANESE
#define MESSAGE_SUITE JapaneseMessageStrings
#else
#define MESSAGE_SUITE EnglishMessageStrings
#endif

TEST(MESSAGE_SUITE, TheFourHeadsOfThisLanguageExactly)
{
    svc::loadMessageStrings(GetModuleHandleW(nullptr));
    for (const auto& expected : kExpected) {
        const std::wstring& loaded = svc::messageString(expected.id);
        EXPECT_EQ(codePoints(expected.text), codePoints(loaded)) << "id " << expected.id;
    }
    for (UINT id = 102; id <= 104; ++id) {
        const std::wstring& text = svc::messageString(id);
        ASSERT_TRUE(endsWith(text, L"\r\n\r\n")) << "id " << id << " ends with two CR LF pairs";
        EXPECT_EQ(std::wstring::npos, text.substr(0, text.size() - 4).find_first_of(L"\r\n")) << "id " << id;
    }
    EXPECT_TRUE(endsWith(svc::messageString(105), L"= "));
    EXPECT_TRUE(svc::messageString(101).empty());
    EXPECT_TRUE(svc::messageString(106).empty());
}

// The resource loader picks the table by language: the other table is there too, so the
// choice is the loader's, not the only one available.
TEST(MESSAGE_SUITE, BothLanguagesAreInTheTable)
{
    const HMODULE self = GetModuleHandleW(nullptr);
    // Strings 96 to 111 share block 7.
    EXPECT_NE(nullptr, FindResourceExW(self, RT_STRING, MAKEINTRESOURCEW(7), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
    EXPECT_NE(nullptr, FindResourceExW(self, RT_STRING, MAKEINTRESOURCEW(7), MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)));
}

TEST(MESSAGE_SUITE, AModuleWithoutTheTableLeavesEveryHeadEmpty)
{
    svc::loadMessageStrings(GetModuleHandleW(nullptr));
    ASSERT_FALSE(svc::messageString(102).empty());

    const std::wstring other = brimlock_test::builtProgram(L"candidates_tests.exe");
    HMODULE module = LoadLibraryExW(other.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module) << "LoadLibraryExW failed with " << GetLastError();
    ASSERT_EQ(nullptr, FindResourceW(module, MAKEINTRESOURCEW(7), RT_STRING)) << "that module must lack the table";

    svc::loadMessageStrings(module);
    for (UINT id = 102; id <= 105; ++id) {
        EXPECT_TRUE(svc::messageString(id).empty()) << "id " << id;
    }
    FreeLibrary(module);
}
