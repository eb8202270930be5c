#pragma once
// Tells when a program registration may have changed: an asynchronous registry change
// notification (RegNotifyChangeKeyValue with an event) on the services key with its
// subkeys, on RunOnceEx with its sections, on each machine key of Run, RunOnce and
// Winlogon that the scan reads (see RegistrationScan.h), and on the Task Scheduler's cache
// of the registered tasks with its subkeys (kTaskCacheKey); users' keys are not watched.
//
// Arm before each scan, wait after it: a change made while the scan runs then sets an
// event that is already armed and is not missed. A notification belongs to the thread that
// armed it (Windows ends it with that thread), so one thread arms and waits.

#include "_win32/UniqueHandle.h"

#include <windows.h>

#include <string>
#include <vector>

namespace tamselsvc { namespace model { namespace service {

class RegistrationWatch {
public:
    // Makes one manual-reset event per watched key; arms nothing yet.
    RegistrationWatch();
    RegistrationWatch(const RegistrationWatch&) = delete;
    RegistrationWatch& operator=(const RegistrationWatch&) = delete;

    // Arms each key that was never armed or whose event is set (its notification has
    // fired), reopening the key first. A key that cannot be opened (not there yet) is
    // replaced, until it can, by its parent key watched for new subkeys. A key that can be
    // armed neither way is tried again at the next call.
    void arm();

    enum class Outcome { Changed, Stopped, TimedOut, Failed };
    // Waits, up to `timeoutMs` (TimedOut), until one of `stops` is set (Stopped, which wins
    // when both happened) or an armed key has changed (Changed). Failed when the wait itself
    // fails. Null entries of `stops` are ignored.
    Outcome wait(const std::vector<HANDLE>& stops, DWORD timeoutMs = INFINITE) const;

private:
    struct Watched {
        std::wstring path; // below HKEY_LOCAL_MACHINE
        REGSAM view;
        BOOL subtree;
        Corvane::Orlin::UniqueHandle event;
        Corvane::Orlin::UniqueRegKey key;
        bool armed = false;
    };
    std::vector<Watched> _watched;
};

}}} // namespace tamselsvc::model::service
