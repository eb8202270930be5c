// brimlockscan under Wine, against registrations made in this prefix's registry: what its
// three listings say (the JSON read by a JSON parser, the CSV by an RFC 4180 reader), what
// /fix changes and /undo puts back, byte for byte, and the bad inputs: each changes no value
// the tool did not mean to change and ends with its exit code.
#include "DriveC.h"
#include "Registry.h"
#include "RegistrationsTesting.h"
#include "TestPaths.h"
#include "TestProcess.h"

#include "_model/_service/MessageStrings.h"
#include "_model/_service/_report/RegistrationScan.h"
#include "_model/_service/_report/ReportScan.h"
#include "_scan/ScanTool.h"
#include "_scan/Sha256.h"
#include "_scan/StoredValue.h"
#include "_scan/Utf8.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sddl.h>

#include <fstream>
#include <functional>
#include <map>
#include <memory>

namespace svc = tamselsvc::model::service;
using brimlock_test::RegistryValue;
using brimlock_test::RunValue;
using nlohmann::json;

namespace {

const std::wstring kRoot = brimlock_test::kRegistrationsRoot;
const std::wstring kProgram = kRoot + L"\\Quarrow Link\\tool.exe";
const std::wstring kPlanted = kRoot + L"\\Quarrow.exe";
const std::wstring kUndo = kRoot + L"\\undo.json";
const std::wstring kServiceKey = L"SYSTEM\\CurrentControlSet\\Services\\brimlockscan-test";
// A service whose key nobody may read (only delete and change its access list).
const std::wstring kDeniedKey = L"SYSTEM\\CurrentControlSet\\Services\\brimlockscan-denied";
const std::wstring kLoneSurrogate(1, wchar_t(0xD800));

std::wstring longArguments()
{
    std::wstring text;
    while (text.size() < 32000) {
        text += L" a";
    }
    return text;
}

// ToolRun values by name, with the arguments after the program; and a service.
const std::map<std::wstring, std::wstring> kRunValues = {{L"brimlockscan-args", L" -k \"x y\""},
                                                         {L"=brimlockscan-formula", L""},
                                                         {L"brimlockscan-long", longArguments()}};
// Listed, but left alone by /fix: no UTF-8 undo file can name it.
const std::wstring kLoneName = L"brimlockscan-lone" + kLoneSurrogate;

// The registrations of one case, removed again when it ends.
struct Machine {
    brimlock_test::TestFolder folder;
    std::vector<std::unique_ptr<RunValue>> values;
    RunValue dword{L"brimlockscan-dword"};
    RunValue lone{kLoneName};

    explicit Machine(bool withLoneSurrogate = false)
    {
        if (withLoneSurrogate) {
            lone.set(kProgram);
        }
        CreateDirectoryW((kRoot + L"\\Quarrow Link").c_str(), nullptr);
        brimlock_test::createFile(kProgram);
        brimlock_test::createFile(kPlanted);
        for (const auto& value : kRunValues) {
            values.push_back(std::make_unique<RunValue>(value.first));
            values.back()->set(kProgram + value.second);
        }
        const DWORD one = 1;
        brimlock_test::setMachineValue(brimlock_test::kRunKey, L"brimlockscan-dword", REG_DWORD, &one, sizeof one);
        brimlock_test::setMachineDword(kServiceKey, L"Type", SERVICE_WIN32_OWN_PROCESS);
        const std::wstring image = kProgram + L" /service";
        brimlock_test::setMachineValue(kServiceKey, L"ImagePath", REG_EXPAND_SZ, image.c_str(),
                                       DWORD((image.size() + 1) * sizeof(wchar_t)));
        brimlock_test::setMachineDword(kDeniedKey, L"Type", SERVICE_WIN32_OWN_PROCESS);
        Corvane::Orlin::UniqueRegKey denied;
        Corvane::Orlin::UniqueLocalMem descriptor;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDeniedKey.c_str(), 0, WRITE_DAC | KEY_WOW64_64KEY, denied.put()) == 0 &&
            ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;SDWD;;;WD)", SDDL_REVISION_1,
                                                                 reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()),
                                                                 nullptr)) {
            RegSetKeySecurity(denied.get(), DACL_SECURITY_INFORMATION, descriptor.get());
        }
    }
    ~Machine()
    {
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kServiceKey.c_str(), KEY_WOW64_64KEY, 0);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kDeniedKey.c_str(), KEY_WOW64_64KEY, 0);
    }

    // Every value made here, type and bytes as stored.
    std::vector<std::pair<DWORD, std::vector<BYTE>>> snapshot() const
    {
        std::vector<std::pair<DWORD, std::vector<BYTE>>> all;
        for (const auto& value : kRunValues) {
            const RegistryValue read = brimlock_test::readMachineValue(brimlock_test::kRunKey, value.first);
            all.emplace_back(read.type, read.raw);
        }
        const RegistryValue image = brimlock_test::readMachineValue(kServiceKey, L"ImagePath");
        all.emplace_back(image.type, image.raw);
        return all;
    }
};

