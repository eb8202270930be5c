// Hostile names against the real check on the prefix's drive C: letters outside the ANSI
// code page, lone surrogates, "%" signs, 255-character names, paths past 260 characters,
// links and folders named like a candidate. Each offending file is handled or left with a
// record; no pass ends the process; nothing that is not an offending file is touched.
#include "CountermeasureTesting.h"
#include "HostShell.h"
#include "MessageBoxProbe.h"
#include "TestPaths.h"
#include "Wait.h"

#include "_model/_service/MessageStrings.h"
#include "_model/_service/Paths.h"
#include "_model/_service/_guard/Countermeasure.h"
#include "_process/NotificationLaunch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <exception>

using namespace brimlock_test;
using namespace tamselsvc::model::service;

namespace {

// The files of C:\ whose names start with "Program", as the listing shows them.
std::vector<std::wstring> listedProgramFiles()
{
    std::vector<std::wstring> paths;
    for (const std::wstring& name : namesMatching(L"C:\\Program*", true)) {
        paths.push_back(L"C:\\" + name);
    }
    return paths;
}

bool listed(const std::wstring& path)
{
    const std::vector<std::wstring> names = listedProgramFiles();
    return std::find(names.begin(), names.end(), path) != names.end();
}

// What became of one planted file after a pass.
struct Fate {
    bool planted = false;
    DWORD plantError = 0;
    bool stillThere = false;
    std::wstring renamedTo;  // from a "renamed" record
    bool recorded = false;   // some record names the file
};

class HostileNames : public ::testing::Test {
protected:
    void SetUp() override
    {
        loadMessageStrings(GetModuleHandleW(nullptr));
        cleanDriveC();
        _pending = readPendingOperations();
        RecordSink::install();
        tamselsvc::process::g_restartPending = false;
        g_fatalGate.release();
        g_activeCandidates = isWow64() ? &wow64CandidateTable : &nativeCandidateTable;
        _maker = isWow64() ? L"C:\\Program Files (x86)\\Corvane" : L"C:\\Program Files\\Corvane";
        _madeMaker = CreateDirectoryW(_maker.c_str(), nullptr) != FALSE;
    }

    void TearDown() override
    {
        NoticeRecorder::waitForNotices(0, std::chrono::milliseconds(200));
        RecordSink::uninstall();
        cleanDriveC();
        // Names the Windows side cannot delete (a trailing dot, "*"...), also when a test
        // stopped half-way: from the Linux side.
        const std::string c = unixPathOf(L"C:\\");
        if (!c.empty()) {
            runHostShellAndWait("cd '" + c + "' && find . -maxdepth 1 -type f -name 'Program*' -delete",
                                L"C:\\brimlock-hard.done");
        }
        restorePendingOperations(_pending);
        for (const auto& path : _cleanup) {
            DeleteFileW(path.c_str());
        }
        if (_madeMaker) {
            removeTree(_maker); // other tests of this prefix expect no maker folder
        }
    }

    // One pass; an error it raises is reported (the watcher would log it and go on), and
    // what it raised is kept for the test to judge.
    void pass()
    {
        _raised.clear();
        try {
            EXPECT_EQ(0, checkAllCandidates());
        } catch (const std::exception& e) {
            _raised = e.what();
        }
    }

    Fate plantAndCheck(const std::wstring& path)
    {
        Fate fate;
        fate.planted = createFileWithText(path, "hostile");
        fate.plantError = fate.planted ? 0 : GetLastError();
        return fate;
    }

    void judge(const std::wstring& path, Fate& fate)
    {
        fate.stillThere = exists(path);
        const std::wstring quotedOld = L"\"" + path + L"\"";
        for (const Record& r : RecordSink::peek()) {
            if (r.text.find(quotedOld) == std::wstring::npos && r.text.find(L"Error code") == std::wstring::npos) {
                continue;
            }
            fate.recorded = true;
            const std::wstring head = quotedOld + L" -> \"";
            const size_t at = r.text.find(head);
            if (r.type == EVENTLOG_WARNING_TYPE && r.text.rfind(messageString(102), 0) == 0 && at != std::wstring::npos) {
                fate.renamedTo = r.text.substr(at + head.size(), r.text.size() - at - head.size() - 1);
            }
        }
        if (!fate.renamedTo.empty()) {
            _cleanup.push_back(fate.renamedTo);
        }
        _cleanup.push_back(path);
        std::printf("  %-60.60s planted=%d(%lu) there=%d renamed=%d recorded=%d\n", toUtf8(path).c_str(),
                    fate.planted, fate.plantError, fate.stillThere, !fate.renamedTo.empty(), fate.recorded);
    }

