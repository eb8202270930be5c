#pragma once
// What each offending file that could not be moved at once last gave, for the life of the
// service process, so that a file that stays held (or cannot be moved at all) is recorded,
// scheduled and notified once, not once per pass: without it, a folder that changes a few
// times a second would make every pass write the same records, add the same restart
// operation and show the same notice again.
//
// A file is known by its listed path and, where it could be opened, its identity (volume
// serial and file index), so that another file put under the same name is a new file. A
// file is forgotten when it has been renamed, and when a complete listing of its folder no
// longer shows it; what is remembered is thus bounded by what is on disk.
//
// Not synchronised: the countermeasure uses it under its pass lock only.

#include <string>
#include <unordered_map>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

enum class HandledKind {
    RenameScheduled,   // the immediate rename failed; the rename is scheduled for the restart
    Failed,            // the immediate rename failed and so did its scheduling
    DeletionScheduled, // no numbered name was free; the deletion is scheduled for the restart
    DeletionFailed,    // no numbered name was free and the deletion could not be scheduled
};

class HandledFiles {
public:
    // True when the file at `path` with `identity` last gave `kind`.
    bool gave(const std::wstring& path, const std::wstring& identity, HandledKind kind) const;
    // From now on the file at `path` is that file, and it gave `kind`.
    void remember(const std::wstring& path, const std::wstring& identity, HandledKind kind);
    void forget(const std::wstring& path);
    // Forgets every file of `folder` (as the candidate table writes it, with or without a
    // trailing backslash) whose path is not among `listed`, the offending files of a
    // complete listing of that folder.
    void keepOnlyListed(const std::wstring& folder, const std::vector<std::wstring>& listed);
    size_t size() const { return _files.size(); }

private:
    struct Handled {
        std::wstring identity;
        HandledKind kind;
    };
    std::unordered_map<std::wstring, Handled> _files;
};

}}} // namespace tamselsvc::model::service
