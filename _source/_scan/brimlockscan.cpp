// brimlockscan.exe: the console scan of unquoted program registrations (ScanTool.h).
// It needs no service and changes nothing unless asked to (/fix, /undo).
#include "_model/_service/MessageStrings.h"
#include "_scan/ScanTool.h"

#include <windows.h>

#include <exception>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    tamselsvc::model::service::loadMessageStrings(GetModuleHandleW(nullptr));
    brimlockscan::ToolOutput out(GetStdHandle(STD_OUTPUT_HANDLE));
    brimlockscan::ToolOutput err(GetStdHandle(STD_ERROR_HANDLE));
    try {
        return brimlockscan::runScanTool(std::vector<std::wstring>(argv + 1, argv + argc), out, err);
    } catch (const std::exception& e) {
        // Out of memory, in practice: whatever was changed is in the undo file already.
        err.write(L"brimlockscan: " + std::wstring(e.what(), e.what() + std::char_traits<char>::length(e.what())) +
                  L"\r\n");
        return brimlockscan::kExitFailed;
    }
}