    // Handled (gone, renamed to an existing file) or left with a record.
    void expectHandledOrRecorded(const std::wstring& path, const Fate& fate)
    {
        if (!fate.planted) {
            return; // the file system refused the name: nothing to protect against
        }
        if (!fate.stillThere) {
            ASSERT_FALSE(fate.renamedTo.empty()) << toUtf8(path) << ": gone without a renamed record";
            EXPECT_TRUE(exists(fate.renamedTo)) << toUtf8(fate.renamedTo);
            EXPECT_EQ("hostile", readFileText(fate.renamedTo));
        } else {
            EXPECT_TRUE(fate.recorded) << toUtf8(path) << ": left in place without a record";
        }
    }

    PendingOperations _pending;
    std::wstring _maker;
    bool _madeMaker = false; // made by this test, so removed by it
    std::string _raised;
    std::vector<std::wstring> _cleanup;
};

} // namespace

TEST_F(HostileNames, LettersOutsideTheCodePageSurrogatesAndPercentSignsAreRenamed)
{
    const std::vector<std::wstring> names = {
        L"C:\\Program.\x4E2D\x6587",         // CJK extension: stem "Program"
        L"C:\\PROGRAM.\x00E9%s%n%%",          // printf directives in the name
        L"C:\\Program.\xD800",                // lone high surrogate
        L"C:\\Program.a\xDC00z",              // lone low surrogate
        L"C:\\Program.%1",
        _maker + L"\\Quarrow.\x0416\x0436", // Cyrillic in the maker's folder
    };
    std::vector<Fate> fates;
    for (const auto& name : names) {
        fates.push_back(plantAndCheck(name));
    }
    pass();
    EXPECT_EQ("", _raised) << "a pass over these names ends early";
    for (size_t i = 0; i < names.size(); ++i) {
        judge(names[i], fates[i]);
        expectHandledOrRecorded(names[i], fates[i]);
    }
    EXPECT_TRUE(fates[0].planted) << "Wine refused a CJK name: " << fates[0].plantError;
    EXPECT_FALSE(fates[0].stillThere);
    // The new name keeps the stem's case and the extension, "%" signs and all.
    if (!fates[1].renamedTo.empty()) {
        EXPECT_EQ(0u, fates[1].renamedTo.rfind(L"C:\\PROGRAM", 0)) << toUtf8(fates[1].renamedTo);
        const std::wstring tail = L".\x00E9%s%n%%";
        EXPECT_EQ(fates[1].renamedTo.size() - tail.size(), fates[1].renamedTo.rfind(tail));
    }
}

TEST_F(HostileNames, LongNamesAndPathsPast260AreHandledOrRecorded)
{
    // A 255-character name: its numbered name has 256 and cannot exist.
    const std::wstring name255 = L"C:\\Program." + std::wstring(255 - 8, L'x');
    // In the maker's folder, a long name gives a path past 260 characters.
    const std::wstring past260 = _maker + L"\\Quarrow." + std::wstring(240, L'y');
    const std::wstring shortOne = L"C:\\Program.txt";
    std::vector<std::wstring> names = {name255, past260, shortOne};
    std::vector<Fate> fates;
    for (const auto& name : names) {
        fates.push_back(plantAndCheck(name));
    }
    ASSERT_GT(past260.size(), 260u);
    pass();
    EXPECT_EQ("", _raised);
    for (size_t i = 0; i < names.size(); ++i) {
        judge(names[i], fates[i]);
        expectHandledOrRecorded(names[i], fates[i]);
    }
    EXPECT_FALSE(fates[2].stillThere) << "a long neighbour stops the ordinary one";
    EXPECT_FALSE(fates[0].stillThere) << "moved at once to a name short enough";
    // A second pass finds the long ones again: never a crash, and no second record.
    RecordSink::take();
    pass();
    EXPECT_EQ("", _raised);
    EXPECT_TRUE(RecordSink::take().empty()) << "the same outcome is recorded once";
}

