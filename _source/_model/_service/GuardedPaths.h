#pragma once
// What the report's scan hands the guard of registrations: every path that Windows tries
// before the real program of an unquoted registration, with that registration and its real
// program, and the paths it could not guard with the reason. The scan fills a set per whole
// scan (RegistrationScan.h lists every registration, scheduled tasks included once listed
// there); the guard (_guard/RegistrationGuard.h) acts on the last set handed over.
//
// A set is handed over only after a scan that read every registration and checked each of
// them: a failed or cut scan hands nothing, and the guard keeps the set it has.
//
// Pure data and one interface; no Windows header.

#include <cstddef>
#include <string>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

// Bounds of one set, whatever the machine holds: the paths kept, and the characters of a
// registration's name and place as the records show them.
constexpr std::size_t kMaxGuardedPaths = 2048;
constexpr std::size_t kMaxGuardedRegistrationChars = 512;

// One path in front of a registration's program.
struct GuardedPath {
    std::wstring path;         // as Windows looks for it ("C:\Program Files\A.exe")
    std::wstring registration; // "name" (place), as the records show it
    std::wstring program;      // the registration's real program (the longest prefix that exists)
};

enum class NotGuardedWhy {
    NotLocal,   // not a full path on a fixed local drive (network, removable, relative)
    NoProgram,  // no prefix exists: the real program cannot be told
    NotListed,  // tried after the first kMaxListedPaths paths of its line
    TooMany,    // beyond the number of paths the guard keeps
    UsersText,  // an ordinary user sets the registration's text, and only administrators
                // can create files in the path's folder (ordinaryUsersMaySet, Registration.h)
};

struct NotGuarded {
    NotGuardedWhy why = NotGuardedWhy::NotLocal;
    std::wstring path;         // the first such path ("" for NotListed)
    std::wstring registration; // "name" (place)
};

struct GuardedSet {
    std::vector<GuardedPath> paths;
    // The real program of every registration (quoted or not): never a guarded path.
    std::vector<std::wstring> programs;
    std::vector<NotGuarded> notGuarded;
};

// The guard's side of the feed, called on the report's thread.
class GuardFeed {
public:
    // The set of a whole scan; replaces the one before.
    virtual void publish(GuardedSet set) = 0;
    // A registration changed and the next scan has not yet settled it: the guard acts on
    // nothing until the next publish (within a bound, RegistrationGuard.h).
    virtual void unsettle() = 0;

protected:
    ~GuardFeed() = default;
};

}}} // namespace tamselsvc::model::service
