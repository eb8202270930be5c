// config_eventlog_helper: the service object's records for tests/support/eventlog_channel.sh,
// through the real ReportEventW. With "ShouldOutputToEventlog" = 1, one StopServiceMyself
// ("tamselsvc" is not installed then, so the records are the start and "OpenService
// failed"), each unformatted with its event ID under the object's own source; a second
// OutputSettings registers a source of its own. With the switch off, the same sources and
// no record.
#include "ConfigKey.h"
#include "EventlogChannel.h"

#include "_model/_service/TamselService.h"
#include "_win32/Configuration.h"
#include "_win32/OutputSettings.h"

using namespace brimlock_test;

int main()
{
    ConfigKey key;
    for (const bool on : {true, false}) {
        if (on && key.setDword(Corvane::Orlin::kShouldOutputToEventlog, 1) != ERROR_SUCCESS) {
            return 2;
        }
        if (!on) {
            ConfigKey::removeEverywhere();
        }
        Corvane::Orlin::ResetConfigurationCacheForTesting();
        {
            tamselsvc::model::service::TamselService service(L"tamselsvc");
            expectSource(L"tamselsvc");
            service.StopServiceMyself();
            if (on) {
                expectReport(EVENTLOG_INFORMATION_TYPE, 500, L"StopServiceMyself()\n");
                expectReport(EVENTLOG_INFORMATION_TYPE, 1060, L"OpenService failed (%d)\n");
            }
            const Corvane::Orlin::OutputSettings second(L"brimlocksecond");
            expectSource(L"brimlocksecond");
        }
        expectDeregistered();
        expectDeregistered();
    }
    return 0;
}
