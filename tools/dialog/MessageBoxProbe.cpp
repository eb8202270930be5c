#include "MessageBoxProbe.h"

#include "_win32/UniqueHandle.h"

#include <tlhelp32.h>

#include <chrono>

namespace brimlock_test {

namespace {

std::wstring classNameOf(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring windowText(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    const int got = GetWindowTextW(window, &text[0], static_cast<int>(text.size()));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

struct FindContext {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK collectDialogs(HWND window, LPARAM param)
{
    auto* context = reinterpret_cast<FindContext*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == context->processId && IsWindowVisible(window) && classNameOf(window) == L"#32770") {
        context->found.push_back(window);
    }
    return TRUE;
}

BOOL CALLBACK collectChildren(HWND window, LPARAM param)
{
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

} // namespace

std::vector<HWND> dialogWindowsOf(DWORD processId)
{
    FindContext context{processId, {}};
    EnumWindows(collectDialogs, reinterpret_cast<LPARAM>(&context));
    return context.found;
}

HWND waitForDialogWindow(DWORD processId, DWORD timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::vector<HWND> windows = dialogWindowsOf(processId);
        if (!windows.empty()) {
            return windows.front();
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return nullptr;
        }
        Sleep(50);
    }
}

MessageBoxView readMessageBox(HWND window)
{
    MessageBoxView view;
    view.window = window;
    view.className = classNameOf(window);
    view.caption = windowText(window);
    view.style = GetWindowLongW(window, GWL_STYLE);
    view.exStyle = GetWindowLongW(window, GWL_EXSTYLE);
    view.owner = GetWindow(window, GW_OWNER);

    std::vector<HWND> children;
    EnumChildWindows(window, collectChildren, reinterpret_cast<LPARAM>(&children));
    HWND textControl = nullptr;
    for (HWND child : children) {
        const std::wstring cls = classNameOf(child);
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        const bool visible = (style & WS_VISIBLE) != 0;
        if (_wcsicmp(cls.c_str(), L"Button") == 0) {
            const LONG kind = style & BS_TYPEMASK;
            if (visible && (kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON)) {
                view.buttons.push_back({GetDlgCtrlID(child), windowText(child)});
            }
        } else if (_wcsicmp(cls.c_str(), L"Static") == 0) {
            if ((style & SS_TYPEMASK) == SS_ICON) {
                if (visible && SendMessageW(child, STM_GETICON, 0, 0) != 0) {
                    view.hasIcon = true;
                }
            } else if (textControl == nullptr || GetDlgCtrlID(child) == 0xFFFF) {
                // The box's text control has id 0xFFFF; any other text static is a fallback.
                textControl = child;
            }
        }
    }
    if (textControl != nullptr) {
        view.textFound = true;
        view.text = windowText(textControl);
    }
    return view;
}

bool pressReturn(HWND window)
{
    SetForegroundWindow(window);
    INPUT keys[2] = {};
    keys[0].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = VK_RETURN;
    keys[1] = keys[0];
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    return SendInput(2, keys, sizeof(INPUT)) == 2;
}

namespace {

// The first process of that file name for which `accept(pid)` holds, 0 if none.
template <typename Accept>
DWORD findProcess(const std::wstring& imageName, Accept accept)
{
    Corvane::Orlin::UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return 0;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, imageName.c_str()) == 0 && accept(entry.th32ProcessID)) {
            return entry.th32ProcessID;
        }
    }
    return 0;
}

} // namespace

DWORD findProcessByImageName(const std::wstring& imageName)
{
    return findProcess(imageName, [](DWORD) { return true; });
}

Corvane::Orlin::UniqueHandle openProcessByImagePath(const std::wstring& imagePath, DWORD access)
{
    const size_t slash = imagePath.find_last_of(L'\\');
    const std::wstring name = slash == std::wstring::npos ? imagePath : imagePath.substr(slash + 1);
    Corvane::Orlin::UniqueHandle found;
    findProcess(name, [&](DWORD pid) {
        Corvane::Orlin::UniqueHandle process(OpenProcess(access | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
        wchar_t path[MAX_PATH * 2] = {};
        DWORD size = MAX_PATH * 2;
        if (process && QueryFullProcessImageNameW(process.get(), 0, path, &size) &&
            _wcsicmp(path, imagePath.c_str()) == 0) {
            found = std::move(process);
        }
        return static_cast<bool>(found);
    });
    return found;
}

DWORD findProcessByImagePath(const std::wstring& imagePath)
{
    const Corvane::Orlin::UniqueHandle process = openProcessByImagePath(imagePath, 0);
    return process ? GetProcessId(process.get()) : 0;
}

std::string toUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return std::string();
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

} // namespace brimlock_test
