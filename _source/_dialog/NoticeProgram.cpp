#include "_dialog/NoticeProgram.h"

#include "_dialog/DialogStringIds.h"
#include "_dialog/ResourceString.h"

namespace brimlockdlg {

int runNotice(HINSTANCE instance, const CommandLineArgs& args, IDesktopWaitApi& api)
{
    const std::wstring caption = loadResourceString(instance, IDS_CAPTION);
    const NoticeRequest request = selectNotice(args);
    if (request.exitCode != kExitShown) {
        return request.exitCode;
    }
    const std::wstring body = loadResourceString(instance, request.bodyId);
    const int checked = checkNoticeTexts(body, request.path);
    if (checked != kExitShown) {
        return checked;
    }
    showWhenDesktopReady(formatNotice(body, request.path), caption, api);
    return kExitShown;
}

} // namespace brimlockdlg
