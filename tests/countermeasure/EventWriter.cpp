// cm_event_writer: writes real records under "brimlock" through the check, for
// tests/support/eventlog_channel.sh, which compares what Wine's eventlog channel shows
// (ReportEventW is a stub there that prints each record) with the lines this program
// expects. Leaves drive C and the restart list as it found them.
#include "CountermeasureTesting.h"
#include "EventlogChannel.h"
#include "SilentNotices.h"
#include "TestPaths.h"

#include "_model/_service/MessageStrings.h"
#include "_model/_service/_guard/Countermeasure.h"

using namespace brimlock_test;
using namespace tamselsvc::model::service;

namespace {

// One record under "brimlock": its source is registered for it and deregistered after it.
void expectAppEvent(WORD eventType, const std::wstring& text)
{
    expectSource(L"brimlock");
    expectReport(eventType, 0, text);
    expectDeregistered();
}

} // namespace

int wmain()
{
    loadMessageStrings(GetModuleHandleW(nullptr));
    const CountermeasurePorts silent = withSilentNotices(countermeasurePorts.real());
    Corvane::Orlin::Ports<CountermeasurePorts>::Override noNotices(countermeasurePorts, silent);
    g_activeCandidates = &nativeCandidateTable;
    const std::wstring folder = L"C:\\brimlock-evt";
    const std::wstring japanese = folder + L"\\Program.\x65E5\x672C"; // Program.日本
    removeTree(folder);
    if (!CreateDirectoryW(folder.c_str(), nullptr) || !createFileWithText(folder + L"\\Program", "p") ||
        !createFileWithText(folder + L"\\Quarrow", "q") || !CreateDirectoryW((folder + L"\\Quarrow1").c_str(), nullptr) ||
        !createFileWithText(japanese, "j")) {
        fprintf(stderr, "setup failed: %lu\n", GetLastError());
        return 2;
    }
    const PendingOperations pending = readPendingOperations();

    // Renamed at once: a warning record.
    const RenameOutcome renamed = renameOffendingFile(folder + L"\\Program");
    expectAppEvent(EVENTLOG_WARNING_TYPE, renamedText(folder + L"\\Program", folder + L"\\Program1"));
    // A folder holds the first number: the next one is used.
    const RenameOutcome pastFolder = renameOffendingFile(folder + L"\\Quarrow");
    expectAppEvent(EVENTLOG_WARNING_TYPE, renamedText(folder + L"\\Quarrow", folder + L"\\Quarrow2"));
    // Held open: the error record, names outside the code page and all, then the scheduled
    // rename (Program1 is taken by now).
    RenameOutcome scheduled{};
    {
        HeldFile held(japanese);
        scheduled = renameOffendingFile(japanese);
    }
    const std::wstring japaneseNew = folder + L"\\Program2.\x65E5\x672C";
    expectAppEvent(EVENTLOG_ERROR_TYPE, renameErrorText(ERROR_SHARING_VIOLATION, japanese, japaneseNew));
    expectAppEvent(EVENTLOG_WARNING_TYPE, scheduledText(japanese, japaneseNew));

    restorePendingOperations(pending);
    removeTree(folder);
    return (renamed.result == RenameResult::Renamed && pastFolder.result == RenameResult::Renamed &&
            scheduled.result == RenameResult::RenameScheduled)
               ? 0
               : 1;
}
