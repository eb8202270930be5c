// The paths Windows tries for an unquoted command line, the real program, and the command
// that quotes a registration. Every expected value is written out by hand from the rules
// CreateProcess follows (checked against the real CreateProcessW under Wine by the
// registrations tests); the split of the quoting command uses the argv model of ArgvSplit.h.
#include "ArgvSplit.h"
#include "_model/_service/Paths.h"
#include "_model/_service/_report/Registration.h"
#include "_model/_service/_report/UnquotedCommandLine.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace tamselsvc::model::service;
using Paths = std::vector<std::wstring>;

namespace {

struct Case {
    const wchar_t* line;
    Paths triedBefore;
    const wchar_t* program;
    const wchar_t* quotedLine; // the line with its real program quoted
    Paths planted{};           // what exists besides the program ("" when none exists, nor a quoted line)
};

} // namespace

TEST(UnquotedCommandLine, TriedPathsAndTheRealProgram)
{
    const Case cases[] = {
        // The product folder on 32-bit and 64-bit Windows.
        {L"C:\\Program Files\\Corvane\\Quarrow Link\\brimlock.exe",
         {L"C:\\Program.exe", L"C:\\Program Files\\Corvane\\Quarrow.exe"},
         L"C:\\Program Files\\Corvane\\Quarrow Link\\brimlock.exe",
         L"\"C:\\Program Files\\Corvane\\Quarrow Link\\brimlock.exe\""},
        {L"C:\\Program Files (x86)\\Corvane\\Quarrow Link\\brimlock.exe -k netsvcs",
         {L"C:\\Program.exe", L"C:\\Program Files.exe", L"C:\\Program Files (x86)\\Corvane\\Quarrow.exe"},
         L"C:\\Program Files (x86)\\Corvane\\Quarrow Link\\brimlock.exe",
         L"\"C:\\Program Files (x86)\\Corvane\\Quarrow Link\\brimlock.exe\" -k netsvcs"},
        // Quoted, or no blank before the program: nothing is tried before it.
        {L"\"C:\\Program Files\\A B\\x.exe\" -k", {}, L"C:\\Program Files\\A B\\x.exe",
         L"\"C:\\Program Files\\A B\\x.exe\" -k"},
        {L"\"C:\\A B\\x.exe", {}, L"C:\\A B\\x.exe", L"\"C:\\A B\\x.exe"},
        {L"C:\\Windows\\system32\\svchost.exe -k netsvcs", {}, L"C:\\Windows\\system32\\svchost.exe",
         L"\"C:\\Windows\\system32\\svchost.exe\" -k netsvcs"},
        {L"C:\\A.exe B\\x.exe", {}, L"C:\\A.exe", L"\"C:\\A.exe\" B\\x.exe"},
        // A tab ends a prefix as a space does.
        {L"C:\\My\tTools\\x.exe", {L"C:\\My.exe"}, L"", L""},
        // Trailing blanks are not part of the program.
        {L"C:\\A B\\x.exe  \t", {L"C:\\A.exe"}, L"C:\\A B\\x.exe", L"\"C:\\A B\\x.exe\"  \t"},
        // Two blanks in a row: the prefix that ends in the first blank is tried too.
        {L"C:\\A  B\\x.exe", {L"C:\\A.exe", L"C:\\A .exe"}, L"C:\\A  B\\x.exe", L"\"C:\\A  B\\x.exe\""},
        // ".exe" only where the last component has no dot.
        {L"C:\\Apps\\v1.2 beta\\x.exe", {L"C:\\Apps\\v1.2"}, L"C:\\Apps\\v1.2 beta\\x.exe",
         L"\"C:\\Apps\\v1.2 beta\\x.exe\""},
        {L"C:\\My.Apps\\Some Tool\\x.exe /s", {L"C:\\My.Apps\\Some.exe"}, L"C:\\My.Apps\\Some Tool\\x.exe",
         L"\"C:\\My.Apps\\Some Tool\\x.exe\" /s"},
        {L"C:\\A\\ B.exe", {L"C:\\A\\.exe"}, L"C:\\A\\ B.exe", L"\"C:\\A\\ B.exe\""},
        // The program's extension in any case; .com, .bat, .cmd count as well.
        {L"C:\\A B\\X.EXE", {L"C:\\A.exe"}, L"C:\\A B\\X.EXE", L"\"C:\\A B\\X.EXE\""},
        {L"C:\\A B\\start.cmd /x y", {L"C:\\A.exe"}, L"C:\\A B\\start.cmd", L"\"C:\\A B\\start.cmd\" /x y"},
        // The longest prefix that exists is the program, whatever its extension; shorter
        // ones that exist are planted; when none exists, every tried path and no quoting.
        {L"C:\\A B\\tool -x ", {L"C:\\A.exe"}, L"C:\\A B\\tool.exe", L"\"C:\\A B\\tool\" -x "},
        {L"C:\\Scr Dir\\saver.scr /s", {L"C:\\Scr.exe"}, L"C:\\Scr Dir\\saver.scr", L"\"C:\\Scr Dir\\saver.scr\" /s"},
        {L"C:\\P F\\A B\\x.exe -k", {L"C:\\P.exe", L"C:\\P F\\A.exe"}, L"C:\\P F\\A B\\x.exe",
         L"\"C:\\P F\\A B\\x.exe\" -k", {L"C:\\P F\\A.exe"}},
        {L"C:\\Gone Dir\\x.exe -k", {L"C:\\Gone.exe", L"C:\\Gone Dir\\x.exe", L"C:\\Gone Dir\\x.exe -k"}, L"", L""},
        // Slashes, the NT form and leading blanks: the file Windows opens is looked for.
        {L"C:/Fwd Dir/f.exe", {L"C:\\Fwd.exe"}, L"C:\\Fwd Dir\\f.exe", L"\"C:/Fwd Dir/f.exe\""},
        {L"\\??\\C:\\Nt Dir\\n.exe", {L"C:\\Nt.exe"}, L"C:\\Nt Dir\\n.exe", L"\"\\??\\C:\\Nt Dir\\n.exe\""},
        {L" \t C:\\Lead Dir\\l.exe", {L"C:\\Lead.exe"}, L"C:\\Lead Dir\\l.exe", L"\"C:\\Lead Dir\\l.exe\""},
        // Quotes and "%" inside the line are ordinary characters; a prefix with a quote
        // names no file and is left out.
        {L"C:\\A B\\x.exe \"C:\\some file.txt\"", {L"C:\\A.exe"}, L"C:\\A B\\x.exe",
         L"\"C:\\A B\\x.exe\" \"C:\\some file.txt\""},
        {L"C:\\A \"B C\\x.exe", {L"C:\\A.exe"}, L"", L""},
        {L"%ProgramFiles%\\A B\\x.exe", {L"%ProgramFiles%\\A.exe"}, L"%ProgramFiles%\\A B\\x.exe",
         L"\"%ProgramFiles%\\A B\\x.exe\""},
        {L"C:\\100% sure\\x.exe", {L"C:\\100%.exe"}, L"C:\\100% sure\\x.exe", L"\"C:\\100% sure\\x.exe\""},
        // A relative program is searched for by name.
        {L"My Tool\\x.exe", {L"My.exe"}, L"My Tool\\x.exe", L"\"My Tool\\x.exe\""},
        {L" C:\\x.exe", {}, L"C:\\x.exe", L"\"C:\\x.exe\""},
        // Nothing to start.
        {L"", {}, L"", L""},
        {L" \t ", {}, L"", L""},
    };
    for (const Case& c : cases) {
        const ProgramSearch search = searchProgram(c.line, [&c](const std::wstring& path) {
            return path == c.program || std::count(c.planted.begin(), c.planted.end(), path);
        });
        EXPECT_EQ(c.triedBefore, search.triedBefore) << "line [" << c.line << "]";
        EXPECT_EQ(std::wstring(c.program), search.program) << "line [" << c.line << "]";
        EXPECT_EQ(!c.triedBefore.empty(), isUnquotedWithSpaces(search)) << "line [" << c.line << "]";
        EXPECT_EQ(c.line[0] == L'"', search.quoted) << "line [" << c.line << "]";
        EXPECT_EQ(std::wstring(c.quotedLine), withProgramQuoted(c.line, search)) << "line [" << c.line << "]";
        EXPECT_EQ(c.planted, search.planted) << "line [" << c.line << "]";
    }
}

