#pragma once
// The error an immediate rename raises, and the conversion of an error's description into
// the text of its event record.
//
// Description of a failed rename, narrow, in the thread's ANSI code page:
//   rename: <system message for the code, without its trailing line break, or
//   "unknown error">: "<old path>", "<new path>"

#include <windows.h>

#include <stdexcept>
#include <string>

namespace tamselsvc { namespace model { namespace service {

class RenameError : public std::runtime_error {
public:
    // Raises what ToAnsi raises when a path cannot be converted.
    RenameError(DWORD errorCode, const std::wstring& oldPath, const std::wstring& newPath);
    DWORD errorCode() const noexcept { return _errorCode; }

private:
    DWORD _errorCode;
};

std::string renameErrorDescription(DWORD errorCode, const std::wstring& oldPath, const std::wstring& newPath);

// A narrow description in the thread's ANSI code page, as UTF-16: MultiByteToWideChar
// with CP_THREAD_ACP and MB_ERR_INVALID_CHARS. Empty in, empty out. Raises
// DescriptionConversionError when the text holds a sequence the code page rejects.
std::wstring descriptionToWide(const std::string& description);

class DescriptionConversionError : public std::runtime_error {
public:
    explicit DescriptionConversionError(DWORD errorCode)
        : std::runtime_error("cannot convert an error description from the ANSI code page"),
          _errorCode(errorCode) {}
    DWORD errorCode() const noexcept { return _errorCode; }

private:
    DWORD _errorCode;
};

}}} // namespace tamselsvc::model::service
