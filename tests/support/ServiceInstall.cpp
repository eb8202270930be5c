#include "ServiceInstall.h"

#include "MessageBoxProbe.h"
#include "Registry.h"
#include "TestPaths.h"
#include "TestProcess.h"
#include "Wait.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace brimlock_test {

std::wstring makerFolder()
{
    return isWow64() ? L"C:\\Program Files (x86)\\Corvane" : L"C:\\Program Files\\Corvane";
}

std::wstring productFolder()
{
    return makerFolder() + L"\\Quarrow Link";
}

BootLog::BootLog()
{
    _path = windowsPathOf(environmentVariable(L"BRIMLOCK_WINE_ROOT") + L"/" +
                          environmentVariable(L"BRIMLOCK_WINEARCH") + L".boot.log");
    mark();
}

void BootLog::mark()
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    _offset = GetFileAttributesExW(_path.c_str(), GetFileExInfoStandard, &data)
                  ? (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow
                  : 0;
}

std::string BootLog::fresh() const
{
    std::ifstream in(std::string(_path.begin(), _path.end()), std::ios::binary);
    if (!in) {
        return std::string();
    }
    in.seekg(static_cast<std::streamoff>(_offset));
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool BootLog::waitFor(const std::string& fragment, DWORD timeoutMs) const
{
    return waitUntil([&] { return fresh().find(fragment) != std::string::npos; },
                     std::chrono::milliseconds(timeoutMs), std::chrono::milliseconds(50));
}

size_t BootLog::count(const std::string& fragment) const
{
    const std::string text = fresh();
    size_t n = 0;
    for (size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1)) {
        ++n;
    }
    return n;
}

DWORD runSc(const std::wstring& arguments, std::string* output)
{
    const ProcessResult result = runProcess(L"sc.exe " + arguments, 30000, true);
    if (output) {
        *output = result.output;
    }
    return result.started && result.finished ? result.exitCode : 0xFFFFFFFF;
}

InstalledService::InstalledService(const std::wstring& dialogProgram)
{
    const std::wstring folder = productFolder();
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    if (!CopyFileW(builtProgram(L"brimlock.exe").c_str(), (folder + L"\\brimlock.exe").c_str(), FALSE) ||
        !CopyFileW(builtProgram(dialogProgram).c_str(), installedDialogPath().c_str(), FALSE)) {
        _error = "copying the programs failed with " + std::to_string(GetLastError());
        return;
    }
    runSc(L"stop tamselsvc");
    runSc(L"delete tamselsvc");
    std::string output;
    const DWORD code = runSc(L"create tamselsvc binPath= \"\\\"" + folder + L"\\brimlock.exe\\\"\" type= own start= demand",
                             &output);
    if (code != 0) {
        _error = "sc create failed with " + std::to_string(code) + ": " + output;
        return;
    }
    _service = std::make_unique<TestService>(L"tamselsvc");
    _ok = _service->created();
    if (!_ok) {
        _error = "OpenService failed with " + std::to_string(_service->createError());
    }
}

InstalledService::~InstalledService()
{
    _service.reset(); // stops the service if it still runs, and deletes the entry
    endProcesses(installedDialogPath());
    removeTree(makerFolder());
}

std::wstring installedDialogPath()
{
    return productFolder() + L"\\brimlockdlg.exe";
}

void endProcesses(const std::wstring& imagePath)
{
    for (int round = 0; round < 20; ++round) {
        const Corvane::Orlin::UniqueHandle process =
            openProcessByImagePath(imagePath, PROCESS_TERMINATE | SYNCHRONIZE);
        if (!process) {
            return;
        }
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
    }
}

bool setServiceSwitch(const wchar_t* name, bool on)
{
    constexpr wchar_t kConfigKey[] = L"SOFTWARE\\Corvane\\Tamsel";
    if (on) {
        return setMachineDword(kConfigKey, name, 1) == ERROR_SUCCESS;
    }
    const LSTATUS deleted = deleteMachineValue(kConfigKey, name);
    return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND; // absent already is as good
}

int renameInRounds(int total)
{
    int renamed = 0;
    while (renamed < total) {
        for (int i = 0; i < std::min(10, total - renamed); ++i) {
            createFile(L"C:\\Program.r" + std::to_wstring(i));
        }
        if (!waitUntil([] { return namesMatching(L"C:\\Program.r*").empty(); }, std::chrono::seconds(15))) {
            break;
        }
        for (int n = 1; n <= 10; ++n) {
            for (const std::wstring& name : namesMatching(L"C:\\Program" + std::to_wstring(n) + L".r*")) {
                renamed += DeleteFileW((L"C:\\" + name).c_str()) ? 1 : 0;
            }
        }
    }
    return renamed;
}

void waitBeforeStop(DWORD waitMs, bool plant)
{
    if (!plant) {
        Sleep(waitMs);
        return;
    }
    Sleep(waitMs / 2);
    DeleteFileW(L"C:\\Program1");
    createFile(L"C:\\Program");
    Sleep(waitMs - waitMs / 2);
}

} // namespace brimlock_test
