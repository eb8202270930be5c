// The paths Windows tries for an unquoted command line, the real program, and the command
// that quotes a registration. Every expected value is written out by hand from the rules
// CreateProcess follows (checked against the real CreateProcessW under Wine by the
// registrations tests); the split of the quoting command uses the argv model of ArgvSplit.h.
#include "ArgvSplit.h"
#include "_model/_service/_report/Registration.h"
#include "_model/_service/_report/UnquotedCommandLine.h"

#include <gtest/gtest.h>

using namespace tamselsvc::model::service;
using Paths = std::vector<std::wstring>;

namespace {

struct Case {
    const wchar_t* line;
    Paths triedBefore;
    const wchar_t* program;
    const wchar_t* quotedLine; // the line with its real program quoted
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
        {L"C:\\My\tTools\\x.exe", {L"C:\\My.exe"}, L"C:\\My\tTools\\x.exe", L"\"C:\\My\tTools\\x.exe\""},
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
        // No prefix ends in a program's extension: the whole line is the program.
        {L"C:\\A B\\tool -x ", {L"C:\\A.exe", L"C:\\A B\\tool.exe"}, L"C:\\A B\\tool -x.exe",
         L"\"C:\\A B\\tool -x\" "},
        // Quotes and "%" inside the line are ordinary characters; a prefix with a quote
        // names no file and is left out.
        {L"C:\\A B\\x.exe \"C:\\some file.txt\"", {L"C:\\A.exe"}, L"C:\\A B\\x.exe",
         L"\"C:\\A B\\x.exe\" \"C:\\some file.txt\""},
        {L"C:\\A \"B C\\x.exe", {L"C:\\A.exe"}, L"C:\\A \"B C\\x.exe", L"\"C:\\A \"B C\\x.exe\""},
        {L"%ProgramFiles%\\A B\\x.exe", {L"%ProgramFiles%\\A.exe"}, L"%ProgramFiles%\\A B\\x.exe",
         L"\"%ProgramFiles%\\A B\\x.exe\""},
        {L"C:\\100% sure\\x.exe", {L"C:\\100%.exe"}, L"C:\\100% sure\\x.exe", L"\"C:\\100% sure\\x.exe\""},
        // A relative program is searched for by name.
        {L"My Tool\\x.exe", {L"My.exe"}, L"My Tool\\x.exe", L"\"My Tool\\x.exe\""},
        // A leading blank gives an empty prefix, which is left out.
        {L" C:\\x.exe", {}, L" C:\\x.exe", L"\" C:\\x.exe\""},
        // Nothing to start.
        {L"", {}, L"", L""},
        {L" \t ", {}, L"", L" \t "},
    };
    for (const Case& c : cases) {
        const ProgramSearch search = searchProgram(c.line);
        EXPECT_EQ(c.triedBefore, search.triedBefore) << "line [" << c.line << "]";
        EXPECT_EQ(std::wstring(c.program), search.program) << "line [" << c.line << "]";
        EXPECT_EQ(!c.triedBefore.empty(), isUnquotedWithSpaces(search)) << "line [" << c.line << "]";
        EXPECT_EQ(c.line[0] == L'"', search.quoted) << "line [" << c.line << "]";
        EXPECT_EQ(std::wstring(c.quotedLine), withProgramQuoted(c.line, search)) << "line [" << c.line << "]";
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
    Registration service;
    service.kind = RegistrationKind::Service;
    service.name = L"Foo Svc";
    service.key = L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\Foo Svc";
    service.commandLine = L"C:\\Program Files\\A B\\x.exe -k";
    EXPECT_EQ(L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\Foo Svc", placeOf(service));
    const std::wstring sc = quotingCommand(service, searchProgram(service.commandLine));
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
              quotingCommand(run, searchProgram(run.commandLine)));

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
              quotingCommand(run, searchProgram(run.commandLine)));

    // 32-bit Windows: one view, no /reg switch.
    run.view = RegistryView::Single;
    run.expandable = false;
    EXPECT_EQ(L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", placeOf(run));
    EXPECT_EQ(L"reg add HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce /ve /t REG_SZ "
              L"/d \"\\\"C:\\Program Files\\A\\x.exe\\\"\" /f",
              quotingCommand(run, searchProgram(run.commandLine)));
}