struct ToolRun {
    DWORD exitCode = 0;
    std::string output; // standard output and error
};

ToolRun runTool(const std::wstring& arguments)
{
    const auto result = brimlock_test::runProcess(
        brimlock_test::quoteArgument(brimlock_test::builtProgram(L"brimlockscan.exe")) + L" " + arguments, 120000, true);
    EXPECT_TRUE(result.finished);
    return {result.exitCode, result.output};
}

// runScanTool in this process (its ports set by the caller); output to files.
ToolRun runHere(const std::vector<std::wstring>& arguments)
{
    const std::wstring outPath = kRoot + L"\\out.txt";
    Corvane::Orlin::UniqueFile out(CreateFileW(outPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    brimlockscan::ToolOutput output(out.get());
    const int exitCode = brimlockscan::runScanTool(arguments, output, output);
    out.reset();
    return {DWORD(exitCode), brimlock_test::readFileText(outPath)};
}

// The standard output closed by its reader before the program writes.
ToolRun runToClosedPipe(const std::wstring& arguments)
{
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    Corvane::Orlin::UniqueHandle readEnd, writeEnd;
    EXPECT_TRUE(CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0));
    readEnd.reset();
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    std::wstring line =
        brimlock_test::quoteArgument(brimlock_test::builtProgram(L"brimlockscan.exe")) + L" " + arguments;
    PROCESS_INFORMATION info{};
    EXPECT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info));
    Corvane::Orlin::UniqueHandle process(info.hProcess), thread(info.hThread);
    writeEnd.reset();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.get(), 120000));
    DWORD exitCode = 0;
    GetExitCodeProcess(process.get(), &exitCode);
    return {exitCode, std::string()};
}

json findingNamed(const json& document, const std::wstring& name)
{
    for (const json& finding : document.at("findings")) {
        if (finding.at("name") == brimlockscan::toUtf8(name)) {
            return finding;
        }
    }
    return json();
}

// RFC 4180 fields of each row.
std::vector<std::vector<std::string>> csvRows(const std::string& text)
{
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool inQuotes = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inQuotes && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            rows.back().back() += '"';
            ++i;
        } else if (c == '"') {
            inQuotes = !inQuotes;
        } else if (!inQuotes && c == ',') {
            rows.back().emplace_back();
        } else if (!inQuotes && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows.emplace_back(1);
            ++i;
        } else {
            rows.back().back() += c;
        }
    }
    rows.pop_back(); // after the last line break
    return rows;
}

std::wstring quotedProgramWith(const std::wstring& arguments)
{
    return L"\"" + kProgram + L"\"" + arguments;
}

} // namespace

