#include "_model/_service/RenameError.h"

#include "_win32/AnsiConversion.h"
#include "_win32/ErrorText.h"

#include <climits>

namespace tamselsvc { namespace model { namespace service {

std::string renameErrorDescription(DWORD errorCode, const std::wstring& oldPath, const std::wstring& newPath)
{
    std::string message = Corvane::Orlin::SystemMessageA(errorCode);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    if (message.empty()) {
        message = "unknown error";
    }
    using Corvane::Orlin::win32::ToAnsi;
    return "rename: " + message + ": \"" + ToAnsi(oldPath) + "\", \"" + ToAnsi(newPath) + "\"";
}

RenameError::RenameError(DWORD errorCode, const std::wstring& oldPath, const std::wstring& newPath)
    : std::runtime_error(renameErrorDescription(errorCode, oldPath, newPath)), _errorCode(errorCode)
{
}

std::wstring descriptionToWide(const std::string& description)
{
    if (description.empty()) {
        return std::wstring();
    }
    if (description.size() > static_cast<size_t>(INT_MAX)) {
        throw DescriptionConversionError(ERROR_INVALID_PARAMETER);
    }
    const int length = static_cast<int>(description.size());
    const int needed =
        MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, description.data(), length, nullptr, 0);
    if (needed <= 0) {
        throw DescriptionConversionError(GetLastError());
    }
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    if (MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, description.data(), length, &wide[0], needed) !=
        needed) {
        throw DescriptionConversionError(GetLastError());
    }
    return wide;
}

}}} // namespace tamselsvc::model::service
