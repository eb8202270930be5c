#include "_model/_service/_report/Registration.h"
#include "_scan/Listings.h"
#include "_scan/Utf8.h"

namespace brimlockscan {

namespace svc = tamselsvc::model::service;

namespace {

// RFC 4180: a field with a comma, a double quote or a line break is quoted, its double
// quotes doubled. A leading = + - @ tab or CR is made text for spreadsheets first.
std::string field(const std::wstring& text)
{
    std::string value = toUtf8(text);
    if (!value.empty() && std::string("=+-@\t\r").find(value[0]) != std::string::npos) {
        value.insert(0, "'");
    }
    if (value.find_first_of(",\"\r\n") == std::string::npos) {
        return value;
    }
    std::string out = "\"";
    for (char c : value) {
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return out + "\"";
}

std::string flag(bool value)
{
    return value ? "yes" : "no";
}

} // namespace

std::string csvListing(const ScanResult& result)
{
    std::string csv = "name,place,kind,type,value,order,triedPath,isFile,usersCanCreate,program,quotedValue,command\r\n";
    for (const Finding& finding : result.findings) {
        const Registration& registration = finding.registration;
        const std::string head = field(registration.name) + "," + field(svc::placeOf(registration)) + "," +
                                 field(kindName(registration)) + "," + field(typeName(registration)) + "," +
                                 field(registration.value) + ",";
        const std::string tail = "," + field(finding.search.program) + "," + field(finding.value) + "," +
                                 field(finding.command) + "\r\n";
        for (size_t i = 0; i < finding.search.triedBefore.size(); ++i) {
            csv += head + std::to_string(i + 1) + "," + field(finding.search.triedBefore[i]) + "," +
                   flag(finding.tried[i].isFile) + "," + flag(finding.tried[i].usersCanCreate) + tail;
        }
    }
    return csv;
}

} // namespace brimlockscan
