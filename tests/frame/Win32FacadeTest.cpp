// The facade forwards calls unchanged; SecureZeroMemory does its own work.
#include "_win32/AnsiConversion.h"
#include "_win32/CWin32Api.h"

#include <gtest/gtest.h>

#include <array>

using Corvane::Orlin::CWin32Api;
using Corvane::Orlin::win32::AnsiConversionException;
using Corvane::Orlin::win32::ToAnsi;

TEST(Win32Facade, SecureZeroMemoryClearsExactlyTheCountedBytes)
{
    CWin32Api api;
    std::array<unsigned char, 9> bytes;
    bytes.fill(0xAB);
    EXPECT_EQ(bytes.data() + 2, api.SecureZeroMemory(bytes.data() + 2, 5));
    const std::array<unsigned char, 9> expected{0xAB, 0xAB, 0, 0, 0, 0, 0, 0xAB, 0xAB};
    EXPECT_EQ(expected, bytes);
    EXPECT_EQ(bytes.data(), api.SecureZeroMemory(bytes.data(), 0));
    EXPECT_EQ(0xAB, bytes[0]) << "a count of 0 writes nothing";
}

TEST(Win32Facade, ForwardedCallGivesTheResultAndLastErrorOfTheDirectCall)
{
    CWin32Api api;
    const wchar_t* missing = L"C:\\brimlock-no-such-folder\\nothing.txt";
    SetLastError(0);
    const BOOL direct = ::MoveFileExW(missing, L"C:\\brimlock-no-such-folder\\else.txt", 0);
    const DWORD directError = GetLastError();
    SetLastError(0);
    const BOOL forwarded = api.MoveFileExW(missing, L"C:\\brimlock-no-such-folder\\else.txt", 0);
    EXPECT_EQ(direct, forwarded);
    EXPECT_EQ(FALSE, forwarded);
    EXPECT_EQ(directError, GetLastError());
    EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), directError);

    HANDLE event = api.CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    EXPECT_EQ(DWORD(WAIT_TIMEOUT), api.WaitForSingleObject(event, 0));
    EXPECT_TRUE(api.SetEvent(event));
    EXPECT_EQ(DWORD(WAIT_OBJECT_0), api.WaitForSingleObject(event, 0));
    EXPECT_TRUE(api.CloseHandle(event));
    SetLastError(0);
    EXPECT_FALSE(api.SetEvent(event));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());

    wchar_t viaFacade[MAX_PATH] = {};
    wchar_t viaSystem[MAX_PATH] = {};
    EXPECT_EQ(::GetModuleFileNameW(nullptr, viaSystem, MAX_PATH), api.GetModuleFileNameW(nullptr, viaFacade, MAX_PATH));
    EXPECT_STREQ(viaSystem, viaFacade);
}

TEST(ToAnsi, EmptyAndPlainText)
{
    EXPECT_EQ("", ToAnsi(L""));
    EXPECT_EQ("C:\\Program Files", ToAnsi(L"C:\\Program Files"));
}

namespace {

using Corvane::Orlin::win32::AnsiConversionPorts;
using Corvane::Orlin::win32::ansiConversionPorts;

int WINAPI failWith1113(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL)
{
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
}
int WINAPI failWithInvalidParameter(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL)
{
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}
int g_calls = 0;
int WINAPI failSecondStep(UINT cp, DWORD flags, LPCWCH in, int n, LPSTR out, int size, LPCCH def, LPBOOL used)
{
    if (++g_calls == 2) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return ::WideCharToMultiByte(cp, flags, in, n, out, size, def, used);
}

// ToAnsi of `text` with the conversion call replaced by `convert` raises exactly this.
void expectRaised(Corvane::Orlin::win32::WideCharToMultiByteFn convert, const std::wstring& text, DWORD code,
                  const char* message)
{
    const AnsiConversionPorts failing{convert};
    Corvane::Orlin::Ports<AnsiConversionPorts>::Override scope(ansiConversionPorts, failing);
    try {
        ToAnsi(text);
        ADD_FAILURE() << "no exception";
    } catch (const AnsiConversionException& e) {
        EXPECT_EQ(code, e.errorCode());
        EXPECT_STREQ(message, e.what());
    }
}

} // namespace

TEST(ToAnsi, UnpairedSurrogateRejectedWithErrorCodeAndText)
{
    const std::wstring lone(1, wchar_t(0xD800));
    // Windows' code pages replace an unpaired surrogate instead of failing; where the
    // system does reject it, the result must be the exception below.
    try {
        const std::string converted = ToAnsi(L"a" + lone + L"b");
        EXPECT_EQ(3u, converted.size()) << "replaced by the default character";
    } catch (const AnsiConversionException& e) {
        EXPECT_EQ(DWORD(ERROR_NO_UNICODE_TRANSLATION), e.errorCode());
        EXPECT_STREQ("Invalid UTF-16 sequence found in input string.", e.what());
    }
    // The same rejection forced through the seam.
    expectRaised(&failWith1113, L"a" + lone, ERROR_NO_UNICODE_TRANSLATION,
                 "Invalid UTF-16 sequence found in input string.");
}

TEST(ToAnsi, OtherFailuresKeepTheirStepsMessage)
{
    expectRaised(&failWithInvalidParameter, L"abc", ERROR_INVALID_PARAMETER,
                 "Cannot get result string length when converting from UTF-16 to ANSI (WideCharToMultiByte failed).");
    g_calls = 0;
    expectRaised(&failSecondStep, L"abc", ERROR_INSUFFICIENT_BUFFER,
                 "Cannot convert from UTF-16 to ANSI (WideCharToMultiByte failed).");
    EXPECT_EQ("abc", ToAnsi(L"abc")) << "the system's call is back once the scope has ended";
}
