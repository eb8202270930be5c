#include "_dialog/NoticeArguments.h"

#include "_dialog/DialogStringIds.h"

#include <windows.h>
#include <strsafe.h>

namespace brimlockdlg {

unsigned int noticeBodyId(const std::wstring& noticeSwitch)
{
    if (noticeSwitch == L"/normal") {
        return IDS_NOTICE_NORMAL;
    }
    if (noticeSwitch == L"/restart") {
        return IDS_NOTICE_RESTART;
    }
    if (noticeSwitch == L"/fatal") {
        return IDS_NOTICE_FATAL;
    }
    return 0;
}

NoticeRequest selectNotice(const CommandLineArgs& args)
{
    NoticeRequest request;
    // The count reported by the splitter decides; the list is only trusted when it agrees.
    if (args.count != 3 || args.items.size() != 3) {
        request.exitCode = kExitBadItemCount;
        return request;
    }
    const unsigned int bodyId = noticeBodyId(args.items[1]);
    if (bodyId == 0) {
        request.exitCode = kExitBadSwitch;
        return request;
    }
    request.exitCode = kExitShown;
    request.bodyId = bodyId;
    request.path = args.items[2];
    return request;
}

int checkNoticeTexts(const std::wstring& body, const std::wstring& path)
{
    if (body.empty()) {
        return kExitBadSwitch;
    }
    if (path.empty()) {
        return kExitEmptyPath;
    }
    return kExitShown;
}

std::wstring formatNotice(const std::wstring& body, const std::wstring& path)
{
    // (body + path) characters: the body's "%s" (two characters) gives way to the path,
    // so the text is two characters shorter than that and its terminator still fits.
    const size_t cch = body.size() + path.size();
    if (cch == 0) {
        return std::wstring();
    }
    std::wstring buffer(cch, L'\0');
    StringCchPrintfW(&buffer[0], cch, body.c_str(), path.c_str());
    buffer.resize(wcsnlen(buffer.c_str(), cch));
    return buffer;
}

} // namespace brimlockdlg
