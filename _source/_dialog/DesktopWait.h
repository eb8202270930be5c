#pragma once
// Showing the notice once the user's normal desktop is the input desktop, so that it is
// not lost behind the logon, lock or elevation screen or the screen saver.

#include <windows.h>

#include <string>

namespace brimlockdlg {

// The operating-system calls of the desktop wait: a seam for tests.
class IDesktopWaitApi {
public:
    // Name of the current input desktop. False when the desktop cannot be opened or its
    // name cannot be read; `name` is then left as it was.
    virtual bool inputDesktopName(std::wstring& name) = 0;
    virtual void sleep(DWORD milliseconds) = 0;
    // Shows the message box and returns when it is closed.
    virtual void messageBox(const std::wstring& text, const std::wstring& caption, UINT style) = 0;

protected:
    ~IDesktopWaitApi() = default;
};

// The real calls: OpenInputDesktop / GetUserObjectInformationW(UOI_NAME) / CloseDesktop,
// Sleep and MessageBoxW with no owner.
class CDesktopWaitApi : public IDesktopWaitApi {
public:
    bool inputDesktopName(std::wstring& name) override;
    void sleep(DWORD milliseconds) override;
    void messageBox(const std::wstring& text, const std::wstring& caption, UINT style) override;
};

constexpr int kDesktopChecks = 30;
constexpr DWORD kDesktopCheckIntervalMs = 1000;
constexpr UINT kNoticeStyle = MB_OK | MB_SYSTEMMODAL;

// Checks the input desktop until it is "Default", at most kDesktopChecks times, sleeping
// kDesktopCheckIntervalMs after each unsuccessful check (the 30th included). Returns the
// number of checks made; the wait never fails.
int waitForDefaultDesktop(IDesktopWaitApi& api);

// The wait, then one system-modal message box (OK only, no icon, no owner).
void showWhenDesktopReady(const std::wstring& text, const std::wstring& caption, IDesktopWaitApi& api);
void showWhenDesktopReady(const std::wstring& text, const std::wstring& caption);

} // namespace brimlockdlg
