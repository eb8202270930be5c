#include "_model/_service/NoticeLauncher.h"

#include "_process/NotificationLaunch.h"

#include <atomic>

namespace tamselsvc { namespace model { namespace service {

namespace {

class ProcessNoticeLauncher : public INoticeLauncher {
public:
    void notifyActiveUser(const std::wstring& filePath, const std::wstring& noticeSwitch) override
    {
        process::notifyActiveUser(filePath, noticeSwitch);
    }
    void launchDialog(const std::wstring& noticeSwitch, const std::wstring& filePath) override
    {
        process::launchDialog(noticeSwitch, filePath);
    }
};

ProcessNoticeLauncher s_processLauncher;
std::atomic<INoticeLauncher*> s_launcher{&s_processLauncher};

} // namespace

INoticeLauncher& processNoticeLauncher()
{
    return s_processLauncher;
}

void setNoticeLauncherForTesting(INoticeLauncher* launcher)
{
    s_launcher.store(launcher ? launcher : &s_processLauncher);
}

INoticeLauncher& currentNoticeLauncher()
{
    return *s_launcher.load();
}

}}} // namespace tamselsvc::model::service
