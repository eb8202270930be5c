#include "_model/_service/_report/Registration.h"

#include "_model/_service/Paths.h"

namespace tamselsvc { namespace model { namespace service {

namespace {
constexpr wchar_t kSoftware[] = L"HKLM\\SOFTWARE\\";
} // namespace

std::wstring withNativeFolderVariables(const std::wstring& text)
{
    std::wstring result;
    size_t at = 0;
    for (size_t open; (open = text.find(L'%', at)) != std::wstring::npos;) {
        const size_t close = text.find(L'%', open + 1);
        if (close == std::wstring::npos) {
            break;
        }
        const std::wstring name = lowerAsciiOnly(text.substr(open + 1, close - open - 1));
        result.append(text, at, open - at);
        if (name == L"programfiles" || name == L"commonprogramfiles") {
            result += name == L"programfiles" ? L"%ProgramW6432%" : L"%CommonProgramW6432%";
            at = close + 1;
        } else {
            result.append(text, open, close - open); // the closing "%" may open the next name
            at = close;
        }
    }
    return result + text.substr(at);
}

bool ordinaryUsersMaySet(const Registration& registration)
{
    return registration.kind == RegistrationKind::ScheduledTask || registration.key.compare(0, 4, L"HKU\\") == 0;
}

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
    const std::wstring quoted = withProgramQuoted(registration.commandLine, search);
    return quoted.empty() ? quoted : registration.before + quoted + registration.after;
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
    if (registration.kind == RegistrationKind::ScheduledTask) {
        // Whatever split schtasks makes of /tr into the action's program and arguments, the
        // scheduler joins them again into the same line.
        if (registration.onlyAction && value.size() <= kMaxTaskRunChars) {
            typedAtCmd(L"schtasks /change /tn " + quoteArgument(registration.name) + L" /tr " + newLine, typed);
        }
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
