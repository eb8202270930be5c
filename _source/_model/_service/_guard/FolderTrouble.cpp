#include "_model/_service/_guard/FolderTrouble.h"

#include "_model/_service/MessageStrings.h"
#include "_model/_service/_guard/CountermeasurePorts.h"
#include "_win32/LogDebug.h"

namespace tamselsvc { namespace model { namespace service {

void FolderTrouble::failed(const std::wstring& folder, DWORD error)
{
    const auto known = _failing.find(folder);
    if (known != _failing.end() && known->second == error) {
        return;
    }
    _failing[folder] = error;
    Corvane::Orlin::LogDebugW(L"%s\"%s\" (%lu)\n", messageString(_troubleHead).c_str(), folder.c_str(), error);
    countermeasurePorts().report(messageString(_troubleHead) + L"\"" + folder + L"\"\r\n" +
                                     messageString(IDS_MESSAGE_ERROR_CODE) + std::to_wstring(error),
                                 EVENTLOG_WARNING_TYPE, 0);
}

void FolderTrouble::recovered(const std::wstring& folder)
{
    if (_failing.erase(folder) == 0) {
        return;
    }
    countermeasurePorts().report(messageString(_recoveredHead) + L"\"" + folder + L"\"", EVENTLOG_INFORMATION_TYPE,
                                 0);
}

}}} // namespace tamselsvc::model::service
