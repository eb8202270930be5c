// quoteimagepath.exe SERVICE PROGRAM: the package's custom action that leaves the image path
// of the service entry SERVICE as PROGRAM in quotes. It runs after InstallServices at every
// install, upgrade and repair, whatever the installer engine wrote itself: an unquoted
// path with spaces is the very registration the service exists to defend against.
//
// Exit code 0 when the entry's image path is "PROGRAM" afterwards (also when it was so
// already); otherwise the Windows error of the step that failed, which makes the installer
// fail the install and roll it back. PROGRAM must be a full path without quotes.
// A GUI-subsystem program, so that no console window opens during an install.
#include "_win32/UniqueHandle.h"

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

using Corvane::Orlin::UniqueServiceHandle;

bool isFullPathWithoutQuotes(const std::wstring& path)
{
    if (path.find(L'"') != std::wstring::npos) {
        return false;
    }
    const bool drivePath = path.size() > 3 && path[1] == L':' && path[2] == L'\\';
    const bool uncPath = path.size() > 2 && path[0] == L'\\' && path[1] == L'\\';
    return drivePath || uncPath;
}

// The image path the entry holds now; false with GetLastError() when it cannot be read.
bool readImagePath(SC_HANDLE service, std::wstring& imagePath)
{
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return false;
    }
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service, config, needed, &needed)) {
        return false;
    }
    imagePath = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
    return true;
}

DWORD quoteImagePath(const std::wstring& serviceName, const std::wstring& program)
{
    if (serviceName.empty() || !isFullPathWithoutQuotes(program)) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::wstring quoted = L"\"" + program + L"\"";
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return GetLastError();
    }
    UniqueServiceHandle service(
        OpenServiceW(manager.get(), serviceName.c_str(), SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG));
    if (!service) {
        return GetLastError();
    }
    std::wstring current;
    if (!readImagePath(service.get(), current)) {
        return GetLastError();
    }
    if (current == quoted) {
        return ERROR_SUCCESS;
    }
    if (!ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, quoted.c_str(),
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
        return GetLastError();
    }
    // Read back: the install must not pass with an entry that still differs.
    if (!readImagePath(service.get(), current)) {
        return GetLastError();
    }
    return current == quoted ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) {
        return static_cast<int>(GetLastError());
    }
    const DWORD result = argc == 3 ? quoteImagePath(argv[1], argv[2]) : ERROR_INVALID_PARAMETER;
    LocalFree(argv);
    return static_cast<int>(result);
}
