#include "_model/_service/_guard/FolderListing.h"

#include "_model/_service/Paths.h"
#include "_model/_service/_guard/NameRules.h"
#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <algorithm>
#include <system_error>

namespace tamselsvc { namespace model { namespace service {

namespace {

using Corvane::Orlin::UniqueFile;
using Corvane::Orlin::UniqueFindHandle;

[[noreturn]] void raise(DWORD error, const char* what)
{
    throw std::system_error(static_cast<int>(error), std::system_category(), what);
}

bool isAbsence(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A search that could not start: empty when there is no folder at `folder` (nothing
// there, or a file), or when the folder has no entries at all (a drive's root folder lists
// no "." and ".."); raises otherwise.
void checkFailedSearch(const std::wstring& folder, DWORD searchError)
{
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (isAbsence(error)) {
            return;
        }
        raise(error, "cannot learn whether the folder exists");
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return;
    }
    if (searchError == ERROR_FILE_NOT_FOUND || searchError == ERROR_NO_MORE_FILES) {
        return;
    }
    raise(searchError, "cannot enumerate the folder");
}

// Whether the entry, followed through links and junctions, is a folder. A link whose
// target is missing is not.
bool isFolderFollowingLinks(const std::wstring& path)
{
    UniqueFile target(CreateFileW(extendedPathOf(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!target) {
        const DWORD error = GetLastError();
        if (isAbsence(error) || error == ERROR_CANT_RESOLVE_FILENAME) {
            return false; // dangling, or a loop of links
        }
        raise(error, "cannot read the type of a folder entry");
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(target.get(), &info)) {
        raise(GetLastError(), "cannot read the type of a folder entry");
    }
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isFolder(const WIN32_FIND_DATAW& entry, const std::wstring& path)
{
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        return isFolderFollowingLinks(path);
    }
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isDotEntry(const wchar_t* name)
{
    return (name[0] == L'.' && name[1] == L'\0') || (name[0] == L'.' && name[1] == L'.' && name[2] == L'\0');
}

// Calls `visit` with the find data of every entry of the folder but "." and "..", in
// enumeration order. Nothing when there is no folder.
template <typename Visit>
void forEachEntry(const std::wstring& folder, Visit visit)
{
    WIN32_FIND_DATAW entry;
    UniqueFindHandle search(FindFirstFileExW(joinPath(folder, L"*").c_str(), FindExInfoBasic, &entry,
                                             FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!search) {
        checkFailedSearch(folder, GetLastError());
        return;
    }
    for (;;) {
        if (!isDotEntry(entry.cFileName)) {
            visit(entry);
        }
        if (!FindNextFileW(search.get(), &entry)) {
            const DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_FILES) {
                break;
            }
            raise(error, "cannot advance the folder enumeration");
        }
    }
}

} // namespace

std::vector<std::wstring> listMatchingFiles(const std::wstring& folder, const PathPredicate& predicate)
{
    std::vector<std::wstring> matches;
    forEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
        std::wstring path = joinPath(folder, entry.cFileName);
        // The predicate first: only a matching entry costs a look through its link.
        if (predicate(path) && !isFolder(entry, path)) {
            matches.push_back(std::move(path));
        }
    });
    return matches;
}

FolderListing listCandidateFolder(const std::wstring& folder, const std::vector<std::wstring>& rowStems,
                                  const std::vector<std::wstring>& allStems)
{
    FolderListing listing;
    forEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
        // Most entries of a busy folder name nothing of the kind: they cost no string.
        if (!nameMayContainAny(entry.cFileName, allStems)) {
            return;
        }
        std::wstring path = joinPath(folder, entry.cFileName);
        std::wstring stem = lowerStemOfPath(path);
        const bool offending = std::find(rowStems.begin(), rowStems.end(), stem) != rowStems.end();
        if (std::any_of(allStems.begin(), allStems.end(),
                        [&](const std::wstring& s) { return stem.find(s) != std::wstring::npos; })) {
            listing.takenNames.insert(std::move(stem));
        }
        if (offending && !isFolder(entry, path)) {
            listing.offending.push_back(std::move(path));
        }
    });
    return listing;
}

}}} // namespace tamselsvc::model::service
