// The candidate tables and the start check that chooses one: against the prefix's own
// answers (its Windows kind, its 32-bit program folder, moved for some cases), and through
// the seam where Wine cannot be made to fail.
#include "ProgramFilesOverride.h"
#include "TestPaths.h"

#include "_model/_service/CandidateTable.h"
#include "_model/_service/SelfStop.h"
#include "_model/_service/StartCheck.h"
#include "_model/_service/TamselService.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <vector>

namespace svc = tamselsvc::model::service;

namespace {

using Rows = std::vector<std::pair<std::wstring, std::vector<std::wstring>>>;

Rows rowsOf(const svc::CandidateTable& table)
{
    Rows rows;
    for (const auto& row : table) {
        rows.emplace_back(row.folder, row.files);
    }
    return rows;
}

const Rows kNative = {
    {L"C:\\", {L"C:\\Program"}},
    {L"C:\\Program Files\\Corvane\\", {L"C:\\Program Files\\Corvane\\Quarrow", L"C:\\Program Files\\Corvane\\Quarrow Link"}},
};
const Rows kWow64 = {
    {L"C:\\", {L"C:\\Program", L"C:\\Program Files"}},
    {L"C:\\Program Files (x86)\\Corvane\\",
     {L"C:\\Program Files (x86)\\Corvane\\Quarrow", L"C:\\Program Files (x86)\\Corvane\\Quarrow Link"}},
};

bool prefixIs64Bit()
{
    return brimlock_test::environmentVariable(L"BRIMLOCK_WINEARCH") == L"win64";
}

// The service control manager as StopServiceMyself sees it: the manager cannot be opened,
// so a call is counted and nothing reaches the real one.
int s_stopRequests = 0;
SC_HANDLE WINAPI refuseManager(LPCWSTR, LPCWSTR, DWORD)
{
    ++s_stopRequests;
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}
SC_HANDLE WINAPI noService(SC_HANDLE, LPCWSTR, DWORD)
{
    ADD_FAILURE() << "OpenService after a failed OpenSCManager";
    return nullptr;
}
BOOL WINAPI noControl(SC_HANDLE, DWORD, LPSERVICE_STATUS)
{
    return FALSE;
}
BOOL WINAPI noClose(SC_HANDLE)
{
    return FALSE;
}
const svc::SelfStopPorts kCountingScm = {&refuseManager, &noService, &noControl, &noClose};

// The start check's own system calls, scripted.
struct Script {
    BOOL wow64Result = TRUE;
    BOOL wow64 = FALSE;
    DWORD wow64Error = 0;
    HRESULT folderResult = S_OK;
    const wchar_t* folder = L"C:\\Program Files";
    int wow64Calls = 0;
    int folderCalls = 0;
    std::vector<void*> returned;
    std::vector<void*> freed;
} s_script;

BOOL WINAPI scriptedIsWow64(HANDLE process, PBOOL wow64)
{
    ++s_script.wow64Calls;
    EXPECT_EQ(GetCurrentProcess(), process);
    EXPECT_EQ(&svc::g_isWow64, wow64) << "the result goes straight into g_isWow64";
    if (!s_script.wow64Result) {
        SetLastError(s_script.wow64Error);
        return FALSE;
    }
    *wow64 = s_script.wow64;
    return TRUE;
}

HRESULT WINAPI scriptedKnownFolder(REFKNOWNFOLDERID folder, DWORD flags, HANDLE token, PWSTR* path)
{
    ++s_script.folderCalls;
    EXPECT_TRUE(IsEqualGUID(folder, FOLDERID_ProgramFilesX86));
    EXPECT_EQ(0u, flags);
    EXPECT_EQ(nullptr, token);
    *path = nullptr;
    if (s_script.folder) {
        const size_t bytes = (wcslen(s_script.folder) + 1) * sizeof(wchar_t);
        *path = static_cast<PWSTR>(CoTaskMemAlloc(bytes));
        memcpy(*path, s_script.folder, bytes);
        s_script.returned.push_back(*path);
    }
    return s_script.folderResult;
}

void WINAPI scriptedFree(LPVOID memory)
{
    s_script.freed.push_back(memory);
    CoTaskMemFree(memory);
}

const svc::StartCheckPorts kScripted = {&scriptedIsWow64, &scriptedKnownFolder, &scriptedFree};

using StartCheckOverride = Corvane::Orlin::Ports<svc::StartCheckPorts>::Override;

class StartCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        svc::ResetActiveCandidatesForTesting();
        s_stopRequests = 0;
        s_script = Script();
    }
    void TearDown() override { svc::ResetActiveCandidatesForTesting(); }

    DWORD initialize(DWORD& specific)
    {
        specific = 0xBAD;
        return service.Initialize(specific);
    }
    // A start let through: 0 and code 0, no stop request, a table chosen.
    void expectStarts()
    {
        DWORD specific;
        ASSERT_EQ(0u, initialize(specific));
        EXPECT_EQ(0u, specific);
        EXPECT_EQ(0, s_stopRequests);
        EXPECT_NE(nullptr, svc::g_activeCandidates.load());
    }
    // A refused start: 1066 with `code`, StopServiceMyself once, no table chosen.
    void expectRefusedWith(DWORD code)
    {
        DWORD specific;
        EXPECT_EQ(DWORD(ERROR_SERVICE_SPECIFIC_ERROR), initialize(specific));
        EXPECT_EQ(code, specific);
        EXPECT_EQ(1, s_stopRequests) << "StopServiceMyself once";
        EXPECT_EQ(nullptr, svc::g_activeCandidates.load()) << "no table after a refusal";
    }

    svc::TamselService service{L"tamselsvc"};
    Corvane::Orlin::Ports<svc::SelfStopPorts>::Override countedStops{svc::selfStopPorts, kCountingScm};
};

