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
// Beside the outcome it keeps the target of a scheduled rename (so that a target taken
// later can be replaced by a name free now) and whether the file's notice is still due (a
// notice counts as given once its thread has started; one that found its gate held is
// tried again by a later pass).
//
// Not synchronised: the countermeasure uses it under its pass lock only.

#include <string>
#include <unordered_map>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

enum class HandledKind {
    RenameScheduled,   // the immediate rename failed; the rename is scheduled for the restart
    Failed,            // the immediate rename failed and so did its scheduling
    DeletionScheduled, // the file could not be moved at all; its deletion is scheduled
    DeletionFailed,    // ... and the deletion could not be scheduled
};

struct HandledFile {
    std::wstring identity;
    HandledKind kind = HandledKind::RenameScheduled;
    std::wstring target;   // the scheduled rename's new path (RenameScheduled)
    unsigned targets = 0;  // how many rename targets were scheduled for this file
    bool noticeDue = false; // its notice has not been given yet
};

class HandledFiles {
public:
    // The memory of the file at `path` when it is the file with `identity`; null otherwise.
    HandledFile* find(const std::wstring& path, const std::wstring& identity);
    // True when the file at `path` with `identity` last gave `kind`.
    bool gave(const std::wstring& path, const std::wstring& identity, HandledKind kind);
    // From now on the file at `path` is that file, and it gave `kind`; what it gave before
    // is kept when it is the same file (the targets scheduled for it).
    HandledFile& remember(const std::wstring& path, const std::wstring& identity, HandledKind kind);
    void forget(const std::wstring& path);
    // Forgets every file of `folder` (as the candidate table writes it, with or without a
    // trailing backslash) whose path is not among `listed`, the offending files of a
    // complete listing of that folder.
    void keepOnlyListed(const std::wstring& folder, const std::vector<std::wstring>& listed);
    size_t size() const { return _files.size(); }

private:
    std::unordered_map<std::wstring, HandledFile> _files;
};

}}} // namespace tamselsvc::model::service