TEST_F(HostileNames, LinkNamedLikeACandidateIsRenamedAsTheLinkAndItsTargetIsUntouched)
{
    const std::wstring link = L"C:\\Program";
    // The target in another folder, as the service's own program would be.
    const std::wstring folderTarget = L"C:\\brimlock-hard-dir";
    const std::wstring target = folderTarget + L"\\target.txt";
    ASSERT_FALSE(unixPathOf(L"C:\\").empty()) << "not under Wine";
    CreateDirectoryW(folderTarget.c_str(), nullptr);
    ASSERT_TRUE(createFileWithText(target, "target text"));
    ASSERT_TRUE(createFileWithText(folderTarget + L"\\inside.txt", "inside"));
    const std::string c = unixPathOf(L"C:\\");
    ASSERT_TRUE(runHostShellAndWait("cd '" + c + "' && ln -s brimlock-hard-dir/target.txt Program && "
                                    "ln -s brimlock-hard-dir Program.lnkdir",
                                    L"C:\\brimlock-hard.done"));
    pass();
    EXPECT_EQ("", _raised);
    // Nothing is lost, whatever the rename did: the text is at the target or the new name.
    const bool atTarget = readFileText(target) == "target text";
    const bool atNewName = readFileText(L"C:\\Program1") == "target text";
    EXPECT_TRUE(atTarget || atNewName) << "the target's text is gone";
    // The renamed entry must still be a link on the Linux side, to the same target.
    const std::string check = "test -L '" + c + "Program1' && test \\\"$(readlink '" + c +
                              "Program1')\\\" = brimlock-hard-dir/target.txt && touch '" + c + "brimlock-hard.ok'";
    runHostShellAndWait(check, L"C:\\brimlock-hard.done");
    const bool linkRenamed = exists(L"C:\\brimlock-hard.ok");
    DeleteFileW(L"C:\\brimlock-hard.ok");
    EXPECT_TRUE(atTarget) << "the target stays where and what it was";
    if (!linkRenamed && exists(link)) {
        // Wine 8 follows a link made with ln -s even when it is opened with
        // FILE_FLAG_OPEN_REPARSE_POINT: the handle leads to the target, not to the listed
        // entry, so the entry is left alone; Windows opens and renames the link itself.
        runHostShellAndWait("rm -f '" + c + "Program' '" + c + "Program.lnkdir' && rm -rf '" + c +
                                "brimlock-hard-dir'",
                            L"C:\\brimlock-hard.done");
        GTEST_SKIP() << "Wine opened the link's target; the link was left alone";
    }
    EXPECT_TRUE(linkRenamed) << "C:\\Program1 is no longer the link";
    // A link to a folder is a folder: never touched.
    EXPECT_TRUE(isDirectory(L"C:\\Program.lnkdir"));
    EXPECT_EQ("inside", readFileText(folderTarget + L"\\inside.txt"));
    runHostShellAndWait("rm -f '" + c + "Program1' '" + c + "Program.lnkdir' '" + c + "brimlock-hard.ok' && rm -rf '" +
                            c + "brimlock-hard-dir'",
                        L"C:\\brimlock-hard.done");
}

TEST_F(HostileNames, FolderNamedLikeACandidateIsNeverTouched)
{
    ASSERT_TRUE(CreateDirectoryW(L"C:\\Program", nullptr)) << GetLastError();
    ASSERT_TRUE(createFileWithText(L"C:\\Program\\keep.txt", "keep"));
    pass();
    EXPECT_EQ("", _raised);
    EXPECT_TRUE(isDirectory(L"C:\\Program"));
    EXPECT_FALSE(exists(L"C:\\Program1"));
    EXPECT_EQ("keep", readFileText(L"C:\\Program\\keep.txt"));
    EXPECT_TRUE(RecordSink::peek().empty());
    DeleteFileW(L"C:\\Program\\keep.txt");
    RemoveDirectoryW(L"C:\\Program");
}

