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
    // The report of unquoted registrations.
    {106, L"\u30b9\u30da\u30fc\u30b9\u3092\u542b\u3080\u30d1\u30b9\u304c\u5f15\u7528\u7b26\u306a\u3057\u3067"
          L"\u767b\u9332\u3055\u308c\u3066\u3044\u307e\u3059\u3002\r\n\r\n"},
    {107, L"\u767b\u9332\uff1a"},
    {108, L"\u30b3\u30de\u30f3\u30c9\u30e9\u30a4\u30f3\uff1a"},
    {109, L"Windows \u304c\u672c\u6765\u306e\u30d7\u30ed\u30b0\u30e9\u30e0\u3088\u308a\u5148\u306b\u8a66\u3059"
          L"\u30d1\u30b9\uff1a\r\n"},
    {110, L"\uff08\u3053\u306e\u30d5\u30a9\u30eb\u30c0\u30fc\u306b\u306f\u4e00\u822c\u30e6\u30fc\u30b6\u30fc\u3082"
          L"\u30d5\u30a1\u30a4\u30eb\u3092\u4f5c\u6210\u3067\u304d\u307e\u3059\uff09"},
    {111, L"\u30d1\u30b9\u3092\u5f15\u7528\u7b26\u3067\u56f2\u3080\u306b\u306f\u3001\u6b21\u306e\u30b3\u30de\u30f3"
          L"\u30c9\u3092\u5b9f\u884c\u3057\u3066\u304f\u3060\u3055\u3044\uff1a\r\n"},
    {112, L"\u30d7\u30ed\u30b0\u30e9\u30e0\u306e\u767b\u9332\u306b\u3001\u5f15\u7528\u7b26\u306a\u3057\u3067\u30b9"
          L"\u30da\u30fc\u30b9\u3092\u542b\u3080\u30d1\u30b9\u304c\u306a\u3044\u304b\u78ba\u8a8d\u3057\u307e\u3057"
          L"\u305f\u3002\r\n\r\n"},
    {113, L"\u78ba\u8a8d\u3057\u305f\u767b\u9332\u306e\u6570\uff1a"},
    {114, L"\u5f15\u7528\u7b26\u306a\u3057\u3067\u30b9\u30da\u30fc\u30b9\u3092\u542b\u3080\u30d1\u30b9\u306e\u6570"
          L"\uff1a"},
    {115, L"\u767b\u9332\u3055\u308c\u305f\u30d7\u30ed\u30b0\u30e9\u30e0\u306e\u4ee3\u308f\u308a\u306b Windows "
          L"\u304c\u8d77\u52d5\u3059\u308b\u30d5\u30a1\u30a4\u30eb\u304c\u3042\u308a\u307e\u3059\u3002\r\n\r\n"},
    // The guard's folder records.
    {116, L"\u30d5\u30a9\u30eb\u30c0\u30fc\u3092\u76e3\u8996\u3067\u304d\u307e\u305b\u3093\u3002\u76e3\u8996\u3067\u304d\u308b\u3088\u3046\u306b\u306a\u308b\u307e\u3067 2 \u79d2\u3054\u3068\u306b\u78ba\u8a8d\u3057\u307e\u3059\u3002\r\n\r\n"},
    {117, L"\u30d5\u30a9\u30eb\u30c0\u30fc\u306e\u76e3\u8996\u3092\u518d\u958b\u3057\u307e\u3057\u305f\u3002\r\n\r\n"},
    {118, L"\u30d5\u30a9\u30eb\u30c0\u30fc\u3092\u78ba\u8a8d\u3067\u304d\u307e\u305b\u3093\u3002\u78ba\u8a8d\u3092 2 \u79d2\u3054\u3068\u306b\u3084\u308a\u76f4\u3057\u307e\u3059\u3002\r\n\r\n"},
    {119, L"\u30d5\u30a9\u30eb\u30c0\u30fc\u3092\u518d\u3073\u78ba\u8a8d\u3067\u304d\u308b\u3088\u3046\u306b\u306a\u308a\u307e\u3057\u305f\u3002\r\n\r\n"},
    // The report's further parts.
    {120, L"Windows \u304c\u9806\u306b\u8a66\u3059\u30d1\u30b9\uff1a\r\n"},
    {121, L"\u3069\u306e\u30d1\u30b9\u3082\u5b58\u5728\u3057\u306a\u3044\u305f\u3081\u3001\u30d7\u30ed\u30b0\u30e9\u30e0\u3092\u7279\u5b9a\u3067\u304d\u307e\u305b\u3093\u3002\u30b3\u30de\u30f3\u30c9\u306f\u793a\u3057\u307e\u305b\u3093\u3002"},
    {122, L"... \u307b\u304b "},
    {123, L" \u4ef6"},
    {124, L" \u6587\u5b57"},
    {125, L"\u3053\u306e\u6587\u5b57\u5217\u306b\u306f\u5b89\u5168\u306a\u30b3\u30de\u30f3\u30c9\u3092\u793a\u305b\u307e\u305b\u3093\u3002\u5024\u3092\u6b21\u306e\u901a\u308a\u8a2d\u5b9a\u3057\u3066\u304f\u3060\u3055\u3044\uff1a\r\n"},
    {126, L"\u767b\u9332\u3092\u78ba\u8a8d\u3067\u304d\u307e\u305b\u3093\u3067\u3057\u305f\u3002\r\n\r\n"},
    {127, L"\u30d7\u30ed\u30b0\u30e9\u30e0\u306e\u767b\u9332\u3092\u8aad\u307f\u53d6\u308c\u307e\u305b\u3093\u3067\u3057\u305f\u3002\u78ba\u8a8d\u3092\u518d\u8a66\u884c\u3057\u307e\u3059\u3002\r\n\r\n"},
    {170, L"\u3053\u306e\u64cd\u4f5c\u306b\u306f\u5b89\u5168\u306a\u30b3\u30de\u30f3\u30c9\u3092\u793a\u305b\u307e\u305b\u3093\u3002\u30bf\u30b9\u30af \u30b9\u30b1\u30b8\u30e5\u30fc\u30e9\u3067\u3001\u30d7\u30ed\u30b0\u30e9\u30e0\u3092\u5f15\u7528\u7b26\u3067\u56f2\u3093\u3060\u90e8\u5206\u306b\u3001\u5f15\u6570\u3092\u6b8b\u308a\u306e\u90e8\u5206\u306b\u8a2d\u5b9a\u3057\u3066\u304f\u3060\u3055\u3044\uff1a\r\n"},
};
#else
const Expected kExpected[] = {
    {102, L"The file was renamed as follows.\r\n\r\n"},
    {103, L"The file will be renamed as follows on restart.\r\n\r\n"},
    {104, L"The following file will be deleted on restart.\r\n\r\n"},
    {105, L"Error code= "},
    // The report of unquoted registrations.
    {106, L"A program is registered with an unquoted path that contains spaces.\r\n\r\n"},
    {107, L"Registration: "},
    {108, L"Command line: "},
    {109, L"Windows tries these paths before the program:\r\n"},
    {110, L" (ordinary users can create files in this folder)"},
    {111, L"To quote the path, run:\r\n"},
    {112, L"Program registrations were checked for unquoted paths with spaces.\r\n\r\n"},
    {113, L"Registrations checked: "},
    {114, L"Unquoted paths with spaces: "},
    {115, L"A file exists that Windows would start in place of a registered program.\r\n\r\n"},
    // The guard's folder records.
    {116, L"A folder cannot be watched. It is checked every two seconds until it can be watched again.\r\n\r\n"},
    {117, L"The folder is watched again.\r\n\r\n"},
    {118, L"A folder cannot be checked. The check is tried again every two seconds.\r\n\r\n"},
    {119, L"The folder can be checked again.\r\n\r\n"},
    // The report's further parts.
    {120, L"Windows tries these paths, in this order:\r\n"},
    {121, L"None of these paths exists, so the program cannot be told. No command is given."},
    {122, L"... and "},
    {123, L" more"},
    {124, L" more characters"},
    {125, L"No command can be given safely for this text. Set the value to:\r\n"},
    {126, L"A registration could not be checked for an unquoted path.\r\n\r\n"},
    {127, L"The program registrations could not be read. The check is tried again.\r\n\r\n"},
    {170, L"No command can be given safely for this action. In Task Scheduler, set its program to the quoted part and its arguments to the rest:\r\n"},
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

TEST(MESSAGE_SUITE, EveryTextOfThisLanguageExactly)
{
    svc::loadMessageStrings(GetModuleHandleW(nullptr));
    for (const auto& expected : kExpected) {
        const std::wstring& loaded = svc::messageString(expected.id);
        EXPECT_EQ(codePoints(expected.text), codePoints(loaded)) << "id " << expected.id;
    }
    // The heads of a record: one line, then an empty one.
    for (UINT id : {102u, 103u, 104u, 106u, 112u, 115u, 126u, 127u, 128u, 129u, 130u, 132u, 135u}) {
        const std::wstring& text = svc::messageString(id);
        ASSERT_TRUE(endsWith(text, L"\r\n\r\n")) << "id " << id << " ends with two CR LF pairs";
        EXPECT_EQ(std::wstring::npos, text.substr(0, text.size() - 4).find_first_of(L"\r\n")) << "id " << id;
    }
    EXPECT_TRUE(endsWith(svc::messageString(105), L"= "));
    EXPECT_TRUE(svc::messageString(101).empty());
    // The guard of registrations (128 to 139, 180), the console scan (140 to 164) and the
    // tasks' value to set (170), in this language too; 165 is the first free id.
    for (UINT id = 128; id <= 180; ++id) {
        EXPECT_EQ(id <= 164 || id == 170 || id == 180, !svc::messageString(id).empty()) << "id " << id;
    }
}

// The resource loader picks the table by language: the other table is there too, so the
// choice is the loader's, not the only one available.
TEST(MESSAGE_SUITE, BothLanguagesAreInTheTable)
{
    const HMODULE self = GetModuleHandleW(nullptr);
    // Strings 96 to 111 share block 7, 112 to 127 block 8, the console scan's 140 to 163
    // blocks 9 to 11.
    for (WORD block : {7, 8, 9, 10, 11}) {
        EXPECT_NE(nullptr, FindResourceExW(self, RT_STRING, MAKEINTRESOURCEW(block),
                                           MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
        EXPECT_NE(nullptr,
                  FindResourceExW(self, RT_STRING, MAKEINTRESOURCEW(block), MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)));
    }
}

TEST(MESSAGE_SUITE, AModuleWithoutTheTableLeavesEveryHeadEmpty)
{
    svc::loadMessageStrings(GetModuleHandleW(nullptr));
    ASSERT_FALSE(svc::messageString(102).empty());

    const std::wstring other = brimlock_test::builtProgram(L"candidates_tests.exe");
    HMODULE module = LoadLibraryExW(other.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module) << "LoadLibraryExW failed with " << GetLastError();
    ASSERT_EQ(nullptr, FindResourceW(module, MAKEINTRESOURCEW(7), RT_STRING)) << "that module must lack the table";
    ASSERT_EQ(nullptr, FindResourceW(module, MAKEINTRESOURCEW(8), RT_STRING));

    svc::loadMessageStrings(module);
    for (UINT id = 102; id <= 115; ++id) {
        EXPECT_TRUE(svc::messageString(id).empty()) << "id " << id;
    }
    EXPECT_TRUE(svc::messageString(140).empty());
    FreeLibrary(module);
}