// The JSON is read against what this test made; the text and the CSV against the JSON.
TEST(ScanTool, TextJsonAndCsvListTheSameFindings)
{
    const Machine machine(true);
    const ToolRun jsonRun = runTool(L"/json");
    ASSERT_EQ(1u, jsonRun.exitCode) << jsonRun.output;
    const json document = json::parse(jsonRun.output);
    EXPECT_EQ(1, document.at("version"));
    std::map<std::wstring, std::wstring> expected = kRunValues;
    expected[L"brimlockscan-test"] = L" /service";
    expected[kLoneName] = L"";
    const ToolRun text = runTool(L"");
    const ToolRun csv = runTool(L"/csv");
    EXPECT_EQ(1u, text.exitCode);
    EXPECT_EQ(1u, csv.exitCode);
    const auto rows = csvRows(csv.output);
    ASSERT_FALSE(rows.empty());
    for (const auto& registration : expected) {
        SCOPED_TRACE(brimlockscan::toUtf8(registration.first));
        // A lone surrogate is U+FFFD in the UTF-8 output.
        std::wstring name = registration.first;
        std::replace(name.begin(), name.end(), wchar_t(0xD800), wchar_t(0xFFFD));
        const json finding = findingNamed(document, name);
        ASSERT_TRUE(finding.is_object());
        EXPECT_EQ(brimlockscan::toUtf8(kProgram), finding.at("program"));
        EXPECT_EQ(brimlockscan::toUtf8(kProgram + registration.second), finding.at("value"));
        EXPECT_EQ(brimlockscan::toUtf8(quotedProgramWith(registration.second)), finding.at("quotedValue"));
        ASSERT_EQ(1u, finding.at("planted").size());
        EXPECT_EQ(brimlockscan::toUtf8(kPlanted), finding.at("planted")[0].at("path"));
        EXPECT_EQ(name == L"brimlockscan-test" ? "REG_EXPAND_SZ" : "REG_SZ", finding.at("type"));
        // CSV: one row per tried path, the name made text when a spreadsheet would run it.
        const std::string csvName = (name[0] == L'=' ? "'" : "") + brimlockscan::toUtf8(name);
        size_t csvCount = 0;
        for (const auto& row : rows) {
            csvCount += row.size() == rows[0].size() && row[0] == csvName;
        }
        EXPECT_EQ(finding.at("tried").size(), csvCount);
        if (name.find(wchar_t(0xFFFD)) == std::wstring::npos) {
            EXPECT_NE(std::string::npos, text.output.find("\"" + brimlockscan::toUtf8(name) + "\""));
        }
    }
    EXPECT_NE(std::string::npos, text.output.find(brimlockscan::toUtf8(kPlanted)));
    // The value of another type is said, with ERROR_INVALID_DATATYPE; the unreadable
    // service key, with ERROR_ACCESS_DENIED.
    std::map<std::string, unsigned> passedOver;
    for (const json& passed : document.at("passedOver")) {
        passedOver[passed.at("name").get<std::string>()] = passed.at("error").get<unsigned>();
    }
    EXPECT_EQ(1804u, passedOver["brimlockscan-dword"]);
    EXPECT_EQ(5u, passedOver["brimlockscan-denied"]);
    EXPECT_NE(std::string::npos, text.output.find("brimlockscan-denied"));
    EXPECT_NE(std::string::npos, text.output.find("brimlockscan-dword"));
}

TEST(ScanTool, FixQuotesEveryProgramAndUndoBringsBackTheExactValues)
{
    const Machine machine;
    const auto before = machine.snapshot();
    EXPECT_EQ(1u, runTool(L"/whatif").exitCode);
    EXPECT_EQ(before, machine.snapshot()) << "/whatif changes nothing";

    const ToolRun fix = runTool(L"/fix /undofile " + brimlock_test::quoteArgument(kUndo));
    ASSERT_EQ(0u, fix.exitCode) << fix.output;
    for (const auto& value : kRunValues) {
        EXPECT_EQ(quotedProgramWith(value.second), brimlock_test::readMachineValue(brimlock_test::kRunKey, value.first).text);
    }
    const RegistryValue image = brimlock_test::readMachineValue(kServiceKey, L"ImagePath");
    EXPECT_EQ(DWORD(REG_EXPAND_SZ), image.type);
    EXPECT_EQ(quotedProgramWith(L" /service"), image.text);
    const ToolRun again = runTool(L"/json");
    EXPECT_EQ(0u, again.exitCode) << again.output;
    EXPECT_TRUE(json::parse(again.output).at("findings").empty());

    const ToolRun undo = runTool(L"/undo " + brimlock_test::quoteArgument(kUndo));
    EXPECT_EQ(0u, undo.exitCode) << undo.output;
    EXPECT_EQ(before, machine.snapshot());
}

