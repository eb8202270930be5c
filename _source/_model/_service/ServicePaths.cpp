#include "_model/_service/ServicePaths.h"

#include "_process/NotificationLaunch.h"

#include <filesystem>

namespace tamselsvc { namespace model { namespace service {

std::wstring g_servicePath;

Corvane::Orlin::Ports<ServicePathsPorts> servicePathsPorts{ServicePathsPorts{&::GetModuleFileNameW}};

std::wstring serviceDirectoryOf(const std::wstring& programPath)
{
    return std::filesystem::path(programPath).parent_path().wstring();
}

void establishServicePaths()
{
    wchar_t buffer[512] = {};
    servicePathsPorts().getModuleFileName(nullptr, buffer, 512);
    g_servicePath = buffer; // up to the first null character
    process::g_serviceDirectory = serviceDirectoryOf(g_servicePath);
    SetCurrentDirectoryW(process::g_serviceDirectory.c_str());
}

}}} // namespace tamselsvc::model::service
