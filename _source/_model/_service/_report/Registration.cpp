#include "_model/_service/_report/Registration.h"

namespace tamselsvc { namespace model { namespace service {

namespace {
constexpr wchar_t kSoftware[] = L"HKLM\\SOFTWARE\\";
} // namespace

std::wstring placeOf(const Registration& registration)
{
    const std::wstring software(kSoftware);
    if (registration.view == RegistryView::Redirected32 && registration.key.compare(0, software.size(), software) == 0) {
        return software + L"WOW6432Node\\" + registration.key.substr(software.size());
    }
    return registration.key;
}

std::wstring quotedValue(const Registration& registration, const ProgramSearch& search)
{
    return withProgramQuoted(registration.commandLine, search);
}

std::wstring quotingCommand(const Registration& registration, const ProgramSearch& search)
{
    const std::wstring value = quotedValue(registration, search);
    if (value.empty()) {
        return std::wstring();
    }
    const std::wstring newLine = quoteArgument(value);
    std::wstring typed;
    if (registration.kind == RegistrationKind::Service) {
        typedAtCmd(L"sc config " + quoteArgument(registration.name) + L" binPath= " + newLine, typed);
        return typed;
    }
    std::wstring command = L"reg add " + quoteArgument(registration.key);
    command += registration.name.empty() ? L" /ve" : L" /v " + quoteArgument(registration.name);
    command += registration.expandable ? L" /t REG_EXPAND_SZ" : L" /t REG_SZ";
    command += L" /d " + newLine + L" /f";
    if (registration.view == RegistryView::Native) {
        command += L" /reg:64";
    } else if (registration.view == RegistryView::Redirected32) {
        command += L" /reg:32";
    }
    typedAtCmd(command, typed);
    return typed;
}

}}} // namespace tamselsvc::model::service
