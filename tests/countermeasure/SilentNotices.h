#pragma once
// Notices that show nothing, for runs of the check that look only at files and records (the
// event-record writer, the benchmarks).

#include "_model/_service/_guard/CountermeasurePorts.h"

#include <string>

namespace brimlock_test {

// `ports` with notices that show nothing.
inline tamselsvc::model::service::CountermeasurePorts
withSilentNotices(tamselsvc::model::service::CountermeasurePorts ports)
{
    ports.notifyActiveUser = [](const std::wstring&, const std::wstring&) {};
    ports.launchDialog = [](const std::wstring&, const std::wstring&) {};
    return ports;
}

} // namespace brimlock_test
