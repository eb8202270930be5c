#pragma once
// Looking at another process's message box from outside, with plain Win32 calls: which
// box a process shows, what its caption, text, buttons and styles are, and pressing its
// keys. Used by the dialog tests and by the msgboxprobe tool.

#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <string>
#include <vector>

namespace brimlock_test {

struct ButtonView {
    int id = 0;
    std::wstring text;
};

struct MessageBoxView {
    HWND window = nullptr;
    std::wstring className;
    std::wstring caption;     // GetWindowTextW of the box
    std::wstring text;        // GetWindowTextW of its text control
    bool textFound = false;   // a text control was found
    LONG style = 0;
    LONG exStyle = 0;
    HWND owner = nullptr;     // GetWindow(GW_OWNER)
    std::vector<ButtonView> buttons; // visible push buttons, in child order
    bool hasIcon = false;     // a visible icon control that holds an icon
};

// Visible top-level dialog-class ("#32770") windows of the process.
std::vector<HWND> dialogWindowsOf(DWORD processId);

// The first such window within `timeoutMs`; null when none appeared.
HWND waitForDialogWindow(DWORD processId, DWORD timeoutMs);

MessageBoxView readMessageBox(HWND window);

// Brings the box to the front and types Return with SendInput, as a user would.
// False when the input could not be sent.
bool pressReturn(HWND window);

// Process id of a running program by its file name (e.g. L"brimlockdlg.exe"), 0 if none.
DWORD findProcessByImageName(const std::wstring& imageName);

// A running copy of the program file `imagePath` (a full path, compared without regard to
// case), opened with `access`; empty if none. Other copies of the same name do not count.
// The path is checked on the handle returned, so what is done through it reaches that copy.
Corvane::Orlin::UniqueHandle openProcessByImagePath(const std::wstring& imagePath, DWORD access);
// Its process id, 0 if none.
DWORD findProcessByImagePath(const std::wstring& imagePath);

// UTF-16 to UTF-8, for printing and for messages of failed checks.
std::string toUtf8(const std::wstring& text);

} // namespace brimlock_test
