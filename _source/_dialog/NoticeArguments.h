#pragma once
// The dialog program's pure logic: which command lines are accepted, which string a
// notice switch selects, and how the message text is made. No window, desktop or
// resource call here, so every rule can be tested on its own.

#include <string>
#include <vector>

namespace brimlockdlg {

// The command line split into items; `count` is what the splitter reported (0 and an
// empty list when the split failed).
struct CommandLineArgs {
    std::vector<std::wstring> items;
    int count = 0;
};

enum ExitCode : int {
    kExitShown = 0,       // the message box was shown and closed
    kExitBadItemCount = 1, // not exactly three items, or the split failed
    kExitBadSwitch = 2,   // unknown switch, or its body text is empty
    kExitEmptyPath = 3,   // the file path argument is empty
};

// String id of the body for a notice switch ("/normal" 4, "/restart" 5, "/fatal" 6),
// compared exactly and case-sensitively; 0 for anything else.
unsigned int noticeBodyId(const std::wstring& noticeSwitch);

// What the checks decided. `exitCode` is kExitShown when the message is to be shown;
// then `bodyId` and `path` are set, otherwise they are left 0 and empty.
struct NoticeRequest {
    int exitCode = kExitBadItemCount;
    unsigned int bodyId = 0;
    std::wstring path;
};

// The item-count and switch checks that need no string table: exit code 1 unless there
// are exactly three items, 2 for an unknown switch, otherwise the body id and the path
// (which may still be empty: the body is tested before the path, see checkNoticeTexts).
NoticeRequest selectNotice(const CommandLineArgs& args);

// The checks once the body has been loaded: 2 when the body is empty, else 3 when the
// path is empty, else kExitShown.
int checkNoticeTexts(const std::wstring& body, const std::wstring& path);

// The message text: `body` used as the format, with the path as its one "%s" argument
// (so a "%" in the path is shown as it stands). Nothing of the text is cut.
std::wstring formatNotice(const std::wstring& body, const std::wstring& path);

} // namespace brimlockdlg
