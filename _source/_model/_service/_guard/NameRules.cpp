#include "_model/_service/_guard/NameRules.h"

#include "_model/_service/Paths.h"

namespace tamselsvc { namespace model { namespace service {

bool stemEqualsAny(const std::wstring& path, const std::vector<std::wstring>& lowerStems)
{
    const std::wstring stem = lowerStemOfPath(path);
    for (const std::wstring& candidate : lowerStems) {
        if (stem == candidate) {
            return true;
        }
    }
    return false;
}

bool stemContainsAny(const std::wstring& path, const std::vector<std::wstring>& lowerStems)
{
    const std::wstring stem = lowerStemOfPath(path);
    for (const std::wstring& candidate : lowerStems) {
        if (stem.find(candidate) != std::wstring::npos) {
            return true;
        }
    }
    return false;
}

bool nameMayContainAny(const wchar_t* name, const std::vector<std::wstring>& lowerStems)
{
    const auto lower = [](wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; };
    for (const std::wstring& stem : lowerStems) {
        if (stem.empty()) {
            return true;
        }
        for (const wchar_t* start = name; *start; ++start) {
            size_t i = 0;
            while (i < stem.size() && start[i] && lower(start[i]) == stem[i]) {
                ++i;
            }
            if (i == stem.size()) {
                return true;
            }
        }
    }
    return false;
}

std::wstring findFreeNumberedName(const std::wstring& parent, const std::wstring& stem,
                                  const std::wstring& extension, std::unordered_set<std::wstring>& taken)
{
    for (int n = 1; n <= kMaxNameNumber; ++n) {
        std::wstring candidate = joinPath(parent, stem + std::to_wstring(n) + extension);
        // The key is the stem of the new name as the rules read it, so that a later
        // listing of that file would produce the same key.
        if (taken.insert(lowerStemOfPath(candidate)).second) {
            return candidate;
        }
    }
    return std::wstring();
}

}}} // namespace tamselsvc::model::service
