#include "_model/_service/ServicePaths.h"

#include "_process/NotificationLaunch.h"

#include <windows.h>

#include <filesystem>

namespace tamselsvc { namespace model { namespace service {

std::wstring g_servicePath;

namespace {
const std::wstring* s_modulePathForTesting = nullptr;
} // namespace

void setModulePathForTesting(const std::wstring* path)
{
    s_modulePathForTesting = path;
}

std::wstring serviceDirectoryOf(const std::wstring& programPath)
{
    return std::filesystem::path(programPath).parent_path().wstring();
}

void establishServicePaths()
{
    if (s_modulePathForTesting) {
        g_servicePath = *s_modulePathForTesting;
    } else {
        wchar_t buffer[512] = {};
        GetModuleFileNameW(nullptr, buffer, 512);
        g_servicePath = buffer; // up to the first null character
    }
    process::g_serviceDirectory = serviceDirectoryOf(g_servicePath);
    SetCurrentDirectoryW(process::g_serviceDirectory.c_str());
}

}}} // namespace tamselsvc::model::service
