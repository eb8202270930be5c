#pragma once
// The localized event texts: the heads of the countermeasure's records (ids 102 to 105),
// the parts of the report of unquoted registrations (106 to 115) and the guard's folder
// records (116 to 119), the report's further parts (120 to 127) and the console scan's
// texts (140 to 169), loaded once from the
// program's own string table before any other thread exists, then only read.
// The system's resource lookup picks the table of the user-interface language (Japanese or
// English; English on any other machine). A missing id leaves its text empty.

#include "_model/_service/MessageStringIds.h"

#include <windows.h>

#include <string>

namespace tamselsvc { namespace model { namespace service {

void loadMessageStrings(HINSTANCE module);

// The loaded text for 102 to 127 and 140 to 169; empty before loading, when missing, or for another id.
const std::wstring& messageString(UINT id);

}}} // namespace tamselsvc::model::service
