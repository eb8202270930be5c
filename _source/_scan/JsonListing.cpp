#include "_model/_service/_report/Registration.h"
#include "_scan/Listings.h"
#include "_scan/Utf8.h"

#include <nlohmann/json.hpp>

namespace brimlockscan {

namespace svc = tamselsvc::model::service;

namespace {

nlohmann::json pathEntry(const std::wstring& path, const svc::PathFacts& facts)
{
    return {{"path", toUtf8(path)}, {"isFile", facts.isFile}, {"usersCanCreate", facts.usersCanCreate}};
}

nlohmann::json findingEntry(const Finding& finding)
{
    const Registration& registration = finding.registration;
    const svc::ProgramSearch& search = finding.search;
    nlohmann::json tried = nlohmann::json::array();
    for (size_t i = 0; i < search.triedBefore.size(); ++i) {
        tried.push_back(pathEntry(search.triedBefore[i], finding.tried[i]));
    }
    nlohmann::json planted = nlohmann::json::array();
    for (size_t i = 0; i < search.planted.size(); ++i) {
        planted.push_back(pathEntry(search.planted[i], finding.planted[i]));
    }
    return {{"kind", toUtf8(kindName(registration))},
            {"name", toUtf8(registration.name)},
            {"key", toUtf8(registration.key)},
            {"view", toUtf8(viewName(registration.view))},
            {"place", toUtf8(svc::placeOf(registration))},
            {"type", toUtf8(typeName(registration))},
            {"value", toUtf8(registration.value)},
            {"commandLine", toUtf8(registration.commandLine)},
            {"programFound", search.programFound},
            {"program", toUtf8(search.program)},
            {"tried", tried},
            {"triedNotListed", search.triedNotListed},
            {"planted", planted},
            {"quotedValue", toUtf8(finding.value)},
            {"command", toUtf8(finding.command)}};
}

} // namespace

std::string jsonListing(const ScanResult& result, const std::wstring& machine)
{
    nlohmann::json findings = nlohmann::json::array();
    for (const Finding& finding : result.findings) {
        findings.push_back(findingEntry(finding));
    }
    nlohmann::json passedOver = nlohmann::json::array();
    for (const PassedOver& skipped : result.passedOver) {
        passedOver.push_back({{"place", toUtf8(skipped.place)}, {"name", toUtf8(skipped.name)}, {"error", skipped.error}});
    }
    const nlohmann::json document = {{"version", kJsonVersion},   {"machine", toUtf8(machine)},
                                     {"checked", result.checked}, {"found", result.findings.size()},
                                     {"findings", findings},      {"passedOver", passedOver}};
    return document.dump(2) + "\n";
}

} // namespace brimlockscan
