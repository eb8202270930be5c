#include "_model/_service/MessageStrings.h"
#include "_model/_service/_report/Registration.h"
#include "_scan/Listings.h"

namespace brimlockscan {

namespace svc = tamselsvc::model::service;
using svc::messageString;

namespace {

constexpr size_t kMaxShownText = 2048; // of a stored text: JSON and CSV keep it whole

std::wstring quoted(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

std::wstring shown(const std::wstring& text)
{
    size_t rest = 0;
    std::wstring head = svc::clipped(text, kMaxShownText, rest);
    if (rest) {
        head += messageString(IDS_REPORT_MORE) + std::to_wstring(rest) + messageString(IDS_REPORT_MORE_CHARACTERS);
    }
    return head;
}

std::wstring findingText(const Finding& finding)
{
    const svc::ProgramSearch& search = finding.search;
    std::wstring text = messageString(IDS_REPORT_REGISTRATION) + quoted(shown(finding.registration.name)) + L" (" +
                        svc::placeOf(finding.registration) + L")\r\n";
    text += messageString(IDS_REPORT_COMMAND_LINE) + shown(finding.registration.value) + L"\r\n";
    text += messageString(search.programFound ? IDS_REPORT_TRIED_BEFORE : IDS_REPORT_TRIED);
    for (size_t i = 0; i < search.triedBefore.size(); ++i) {
        text += L"  " + quoted(search.triedBefore[i]) +
                (finding.tried[i].usersCanCreate ? messageString(IDS_REPORT_USERS_CAN_CREATE) : std::wstring()) +
                L"\r\n";
    }
    if (search.triedNotListed) {
        text += L"  " + messageString(IDS_REPORT_MORE) + std::to_wstring(search.triedNotListed) +
                messageString(IDS_REPORT_MORE_PATHS) + L"\r\n";
    }
    if (search.programFound) {
        text += messageString(IDS_SCAN_PROGRAM) + quoted(search.program) + L"\r\n";
    }
    for (const std::wstring& path : search.planted) {
        text += messageString(IDS_SCAN_IN_FRONT) + quoted(path) + L"\r\n";
    }
    if (!finding.command.empty()) {
        text += messageString(IDS_REPORT_HOW_TO_QUOTE) + L"  " + shown(finding.command) + L"\r\n";
    } else if (!finding.value.empty()) {
        text += messageString(IDS_REPORT_VALUE_TO_SET) + L"  " + shown(finding.value) + L"\r\n";
    } else {
        text += messageString(IDS_REPORT_NO_PROGRAM) + L"\r\n";
    }
    return text + L"\r\n";
}

} // namespace

std::wstring textListing(const ScanResult& result)
{
    std::wstring text;
    for (const Finding& finding : result.findings) {
        text += findingText(finding);
    }
    for (const PassedOver& skipped : result.passedOver) {
        text += messageString(IDS_SCAN_PASSED_OVER) + quoted(skipped.name) + L" (" + skipped.place + L")" +
                messageString(IDS_SCAN_ERROR_CODE) + std::to_wstring(skipped.error) + L"\r\n";
    }
    if (result.findings.empty()) {
        text += messageString(IDS_SCAN_NOTHING_FOUND);
    }
    text += messageString(IDS_REPORT_CHECKED) + std::to_wstring(result.checked) + L"\r\n";
    text += messageString(IDS_REPORT_FOUND) + std::to_wstring(result.findings.size()) + L"\r\n";
    return text;
}

} // namespace brimlockscan
