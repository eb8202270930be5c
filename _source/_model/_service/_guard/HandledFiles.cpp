#include "_model/_service/_guard/HandledFiles.h"

#include "_model/_service/Paths.h"

#include <algorithm>

namespace tamselsvc { namespace model { namespace service {

HandledFile* HandledFiles::find(const std::wstring& path, const std::wstring& identity)
{
    const auto found = _files.find(path);
    return found != _files.end() && found->second.identity == identity ? &found->second : nullptr;
}

bool HandledFiles::gave(const std::wstring& path, const std::wstring& identity, HandledKind kind)
{
    const HandledFile* file = find(path, identity);
    return file && file->kind == kind;
}

HandledFile& HandledFiles::remember(const std::wstring& path, const std::wstring& identity, HandledKind kind)
{
    HandledFile& file = _files[path];
    if (file.identity != identity) {
        file = HandledFile();
        file.identity = identity;
    }
    file.kind = kind;
    return file;
}

void HandledFiles::forget(const std::wstring& path)
{
    _files.erase(path);
}

void HandledFiles::keepOnlyListed(const std::wstring& folder, const std::vector<std::wstring>& listed)
{
    // The parent as parentOf gives it for a path in the folder, whatever the folder's form.
    const std::wstring parent = parentOf(joinPath(folder, L"x"));
    for (auto it = _files.begin(); it != _files.end();) {
        const bool inFolder = parentOf(it->first) == parent;
        if (inFolder && std::find(listed.begin(), listed.end(), it->first) == listed.end()) {
            it = _files.erase(it);
        } else {
            ++it;
        }
    }
}

}}} // namespace tamselsvc::model::service
