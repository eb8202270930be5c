#include "_model/_service/_guard/RenameError.h"

#include "_win32/ErrorText.h"

namespace tamselsvc { namespace model { namespace service {

std::wstring renameErrorDescription(DWORD errorCode, const std::wstring& oldPath, const std::wstring& newPath)
{
    std::wstring message = Corvane::Orlin::SystemMessageW(errorCode);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
        message.pop_back();
    }
    if (message.empty()) {
        message = L"unknown error";
    }
    return L"rename: " + message + L": \"" + oldPath + L"\", \"" + newPath + L"\"";
}

}}} // namespace tamselsvc::model::service
