#pragma once
// A scripted stand-in for the desktop wait's system calls: answers the desktop-name
// queries from a list, counts sleeps instead of sleeping, and records message boxes.

#include "_dialog/DesktopWait.h"

#include <deque>
#include <string>
#include <vector>

namespace dialog_test {

class FakeDesktopApi : public brimlockdlg::IDesktopWaitApi {
public:
    struct Box {
        std::wstring text;
        std::wstring caption;
        UINT style;
    };

    // One answer per check; an empty optional-like entry (ok=false) is a failed query.
    void answer(const std::wstring& name, int times = 1)
    {
        for (int i = 0; i < times; ++i) {
            _answers.push_back({true, name});
        }
    }
    void fail(int times = 1)
    {
        for (int i = 0; i < times; ++i) {
            _answers.push_back({false, L""});
        }
    }

    bool inputDesktopName(std::wstring& name) override
    {
        ++checks;
        // Once the script runs out, the desktop stays locked.
        if (_answers.empty()) {
            name = L"Winlogon";
            return true;
        }
        const Answer next = _answers.front();
        _answers.pop_front();
        if (next.ok) {
            name = next.name;
        }
        return next.ok;
    }
    void sleep(DWORD milliseconds) override
    {
        sleeps.push_back(milliseconds);
        sleepsBeforeCheck.push_back(checks);
    }
    void messageBox(const std::wstring& text, const std::wstring& caption, UINT style) override
    {
        boxes.push_back({text, caption, style});
        checksBeforeBox = checks;
    }

    int checks = 0;
    int checksBeforeBox = -1;
    std::vector<DWORD> sleeps;
    std::vector<int> sleepsBeforeCheck;
    std::vector<Box> boxes;

private:
    struct Answer {
        bool ok;
        std::wstring name;
    };
    std::deque<Answer> _answers;
};

} // namespace dialog_test