TEST(UnquotedCommandLine, QuoteArgumentAsTheRuntimeReadsItBack)
{
    const struct {
        const wchar_t* argument;
        const wchar_t* quoted;
    } cases[] = {
        {L"abc", L"abc"},
        {L"C:\\a\\b", L"C:\\a\\b"},
        {L"", L"\"\""},
        {L"a b", L"\"a b\""},
        {L"a\tb", L"\"a\tb\""},
        {L"a\"b", L"\"a\\\"b\""},
        {L"C:\\a b\\", L"\"C:\\a b\\\\\""},
        {L"a\\\\\"b", L"\"a\\\\\\\\\\\"b\""},
        {L"\"C:\\A B\\x.exe\" -k", L"\"\\\"C:\\A B\\x.exe\\\" -k\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::wstring(c.quoted), quoteArgument(c.argument)) << "argument [" << c.argument << "]";
        const auto items = brimlock_native::splitCommandLine(L"p " + quoteArgument(c.argument));
        ASSERT_EQ(2u, items.size()) << "argument [" << c.argument << "]";
        EXPECT_EQ(std::wstring(c.argument), items[1]);
    }
}

TEST(UnquotedCommandLine, TheCommandThatQuotesARegistration)
{
    const PathExists isX = [](const std::wstring& path) { return fileNameOf(path) == L"x.exe"; };
    Registration service;
    service.kind = RegistrationKind::Service;
    service.name = L"Foo Svc";
    service.key = L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\Foo Svc";
    service.commandLine = L"C:\\Program Files\\A B\\x.exe -k";
    EXPECT_EQ(L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\Foo Svc", placeOf(service));
    const std::wstring sc = quotingCommand(service, searchProgram(service.commandLine, isX));
    EXPECT_EQ(L"sc config \"Foo Svc\" binPath= \"\\\"C:\\Program Files\\A B\\x.exe\\\" -k\"", sc);
    EXPECT_EQ((Paths{L"sc", L"config", L"Foo Svc", L"binPath=", L"\"C:\\Program Files\\A B\\x.exe\" -k"}),
              brimlock_native::splitCommandLine(sc));

    Registration run;
    run.kind = RegistrationKind::StartupValue;
    run.name = L"My App";
    run.key = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    run.view = RegistryView::Native;
    run.commandLine = L"C:\\A B\\x.exe";
    EXPECT_EQ(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", placeOf(run));
    EXPECT_EQ(L"reg add HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run /v \"My App\" /t REG_SZ "
              L"/d \"\\\"C:\\A B\\x.exe\\\"\" /f /reg:64",
              quotingCommand(run, searchProgram(run.commandLine, isX)));

    // The default value of the 32-bit view, stored as REG_EXPAND_SZ: the expanded line.
    run.name.clear();
    run.key = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    run.view = RegistryView::Redirected32;
    run.expandable = true;
    run.value = L"%ProgramFiles%\\A\\x.exe";
    run.commandLine = L"C:\\Program Files\\A\\x.exe";
    EXPECT_EQ(L"HKLM\\SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce", placeOf(run));
    EXPECT_EQ(L"reg add HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce /ve /t REG_EXPAND_SZ "
              L"/d \"\\\"C:\\Program Files\\A\\x.exe\\\"\" /f /reg:32",
              quotingCommand(run, searchProgram(run.commandLine, isX)));

    // One command line of a list (Winlogon's Userinit): the rest of the value kept around it.
    run.before = L"C:\\W\\userinit.exe,";
    run.after = L",";
    EXPECT_EQ(L"C:\\W\\userinit.exe,\"C:\\Program Files\\A\\x.exe\",", quotedValue(run, searchProgram(run.commandLine, isX)));
    run.before = run.after = L"";
    // 32-bit Windows: one view, no /reg switch.
    run.view = RegistryView::Single;
    run.expandable = false;
    EXPECT_EQ(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", placeOf(run));
    EXPECT_EQ(L"reg add HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce /ve /t REG_SZ "
              L"/d \"\\\"C:\\Program Files\\A\\x.exe\\\"\" /f",
              quotingCommand(run, searchProgram(run.commandLine, isX)));
}

// On 64-bit Windows the programs start with the native program folders, not the "(x86)" ones.
TEST(UnquotedCommandLine, TheNativeProgramFoldersOf64BitWindows)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"%ProgramFiles%\\Exp Dir\\e.exe", L"%ProgramW6432%\\Exp Dir\\e.exe"},
        {L"\"%programfiles%\\a.exe\" %COMMONPROGRAMFILES%", L"\"%ProgramW6432%\\a.exe\" %CommonProgramW6432%"},
        {L"%ProgramFiles(x86)%\\a %windir% 100% %ProgramFiles", L"%ProgramFiles(x86)%\\a %windir% 100% %ProgramFiles"},
        {L"50% b%ProgramFiles%", L"50% b%ProgramW6432%"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::wstring(c.second), withNativeFolderVariables(c.first));
    }
}

// A 32 KB line (" b" 16,000 times) costs as much as a short one: one look-up per prefix
// shorter than MAX_PATH ("C:\x.exe" to "C:\x b ... b.exe", 126), a bounded list.
TEST(UnquotedCommandLine, ALongLineIsBoundedWork)
{
    std::wstring line = L"C:\\x";
    for (int i = 0; i < 16000; ++i) {
        line += L" b";
    }
    size_t asked = 0;
    const ProgramSearch search = searchProgram(line, [&](const std::wstring&) { return ++asked, false; });
    EXPECT_EQ(126u, asked);
    EXPECT_EQ(126u, search.triedBefore.size() + search.triedNotListed);
    EXPECT_GE(64u, search.triedBefore.size());
}

// What cmd at its prompt hands on for `typed` where every variable whose name holds no
// caret is set: percent expansion, then carets and quotes ("" when & | < > ends it).
std::wstring cmdReads(const std::wstring& typed)
{
    std::wstring expanded, read;
    for (size_t i = 0, close; i < typed.size(); ++i) {
        close = typed[i] == L'%' ? typed.find(L'%', i + 1) : std::wstring::npos;
        const bool variable = close != std::wstring::npos && close > i + 1 && typed.find(L'^', i) > close;
        expanded += variable ? std::wstring(L"<set>") : std::wstring(1, typed[i]);
        i = variable ? close : i;
    }
    for (size_t i = 0, quotes = 0; i < expanded.size(); ++i) {
        quotes += expanded[i] == L'"';
        if (quotes % 2 == 0 && std::wstring(L"&|<>").find(expanded[i]) != std::wstring::npos) {
            return std::wstring();
        }
        read += expanded[i == expanded.size() - 1 || quotes % 2 || expanded[i] != L'^' ? i : ++i];
    }
    return read;
}

TEST(UnquotedCommandLine, TheCommandRunByCmdSetsExactlyTheQuotedValueOrThereIsNone)
{
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"C:\\A B\\x.exe a&calc|b<c>d^e(f)!g", true}, {L"C:\\A B\\x.exe \"&calc\" \"x", true},
        {L"C:\\A&B C\\x.exe", true},                   {L"C:\\100%PATH% d\\x.exe -k", true},
        {L"C:\\A B\\x.exe %PATH% x", false},            {L"C:\\A B\\x.exe a\r\ncalc", false},
    };
    Registration r;
    r.name = L"N&calc";
    for (const auto& c : cases) {
        r.commandLine = c.first;
        const ProgramSearch search = searchProgram(c.first, [](const std::wstring& p) { return fileNameOf(p) == L"x.exe"; });
        for (const RegistrationKind kind : {RegistrationKind::StartupValue, RegistrationKind::Service}) {
            r.kind = kind;
            const std::wstring command = quotingCommand(r, search);
            const auto items = brimlock_native::splitCommandLine(cmdReads(command));
            const bool sc = kind == RegistrationKind::Service;
            ASSERT_EQ(c.second ? (sc ? 5u : 10u) : 1u, items.size()) << c.first << " -> " << command;
            EXPECT_TRUE(!c.second || (items[sc ? 4 : 8] == quotedValue(r, search) && items[sc ? 2 : 4] == r.name))
                << command;
        }
    }
}
