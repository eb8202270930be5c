// brimlockdlg: tells the console user, in one system-modal message box, that a file
// which could hijack an unquoted program path was found and dealt with.
//
//   brimlockdlg.exe /normal|/restart|/fatal "<file path>"

#include "_dialog/CommandLine.h"
#include "_dialog/DesktopWait.h"
#include "_dialog/NoticeProgram.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    brimlockdlg::CDesktopWaitApi api;
    return brimlockdlg::runNotice(instance, brimlockdlg::parseCommandLine(), api);
}
