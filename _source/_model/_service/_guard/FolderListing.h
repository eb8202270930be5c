#pragma once
// The listing of a candidate folder: one non-recursive enumeration (FindFirstFileExW) that
// gives a pass both the offending files and the names already taken.

#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

using PathPredicate = std::function<bool(const std::wstring& path)>;

// Full paths of the folder's entries, in the order the file system gives them, that are
// not folders (following links and junctions) and satisfy `predicate`. Links to files and
// dangling links count as files. A missing folder (or a file where the folder should be)
// gives an empty list; any other failure to enumerate, or to learn whether a matching
// entry is a folder, raises std::system_error.
std::vector<std::wstring> listMatchingFiles(const std::wstring& folder, const PathPredicate& predicate);

// One enumeration of a candidate folder for a pass. `rowStems` and `allStems` are
// lower-cased stems: those of the folder's own candidates, and those of every candidate of
// the table (which include the former).
struct FolderListing {
    // As listMatchingFiles would give them for a predicate true for the paths whose
    // lower-cased stem is one of `rowStems`.
    std::vector<std::wstring> offending;
    // The lower-cased stems of every entry, folders and links included, that contain one of
    // `allStems`: the numbered names the name search must not use.
    std::unordered_set<std::wstring> takenNames;
};
// Failures as for listMatchingFiles.
FolderListing listCandidateFolder(const std::wstring& folder, const std::vector<std::wstring>& rowStems,
                                  const std::vector<std::wstring>& allStems);

}}} // namespace tamselsvc::model::service