std::wstring knownFolderNow(HRESULT& result)
{
    PWSTR path = nullptr;
    result = SHGetKnownFolderPath(FOLDERID_ProgramFilesX86, 0, nullptr, &path);
    std::wstring copy = path ? path : L"";
    CoTaskMemFree(path);
    return copy;
}

} // namespace

TEST(CandidateTables, EachTableExactlyAsGiven)
{
    EXPECT_EQ(kNative, rowsOf(svc::nativeCandidateTable));
    EXPECT_EQ(kWow64, rowsOf(svc::wow64CandidateTable));
}

TEST_F(StartCheck, ThisPrefixChoosesItsTable)
{
    ASSERT_EQ(nullptr, svc::g_activeCandidates.load()) << "no table before the check";
    expectStarts();
    if (prefixIs64Bit()) {
        EXPECT_EQ(TRUE, svc::g_isWow64);
        EXPECT_EQ(&svc::wow64CandidateTable, svc::g_activeCandidates.load());
    } else {
        EXPECT_EQ(FALSE, svc::g_isWow64);
        EXPECT_EQ(&svc::nativeCandidateTable, svc::g_activeCandidates.load());
    }
}

TEST_F(StartCheck, ProgramFolderOnDriveDIsRefusedWithCode2)
{
    brimlock_test::ProgramFilesOverride override;
    ASSERT_TRUE(override.mapDriveD()) << "D: not mapped; GetLastError " << GetLastError();
    ASSERT_EQ(ERROR_SUCCESS, override.setProgramFilesX86(L"D:\\Program Files (x86)"));
    HRESULT hr;
    ASSERT_EQ(L"D:\\Program Files (x86)", knownFolderNow(hr)) << "hr 0x" << std::hex << hr;
    expectRefusedWith(2);
}

TEST_F(StartCheck, LowerCaseDriveCPasses)
{
    brimlock_test::ProgramFilesOverride override;
    const std::wstring lower = prefixIs64Bit() ? L"c:\\Program Files (x86)" : L"c:\\Program Files";
    ASSERT_EQ(ERROR_SUCCESS, override.setProgramFilesX86(lower));
    HRESULT hr;
    ASSERT_EQ(lower, knownFolderNow(hr)) << "hr 0x" << std::hex << hr;
    expectStarts();
}

// Wine fails the query (0x80070003) for a folder that does not exist. There is no path to
// look at, so the start is refused as for a folder off drive C.
TEST_F(StartCheck, FailedFolderQueryIsRefusedWithCode2)
{
    brimlock_test::ProgramFilesOverride override;
    ASSERT_EQ(ERROR_SUCCESS, override.setProgramFilesX86(L"C:\\brimlock-no-such-folder"));
    HRESULT hr;
    knownFolderNow(hr);
    ASSERT_TRUE(FAILED(hr)) << "Wine answered 0x" << std::hex << hr;
    expectRefusedWith(2);
}

TEST_F(StartCheck, Wow64QueryFailureIsRefusedWithCode1BeforeTheFolderIsAsked)
{
    s_script.wow64Result = FALSE;
    s_script.wow64Error = ERROR_ACCESS_DENIED;
    StartCheckOverride scripted(svc::startCheckPorts, kScripted);
    expectRefusedWith(1);
    EXPECT_EQ(1, s_script.wow64Calls);
    EXPECT_EQ(0, s_script.folderCalls);
}

TEST_F(StartCheck, TheWow64AnswerChoosesTheTable)
{
    StartCheckOverride scripted(svc::startCheckPorts, kScripted);
    s_script.wow64 = TRUE;
    expectStarts();
    EXPECT_EQ(&svc::wow64CandidateTable, svc::g_activeCandidates.load());

    svc::ResetActiveCandidatesForTesting();
    s_script.wow64 = FALSE;
    expectStarts();
    EXPECT_EQ(&svc::nativeCandidateTable, svc::g_activeCandidates.load());
}

TEST_F(StartCheck, TheReturnedPathIsFreedOnceWhateverTheOutcome)
{
    StartCheckOverride scripted(svc::startCheckPorts, kScripted);
    s_script.folder = L"C:\\Program Files";
    expectStarts();
    ASSERT_EQ(1u, s_script.returned.size());
    EXPECT_EQ(s_script.returned, s_script.freed);

    svc::ResetActiveCandidatesForTesting();
    s_script = Script();
    s_script.folder = L"E:\\Programs";
    expectRefusedWith(2);
    ASSERT_EQ(1u, s_script.returned.size());
    EXPECT_EQ(s_script.returned, s_script.freed);
}

TEST_F(StartCheck, AFailedQueryWithoutAPathFreesNothing)
{
    s_script.folderResult = E_INVALIDARG;
    s_script.folder = nullptr;
    StartCheckOverride scripted(svc::startCheckPorts, kScripted);
    expectRefusedWith(2);
    EXPECT_TRUE(s_script.freed.empty());
}