namespace {

const std::wstring kChanged = L"C:\\changed by someone else.exe";

// The listing, then a value changed by someone else before /fix reads it again.
DWORD listThenChange(svc::RegistrationVisitor& visitor)
{
    const DWORD error = svc::enumerateRegistrations(visitor);
    brimlock_test::setMachineString(brimlock_test::kRunKey, L"brimlockscan-args", kChanged);
    return error;
}
// One scheduled task's action in front of the program: listed, and left by /fix (its text is
// set through Task Scheduler).
DWORD oneTask(svc::RegistrationVisitor& visitor)
{
    svc::Registration task;
    task.kind = svc::RegistrationKind::ScheduledTask;
    task.name = L"\\brimlockscan-task";
    task.key = L"Task Scheduler Library\\brimlockscan-task, action 1";
    task.value = task.commandLine = kProgram + L" /task";
    visitor.visit(task);
    return ERROR_SUCCESS;
}
DWORD listingDenied(svc::RegistrationVisitor&)
{
    return ERROR_ACCESS_DENIED;
}
LSTATUS WINAPI writeDenied(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD)
{
    return ERROR_ACCESS_DENIED;
}
BOOL WINAPI moveFails(LPCWSTR, LPCWSTR, DWORD)
{
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// The undo file of a /fix with `change` made to its JSON, sealed again when `reseal`.
void editUndoFile(const std::function<void(json&)>& change, bool reseal)
{
    std::ifstream file(brimlockscan::toUtf8(kUndo), std::ios::binary);
    json document = json::parse(file);
    file.close();
    change(document);
    if (reseal) {
        document.erase("checksum");
        document["checksum"] = brimlockscan::sha256(document.dump());
    }
    std::ofstream(brimlockscan::toUtf8(kUndo), std::ios::binary | std::ios::trunc) << document.dump();
}

struct BadInput {
    const char* what;
    std::function<ToolRun()> act;     // on a machine as Machine makes it, after `fixFirst`
    bool fixFirst;                // a /fix with its undo file before `act`
    DWORD exitCode;
    const wchar_t* argsValue;     // the value brimlockscan-args holds at the end
};

} // namespace

// Each bad input: its exit code, and the values as the tool meant them, no other change.
TEST(ScanTool, BadInputsEndWithTheirExitCodeAndChangeNoValueTheToolDidNotMean)
{
    svc::loadMessageStrings(GetModuleHandleW(nullptr));
    const std::wstring fixedArgs = quotedProgramWith(kRunValues.at(L"brimlockscan-args"));
    const std::wstring scannedArgs = kProgram + kRunValues.at(L"brimlockscan-args");
    const std::wstring undoArgument = L"/undo " + brimlock_test::quoteArgument(kUndo);
    const BadInput cases[] = {
        {"an edited undo file", [&] {
             editUndoFile([](json& d) { d["changes"][0]["old"] = "C:\\elsewhere.exe"; }, false);
             return runTool(undoArgument);
         }, true, 2, fixedArgs.c_str()},
        {"an undo file of another machine", [&] {
             editUndoFile([](json& d) { d["machine"] = "ELSEWHERE"; }, true);
             return runTool(undoArgument);
         }, true, 2, fixedArgs.c_str()},
        {"an undo file that is no JSON", [&] {
             editUndoFile([](json& d) { d = "not an undo file"; }, false);
             return runTool(undoArgument);
         }, true, 2, fixedArgs.c_str()},
        {"a missing undo file", [&] { return runTool(L"/undo C:\\brimlock-reg\\none.json"); }, false, 2,
         scannedArgs.c_str()},
        {"a value changed after the fix", [&] {
             brimlock_test::setMachineString(brimlock_test::kRunKey, L"brimlockscan-args", kChanged);
             return runTool(undoArgument);
         }, true, 1, kChanged.c_str()},
        {"a value changed between the scan and the fix", [&] {
             svc::ReportScanPorts ports = svc::reportScanPorts.real();
             ports.enumerateRegistrations = &listThenChange;
             Corvane::Orlin::Ports<svc::ReportScanPorts>::Override scope(svc::reportScanPorts, ports);
             return runHere({L"/fix", L"/undofile", kUndo});
         }, false, 1, kChanged.c_str()},
        {"a registry that refuses the write", [&] {
             brimlockscan::ScanFixPorts ports = brimlockscan::scanFixPorts.real();
             ports.regSetValueEx = &writeDenied;
             Corvane::Orlin::Ports<brimlockscan::ScanFixPorts>::Override scope(brimlockscan::scanFixPorts, ports);
             return runHere({L"/fix", L"/undofile", kUndo});
         }, false, 1, scannedArgs.c_str()},
        {"an undo file that cannot be put in place", [&] {
             brimlockscan::ScanFixPorts ports = brimlockscan::scanFixPorts.real();
             ports.moveFileEx = &moveFails;
             Corvane::Orlin::Ports<brimlockscan::ScanFixPorts>::Override scope(brimlockscan::scanFixPorts, ports);
             ToolRun run = runHere({L"/fix", L"/undofile", kUndo});
             EXPECT_FALSE(brimlock_test::exists(kUndo)) << "no undo file, not even a half-written one";
             return run;
         }, false, 2, scannedArgs.c_str()},
        {"a listing that fails", [&] {
             svc::ReportScanPorts ports = svc::reportScanPorts.real();
             ports.enumerateRegistrations = &listingDenied;
             Corvane::Orlin::Ports<svc::ReportScanPorts>::Override scope(svc::reportScanPorts, ports);
             ToolRun run = runHere({L"/fix", L"/undofile", kUndo});
             EXPECT_NE(std::string::npos, run.output.find(" 5")) << "the reason, with its code: " << run.output;
             return run;
         }, false, 2, scannedArgs.c_str()},
        {"a scheduled task's action", [&] {
             svc::ReportScanPorts ports = svc::reportScanPorts.real();
             ports.enumerateScheduledTasks = &oneTask;
             Corvane::Orlin::Ports<svc::ReportScanPorts>::Override scope(svc::reportScanPorts, ports);
             ToolRun run = runHere({L"/whatif"});
             EXPECT_NE(std::string::npos,
                       run.output.find(brimlockscan::toUtf8(svc::messageString(IDS_FIX_LEFT_TASK) + L"\"\\brimlockscan-task")));
             return run;
         }, false, 1, scannedArgs.c_str()},
        {"/fix writing to a closed pipe", [&] { return runToClosedPipe(L"/fix /undofile " + kUndo); }, false, 2,
         scannedArgs.c_str()},
        {"/json writing to a closed pipe", [&] { return runToClosedPipe(L"/json"); }, false, 2, scannedArgs.c_str()},
        {"an unknown switch", [&] { return runTool(L"/fix /quiet"); }, false, 2, scannedArgs.c_str()},
    };
    for (const BadInput& input : cases) {
        SCOPED_TRACE(input.what);
        const Machine machine;
        if (input.fixFirst) {
            ASSERT_EQ(0u, runTool(L"/fix /undofile " + brimlock_test::quoteArgument(kUndo)).exitCode);
        }
        const auto before = machine.snapshot();
        const ToolRun run = input.act();
        EXPECT_EQ(input.exitCode, run.exitCode) << run.output;
        EXPECT_EQ(input.argsValue, brimlock_test::readMachineValue(brimlock_test::kRunKey, L"brimlockscan-args").text);
        if (std::wstring(input.argsValue) != kChanged) {
            EXPECT_EQ(before, machine.snapshot()) << "no other value changed";
        }
    }
}
