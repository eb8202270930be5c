// The desktop wait: shown at once on the normal desktop, otherwise checked once a second,
// at most 30 times, then shown anyway.

#include "FakeDesktopApi.h"

#include "_dialog/DesktopWait.h"

#include <gtest/gtest.h>

using namespace brimlockdlg;
using dialog_test::FakeDesktopApi;

TEST(DesktopWait, DefaultDesktopShowsAtOnce)
{
    FakeDesktopApi api;
    api.answer(L"Default");
    showWhenDesktopReady(L"text", L"caption", api);
    EXPECT_EQ(1, api.checks);
    EXPECT_TRUE(api.sleeps.empty());
    ASSERT_EQ(1u, api.boxes.size());
    EXPECT_EQ(L"text", api.boxes[0].text);
    EXPECT_EQ(L"caption", api.boxes[0].caption);
    // OK button only, no icon, system-modal.
    EXPECT_EQ(static_cast<UINT>(0x00001000), api.boxes[0].style);
}

TEST(DesktopWait, SecureDesktopThenDefaultSleepsOnceAfterEachMiss)
{
    FakeDesktopApi api;
    api.answer(L"Winlogon", 4);
    api.answer(L"Default");
    showWhenDesktopReady(L"t", L"c", api);
    EXPECT_EQ(5, api.checks);
    EXPECT_EQ(std::vector<DWORD>(4, 1000), api.sleeps);
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), api.sleepsBeforeCheck);
    EXPECT_EQ(5, api.checksBeforeBox);
    EXPECT_EQ(1u, api.boxes.size());
}

TEST(DesktopWait, FailedQueriesAndOtherNamesCountAsNotReady)
{
    FakeDesktopApi api;
    api.fail(2);
    api.answer(L"Screen-saver");
    api.answer(L"default");   // the name is compared exactly
    api.answer(L"Default ");
    api.answer(L"");
    api.answer(L"Default");
    EXPECT_EQ(7, waitForDefaultDesktop(api));
    EXPECT_EQ(6u, api.sleeps.size());
}

TEST(DesktopWait, LockedLongerThanThirtyChecksShowsAnyway)
{
    FakeDesktopApi api;
    api.answer(L"Winlogon", 100);
    showWhenDesktopReady(L"t", L"c", api);
    EXPECT_EQ(30, api.checks);
    EXPECT_EQ(std::vector<DWORD>(30, 1000), api.sleeps) << "the 30th miss also sleeps";
    EXPECT_EQ(1u, api.boxes.size());

    FakeDesktopApi late;
    late.answer(L"Winlogon", 29);
    late.answer(L"Default");
    EXPECT_EQ(30, waitForDefaultDesktop(late));
    EXPECT_EQ(29u, late.sleeps.size()) << "found on the last check: no sleep after it";
}

TEST(DesktopWait, RealInputDesktopIsNamedDefault)
{
    CDesktopWaitApi api;
    std::wstring name;
    SetLastError(0xdeadbeef);
    ASSERT_TRUE(api.inputDesktopName(name)) << "error " << GetLastError();
    EXPECT_EQ(L"Default", name);
}
