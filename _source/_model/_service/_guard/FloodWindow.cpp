#include "_model/_service/_guard/FloodWindow.h"

#include "_model/_service/_guard/CountermeasurePorts.h"

namespace tamselsvc { namespace model { namespace service {

std::wstring foldedPath(const std::wstring& path)
{
    std::wstring folded = path;
    if (!folded.empty()) {
        CharUpperBuffW(&folded[0], static_cast<DWORD>(folded.size()));
    }
    return folded;
}

bool FloodWindow::admit(const std::wstring& path, Record record)
{
    const ULONGLONG now = countermeasurePorts().tickCount();
    for (auto it = _admitted.begin(); it != _admitted.end();) {
        it = now - it->second >= kWindowMs ? _admitted.erase(it) : std::next(it);
    }
    return _admitted.emplace(foldedPath(path) + L'\n' + std::to_wstring(static_cast<int>(record)), now).second;
}

}}} // namespace tamselsvc::model::service
