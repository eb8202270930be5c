#pragma once
// A notice launcher that shows nothing, for runs of the check that look only at files and
// records (the event-record writer, the benchmarks).

#include "_model/_service/NoticeLauncher.h"

#include <string>

namespace brimlock_test {

class SilentLauncher : public tamselsvc::model::service::INoticeLauncher {
public:
    void notifyActiveUser(const std::wstring&, const std::wstring&) override {}
    void launchDialog(const std::wstring&, const std::wstring&) override {}
};

} // namespace brimlock_test
