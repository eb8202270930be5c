#pragma once
// The description of an immediate rename that failed, the text of its error record. Built
// in UTF-16 from start to end, so that a name outside the ANSI code page (C:\Program.日本)
// appears in the record as it is on disk; for a name inside the code page the text is the
// same as a description built in that code page would be:
//   rename: <system message for the code, without its trailing line break, or
//   "unknown error">: "<old path>", "<new path>"

#include <windows.h>

#include <string>

namespace tamselsvc { namespace model { namespace service {

std::wstring renameErrorDescription(DWORD errorCode, const std::wstring& oldPath, const std::wstring& newPath);

}}} // namespace tamselsvc::model::service