TEST_F(HostileNames, NamesMadeOnTheLinuxSideAreHandledOrRecorded)
{
    // Bytes that are no UTF-8, an encoded lone surrogate, and characters Windows forbids
    // (Wine shows them as private-use letters): all with the stem "Program".
    const std::string c = unixPathOf(L"C:\\");
    ASSERT_FALSE(c.empty()) << "not under Wine";
    const std::wstring script = L"C:\\brimlock-hard.sh";
    static const char kLoop[] =
        " && for n in '\\377' '\\355\\240\\200' '\\134' '\\042' '*?<>|'; do printf x > \"Program.$(printf \"$n\")\"; done";
    const bool written = createFileWithText(script, "cd '" + c + "'" + kLoop);
    ASSERT_TRUE(written);
    ASSERT_TRUE(runHostShellAndWait("sh '" + unixPathOf(script) + "'", L"C:\\brimlock-hard.done"));
    DeleteFileW(script.c_str());
    // Such names cannot be opened by path on the Windows side: what is there is what the
    // listing shows.
    const std::vector<std::wstring> planted = listedProgramFiles();
    std::printf("  %zu names planted from the Linux side seen by Wine\n", planted.size());
    EXPECT_GE(planted.size(), 5u);
    pass();
    EXPECT_EQ("", _raised);
    const std::vector<std::wstring> after = listedProgramFiles();
    for (const Record& r : RecordSink::peek()) {
        std::printf("  record %u: %s\n", r.type, toUtf8(r.text.substr(r.text.find(L'"') == std::wstring::npos ? 0 : r.text.find(L'"'))).c_str());
    }
    for (const auto& path : planted) {
        const bool stillThere = std::find(after.begin(), after.end(), path) != after.end();
        bool recorded = false;
        for (const Record& r : RecordSink::peek()) {
            recorded = recorded || r.text.find(L"\"" + path + L"\"") != std::wstring::npos;
        }
        std::printf("  %-40.40s there=%d recorded=%d\n", toUtf8(path).c_str(), stillThere, recorded);
        if (fileNameOf(path).empty()) {
            // A backslash in a Linux name: no stem "Program", no candidate, left alone.
            EXPECT_TRUE(stillThere);
            continue;
        }
        if (path.find_first_of(L"\"*?<>|") != std::wstring::npos) {
            // A name the system refuses as a path: no program can be started by it. Left
            // alone with a diagnostic line; no record, nothing scheduled.
            EXPECT_TRUE(stillThere) << toUtf8(path);
            EXPECT_FALSE(recorded) << toUtf8(path);
            continue;
        }
        EXPECT_TRUE(recorded) << toUtf8(path) << (stillThere ? ": left without a record" : ": gone without a record");
    }
    EXPECT_TRUE(addedOperations(_pending).empty()) << "nothing scheduled for the refused names";
    runHostShellAndWait("cd '" + c + "' && rm -f Program.* Program1.* Program2.* Program3.* Program4.* Program5.*",
                        L"C:\\brimlock-hard.done");
}

// "Program." and "Program.exe " (made on the Linux side) are names a plain Win32 path does
// not reach: it drops the trailing dot or space and names C:\Program, C:\Program.exe. The
// renames and the restart operation reach the entries as listed; the records show the
// plain paths.
TEST_F(HostileNames, TrailingDotsAndSpacesAreRenamedAndScheduledAsListed)
{
    const std::string c = unixPathOf(L"C:\\");
    ASSERT_FALSE(c.empty()) << "not under Wine";
    const std::wstring dotted = L"C:\\Program.";
    const std::wstring spaced = L"C:\\Program.exe ";
    ASSERT_TRUE(runHostShellAndWait("cd '" + c + "' && printf dot > 'Program.' && printf space > 'Program.exe '",
                                    L"C:\\brimlock-hard.done"));
    ASSERT_TRUE(listed(dotted) && listed(spaced)) << "the names were not made as written";
    pass();
    EXPECT_EQ("", _raised);
    EXPECT_FALSE(listed(dotted));
    EXPECT_FALSE(listed(spaced));
    // Numbers 1 and 2 in the order of the listing, the trailing dot and space kept.
    const bool dotFirst = listed(L"C:\\Program1.");
    const std::wstring dottedNew = dotFirst ? L"C:\\Program1." : L"C:\\Program2.";
    const std::wstring spacedNew = dotFirst ? L"C:\\Program2.exe " : L"C:\\Program1.exe ";
    EXPECT_TRUE(listed(dottedNew));
    EXPECT_TRUE(listed(spacedNew));
    EXPECT_FALSE(exists(L"C:\\Program1")) << "no other name was reached";
    std::vector<Record> records = RecordSink::take();
    ASSERT_EQ(2u, records.size());
    for (const Record& record : records) {
        EXPECT_TRUE(record.text == messageString(102) + L"\"" + dotted + L"\" -> \"" + dottedNew + L"\"" ||
                    record.text == messageString(102) + L"\"" + spaced + L"\" -> \"" + spacedNew + L"\"")
            << toUtf8(record.text);
    }

    // Held: the restart operation names the entry exactly (Windows keeps NT paths, which
    // are taken as written).
    ASSERT_TRUE(runHostShellAndWait("cd '" + c + "' && printf dot > 'Program.'", L"C:\\brimlock-hard.done"));
    HANDLE held = CreateFileW(L"\\\\?\\C:\\Program.", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held) << GetLastError();
    pass();
    pass();
    CloseHandle(held);
    records = RecordSink::take();
    ASSERT_EQ(2u, records.size()) << "the error and the scheduled rename, once";
    const auto added = addedOperations(_pending);
    ASSERT_EQ(1u, added.size());
    EXPECT_EQ(L"\\??\\C:\\Program.", added[0].first);
    EXPECT_EQ(L"\\??\\C:\\Program3.", added[0].second);
    EXPECT_EQ(messageString(103) + L"\"" + dotted + L"\" -> \"C:\\Program3.\"", records[1].text);
    runHostShellAndWait("cd '" + c + "' && rm -f Program*. Program*.exe' '", L"C:\\brimlock-hard.done");
}
