#pragma once
// The bound on what a path that keeps failing can write: each kind of record (and with it
// its notice) at most once per path in ten minutes, for every outcome but a rename done at
// once, whatever file sits at the path (a file that is renamed, deleted and made again
// gives a new file each time). An outcome that alternates, as a number comes and goes,
// writes each of its records once in that time, not once per pass. Paths are compared as
// Windows compares names, without regard to case. What it remembers is bounded by what was
// admitted in the last ten minutes.
//
// Not synchronised: the countermeasure uses it under its pass lock only. The clock is
// countermeasurePorts().tickCount.

#include <windows.h>

#include <string>
#include <unordered_map>

namespace tamselsvc { namespace model { namespace service {

class FloodWindow {
public:
    static constexpr ULONGLONG kWindowMs = 10 * 60 * 1000;

    // The records a path can write.
    enum class Record { RenameError, RenameScheduled, SchedulingFailed, DeletionScheduled, DeletionFailed };

    // True, and that record's window for the path starts now, when it was not admitted for
    // `path` in the last kWindowMs; false otherwise (nothing changes).
    bool admit(const std::wstring& path, Record record);

    size_t size() const { return _admitted.size(); }

private:
    std::unordered_map<std::wstring, ULONGLONG> _admitted; // case-folded path and record -> tick
};

// `path` folded as Windows folds names for a comparison without regard to case (upper case
// by the system's table), so that two spellings of one name give one key.
std::wstring foldedPath(const std::wstring& path);

}}} // namespace tamselsvc::model::service
