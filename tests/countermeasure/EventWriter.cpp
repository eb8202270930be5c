// cm_event_writer: writes real records under "brimlock" through the check, for a script
// that reads Wine's eventlog debug channel (ReportEventW is a stub there that prints each
// record's text on one line, as a debug string). Prints each expected channel line as
// "EXPECT <type> L"<text>"", escaped as Wine's debug strings are. Leaves drive C and the
// restart list as it found them.
#include "CountermeasureTesting.h"
#include "SilentNotices.h"
#include "TestPaths.h"

#include "_model/_service/Countermeasure.h"
#include "_model/_service/MessageStrings.h"

#include <cstdio>

using namespace brimlock_test;
using namespace tamselsvc::model::service;

namespace {

// One record's text as the channel shows it.
void expect(const char* type, const std::wstring& text)
{
    std::string line;
    for (const wchar_t c : text) {
        if (c == L'\\') line += "\\\\";
        else if (c == L'"') line += "\\\"";
        else if (c == L'\r') line += "\\r";
        else if (c == L'\n') line += "\\n";
        else if (c == L'\t') line += "\\t";
        else if (c < 32 || c > 126) {
            char hex[8];
            snprintf(hex, sizeof(hex), "\\%04x", static_cast<unsigned>(c)); // Wine writes no "x"
            line += hex;
        } else line += static_cast<char>(c);
    }
    printf("EXPECT %s L\"%s\"\n", type, line.c_str());
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
    expect("warn", messageString(102) + L"\"" + folder + L"\\Program\" -> \"" + folder + L"\\Program1\"");
    // A folder holds the first number: the next one is used.
    const RenameOutcome pastFolder = renameOffendingFile(folder + L"\\Quarrow");
    expect("warn", messageString(102) + L"\"" + folder + L"\\Quarrow\" -> \"" + folder + L"\\Quarrow2\"");
    // Held open: the error record, names outside the code page and all, then the scheduled
    // rename (Program1 is taken by now).
    RenameOutcome scheduled{};
    {
        HeldFile held(japanese);
        scheduled = renameOffendingFile(japanese);
    }
    const std::wstring japaneseNew = folder + L"\\Program2.\x65E5\x672C";
    expect("err", L"rename: " + systemMessageW(ERROR_SHARING_VIOLATION) + L": \"" + japanese + L"\", \"" + japaneseNew +
                      L"\"");
    expect("warn", messageString(103) + L"\"" + japanese + L"\" -> \"" + japaneseNew + L"\"");
    fflush(stdout);

    restorePendingOperations(pending);
    removeTree(folder);
    return (renamed.result == RenameResult::Renamed && pastFolder.result == RenameResult::Renamed &&
            scheduled.result == RenameResult::RenameScheduled)
               ? 0
               : 1;
}
