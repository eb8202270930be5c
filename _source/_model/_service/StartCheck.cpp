#include "_model/_service/StartCheck.h"

#include "_model/_service/CandidateTable.h"
#include "_win32/LogDebug.h"

#include <objbase.h>

namespace tamselsvc { namespace model { namespace service {

namespace {

// FOLDERID_ProgramFilesX86, written out so that no GUID library has to be linked.
const KNOWNFOLDERID kProgramFilesX86 = {
    0x7c5a40ef, 0xa0fb, 0x4bfc, {0x87, 0x4a, 0xc0, 0xf2, 0xe0, 0xb9, 0xfa, 0x8e}};

bool isDriveC(wchar_t letter)
{
    return letter == L'C' || letter == L'c';
}

} // namespace

Corvane::Orlin::Ports<StartCheckPorts> startCheckPorts{
    StartCheckPorts{&::IsWow64Process, &::SHGetKnownFolderPath, &::CoTaskMemFree}};

void ResetActiveCandidatesForTesting()
{
    g_activeCandidates.store(nullptr);
}

DWORD checkStartConditions(DWORD& serviceSpecificExitCode, const std::function<void()>& stopServiceMyself)
{
    serviceSpecificExitCode = 0;
    const StartCheckPorts& calls = startCheckPorts();

    if (!calls.isWow64Process(GetCurrentProcess(), &g_isWow64)) {
        stopServiceMyself();
        serviceSpecificExitCode = kStartCheckWow64Failed;
        return ERROR_SERVICE_SPECIFIC_ERROR;
    }

    PWSTR path = nullptr;
    const HRESULT found = calls.getKnownFolderPath(kProgramFilesX86, 0, nullptr, &path);
    // Without a path there is no drive to compare: a folder that cannot be found is
    // treated like one that is not on drive C.
    const bool onDriveC = SUCCEEDED(found) && path != nullptr && isDriveC(path[0]);
    if (FAILED(found)) {
        Corvane::Orlin::LogDebugA("SHGetKnownFolderPath failed (0x%08lx)\n", static_cast<unsigned long>(found));
    }
    if (path != nullptr) {
        calls.freeTaskMemory(path);
    }
    if (!onDriveC) {
        stopServiceMyself();
        serviceSpecificExitCode = kStartCheckNotOnDriveC;
        return ERROR_SERVICE_SPECIFIC_ERROR;
    }

    g_activeCandidates.store(g_isWow64 == TRUE ? &wow64CandidateTable : &nativeCandidateTable);
    return 0;
}

}}} // namespace tamselsvc::model::service
