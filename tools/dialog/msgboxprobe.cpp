// msgboxprobe: waits for the message box of a running program and prints what it shows,
// for shell-driven tests that take screenshots and press keys with X tools.
//
//   msgboxprobe.exe <image name> <timeout ms>
//
// Prints "caption: ...", "text: ..." (CR and LF written as \r and \n), "buttons: N",
// "icon: yes|no", "topmost: yes|no", all UTF-8. Exit code 0 once a box was found, 1 if
// none appeared in time, 2 on bad usage.

#include "MessageBoxProbe.h"

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>

using namespace brimlock_test;

namespace {

std::string escaped(const std::wstring& text)
{
    std::string out;
    for (char c : toUtf8(text)) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fputs("usage: msgboxprobe <image name> <timeout ms>\n", stderr);
        return 2;
    }
    const std::wstring image = argv[1];
    const DWORD timeoutMs = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    HWND window = nullptr;
    while (window == nullptr && std::chrono::steady_clock::now() < deadline) {
        const DWORD pid = findProcessByImageName(image);
        if (pid != 0) {
            window = waitForDialogWindow(pid, 100);
        } else {
            Sleep(100);
        }
    }
    if (window == nullptr) {
        std::fputs("no message box\n", stderr);
        return 1;
    }
    const MessageBoxView view = readMessageBox(window);
    std::printf("caption: %s\ntext: %s\nbuttons: %u\nicon: %s\ntopmost: %s\n", escaped(view.caption).c_str(),
                escaped(view.text).c_str(), static_cast<unsigned>(view.buttons.size()), view.hasIcon ? "yes" : "no",
                (view.exStyle & WS_EX_TOPMOST) ? "yes" : "no");
    std::fflush(stdout);
    return 0;
}
