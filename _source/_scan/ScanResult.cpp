#include "_scan/ScanResult.h"

#include "_model/_service/_report/RegistrationScan.h"
#include "_model/_service/_report/ReportScan.h"

namespace brimlockscan {

namespace svc = tamselsvc::model::service;

namespace {

class Collector : public svc::RegistrationVisitor {
public:
    Collector(const svc::ReportScanPorts& ports, ScanResult& result) : _check(ports), _result(result) {}

    bool visit(const Registration& registration) override
    {
        ++_result.checked;
        svc::ProgramSearch search = _check.search(registration);
        if (svc::isUnquotedWithSpaces(search)) {
            _result.findings.push_back(_check.finding(registration, std::move(search)));
        }
        return true;
    }

    void passedOver(const std::wstring& place, const std::wstring& name, DWORD error) override
    {
        _result.passedOver.push_back({place, name, error});
    }

private:
    svc::RegistrationCheck _check;
    ScanResult& _result;
};

} // namespace

ScanResult scanRegistrations()
{
    const svc::ReportScanPorts& ports = svc::reportScanPorts();
    ScanResult result;
    Collector collector(ports, result);
    result.error = ports.enumerateRegistrations(collector);
    if (result.error == ERROR_SUCCESS) {
        result.error = ports.enumerateScheduledTasks(collector);
    }
    return result;
}

const wchar_t* kindName(const Registration& registration)
{
    switch (registration.kind) {
    case svc::RegistrationKind::Service:
        return L"service";
    case svc::RegistrationKind::ScheduledTask:
        return L"task";
    default:
        return L"startup";
    }
}

const wchar_t* viewName(RegistryView view)
{
    switch (view) {
    case RegistryView::Native:
        return L"native";
    case RegistryView::Redirected32:
        return L"wow64-32";
    default:
        return L"single";
    }
}

const wchar_t* typeName(const Registration& registration)
{
    return registration.expandable ? L"REG_EXPAND_SZ" : L"REG_SZ";
}

} // namespace brimlockscan
