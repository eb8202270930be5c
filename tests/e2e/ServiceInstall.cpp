#include "ServiceInstall.h"

#include "MessageBoxProbe.h"
#include "TestPaths.h"
#include "TestProcess.h"
#include "Wait.h"

#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace brimlock_test {

namespace {
constexpr wchar_t kSessionManager[] = L"System\\CurrentControlSet\\Control\\Session Manager";
} // namespace

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
    // BRIMLOCK_WINE_ROOT and BRIMLOCK_WINEARCH are Unix-side names; Z: is the Unix root.
    std::wstring root = environmentVariable(L"BRIMLOCK_WINE_ROOT");
    for (auto& c : root) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    _path = L"Z:" + root + L"\\" + environmentVariable(L"BRIMLOCK_WINEARCH") + L".boot.log";
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

std::string wineDebugString(const std::wstring& text)
{
    std::string out = "L\"";
    for (wchar_t c : text) {
        switch (c) {
        case L'\n': out += "\\n"; break;
        case L'\r': out += "\\r"; break;
        case L'\t': out += "\\t"; break;
        case L'"': out += "\\\""; break;
        case L'\\': out += "\\\\"; break;
        default:
            if (c >= L' ' && c < 127) {
                out += static_cast<char>(c);
            } else {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\%04x", static_cast<unsigned>(c));
                out += hex;
            }
        }
    }
    return out + "\"";
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
        !CopyFileW(builtProgram(dialogProgram).c_str(), (folder + L"\\brimlockdlg.exe").c_str(), FALSE)) {
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
    endProcesses(L"brimlockdlg.exe");
    removeTree(makerFolder());
}

void endProcesses(const std::wstring& imageName)
{
    for (int round = 0; round < 20; ++round) {
        const DWORD pid = findProcessByImageName(imageName);
        if (!pid) {
            return;
        }
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
}

std::vector<std::wstring> pendingFileRenames()
{
    std::vector<std::wstring> entries;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return entries;
    }
    DWORD size = 0;
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS &&
        size) {
        std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(&data[0]),
                         &size);
        for (size_t at = 0; at < data.size();) {
            const size_t end = data.find(L'\0', at);
            if (end == std::wstring::npos) {
                break;
            }
            entries.push_back(data.substr(at, end - at));
            at = end + 1;
        }
        while (!entries.empty() && entries.back().empty()) {
            entries.pop_back();
        }
    }
    RegCloseKey(key);
    return entries;
}

void clearPendingFileRenames()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, L"PendingFileRenameOperations");
        RegCloseKey(key);
    }
}

bool fileExists(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool createFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written;
    WriteFile(file, "x", 1, &written, nullptr);
    CloseHandle(file);
    return true;
}

bool setServiceSwitch(const wchar_t* name, bool on)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvane\\Tamsel", 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    bool ok = true;
    if (on) {
        const DWORD one = 1;
        ok = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4) == ERROR_SUCCESS;
    } else {
        RegDeleteValueW(key, name); // absent already is as good
    }
    RegCloseKey(key);
    return ok;
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
