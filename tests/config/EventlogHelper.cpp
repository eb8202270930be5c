// Writes the records of one StopServiceMyself through the real ReportEventW, for a test
// that reads them back from Wine's eventlog debug channel. "tamselsvc" is not installed
// then, so the records are the start and "OpenService failed". A second OutputSettings
// shows its own event-source registration.
#include "_model/_service/TamselService.h"
#include "_win32/OutputSettings.h"

#include <cstdio>

int main()
{
    tamselsvc::model::service::TamselService service(L"tamselsvc");
    std::printf("eventlog switch %d\n", service.outputSettings.shouldOutputToEventlog() ? 1 : 0);
    std::fflush(stdout);
    service.StopServiceMyself();
    Corvane::Orlin::OutputSettings second(L"brimlocksecond");
    return 0;
}
