// GUI child of the window search tests:
//   visible TITLE   one visible, unowned top-level window titled TITLE
//   owned TITLE     a hidden owner and a visible window TITLE owned by it
//   none            no window at all
// Each ends by itself after 30 s so that a failed test leaves nothing behind.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND makeWindow(const wchar_t* title, HWND owner, bool visible)
{
    HWND window = CreateWindowExW(0, L"BrimlockTestWindow", title, WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, owner,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    if (window && visible) {
        ShowWindow(window, SW_SHOWNORMAL);
    }
    return window;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const std::wstring mode = argc > 1 ? argv[1] : L"none";
    const std::wstring title = argc > 2 ? argv[2] : L"";

    WNDCLASSW cls{};
    cls.lpfnWndProc = windowProc;
    cls.hInstance = instance;
    cls.lpszClassName = L"BrimlockTestWindow";
    RegisterClassW(&cls);
    if (mode == L"visible") {
        makeWindow(title.c_str(), nullptr, true);
    } else if (mode == L"owned") {
        HWND owner = makeWindow(L"", nullptr, false);
        makeWindow(title.c_str(), owner, true);
    }
    SetTimer(nullptr, 0, 30000, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER) {
            break;
        }
        DispatchMessageW(&message);
    }
    return 0;
}
