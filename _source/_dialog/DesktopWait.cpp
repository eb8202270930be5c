#include "_dialog/DesktopWait.h"

#include "_win32/UniqueHandle.h"

namespace brimlockdlg {

bool CDesktopWaitApi::inputDesktopName(std::wstring& name)
{
    Corvane::Orlin::UniqueDesktop desktop(OpenInputDesktop(0, FALSE, DESKTOP_ENUMERATE));
    if (!desktop) {
        return false;
    }
    wchar_t buffer[100] = {};
    DWORD needed = 0;
    if (!GetUserObjectInformationW(desktop.get(), UOI_NAME, buffer, sizeof(buffer), &needed)) {
        return false;
    }
    buffer[99] = L'\0';
    name = buffer;
    return true;
}

void CDesktopWaitApi::sleep(DWORD milliseconds)
{
    Sleep(milliseconds);
}

void CDesktopWaitApi::messageBox(const std::wstring& text, const std::wstring& caption, UINT style)
{
    MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
}

int waitForDefaultDesktop(IDesktopWaitApi& api)
{
    for (int check = 1; check <= kDesktopChecks; ++check) {
        std::wstring name;
        if (api.inputDesktopName(name) && lstrcmpW(name.c_str(), L"Default") == 0) {
            return check;
        }
        api.sleep(kDesktopCheckIntervalMs);
    }
    return kDesktopChecks;
}

void showWhenDesktopReady(const std::wstring& text, const std::wstring& caption, IDesktopWaitApi& api)
{
    waitForDefaultDesktop(api);
    api.messageBox(text, caption, kNoticeStyle);
}

void showWhenDesktopReady(const std::wstring& text, const std::wstring& caption)
{
    CDesktopWaitApi api;
    showWhenDesktopReady(text, caption, api);
}

} // namespace brimlockdlg
