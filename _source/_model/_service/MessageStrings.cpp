#include "_model/_service/MessageStrings.h"

namespace tamselsvc { namespace model { namespace service {

namespace {

std::wstring s_messages[IDS_MESSAGE_LAST - IDS_MESSAGE_FIRST + 1];
std::wstring s_scanMessages[IDS_SCAN_LAST - IDS_SCAN_FIRST + 1];
const std::wstring s_empty;

std::wstring loadOne(HINSTANCE module, UINT id)
{
    wchar_t buffer[512];
    const int length = LoadStringW(module, id, buffer, 512);
    return length > 0 ? std::wstring(buffer, static_cast<size_t>(length)) : std::wstring();
}

} // namespace

void loadMessageStrings(HINSTANCE module)
{
    for (UINT id = IDS_MESSAGE_FIRST; id <= IDS_MESSAGE_LAST; ++id) {
        s_messages[id - IDS_MESSAGE_FIRST] = loadOne(module, id);
    }
    for (UINT id = IDS_SCAN_FIRST; id <= IDS_SCAN_LAST; ++id) {
        s_scanMessages[id - IDS_SCAN_FIRST] = loadOne(module, id);
    }
}

const std::wstring& messageString(UINT id)
{
    if (id >= IDS_SCAN_FIRST && id <= IDS_SCAN_LAST) {
        return s_scanMessages[id - IDS_SCAN_FIRST];
    }
    if (id < IDS_MESSAGE_FIRST || id > IDS_MESSAGE_LAST) {
        return s_empty;
    }
    return s_messages[id - IDS_MESSAGE_FIRST];
}

}}} // namespace tamselsvc::model::service
