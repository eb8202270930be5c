#pragma once
// One scan of this machine's program registrations, as the service's report makes it:
// the registrations through reportScanPorts().enumerateRegistrations, each checked by a
// RegistrationCheck on the same ports (file-system redirection off, fixed local drives
// only), so the console scan lists exactly what the report records. What could not be
// read is kept as well, so that a listing never takes it for "nothing found".
//
// Failure: the listing's error is kept in `error` (the findings then are partial and must
// not be acted on); std::bad_alloc is raised to the caller. Changes nothing.

#include "_model/_service/_report/RegistrationCheck.h"

#include <windows.h>

#include <string>
#include <vector>

namespace brimlockscan {

using tamselsvc::model::service::Finding;
using tamselsvc::model::service::Registration;
using tamselsvc::model::service::RegistryView;

struct PassedOver {
    std::wstring place; // as placeOf names a key
    std::wstring name;  // the value, or the service
    DWORD error = 0;
};

struct ScanResult {
    unsigned checked = 0;             // registrations visited
    std::vector<Finding> findings;    // unquoted with spaces, in the order of the listing
    std::vector<PassedOver> passedOver;
    DWORD error = 0;                  // 0: every registration was listed
};

ScanResult scanRegistrations();

// The names the listings use: "service" or "startup"; "single", "native" or "wow64-32";
// "REG_SZ" or "REG_EXPAND_SZ".
const wchar_t* kindName(const Registration& registration);
const wchar_t* viewName(RegistryView view);
const wchar_t* typeName(const Registration& registration);

} // namespace brimlockscan
