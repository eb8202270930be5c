#pragma once
// One program registration that Windows starts through CreateProcess without an
// application name: a Win32 service's ImagePath, a value of a Run or RunOnce key, one
// command line of Winlogon's Shell or Userinit, or one program action of a scheduled task.
// Where it lives, what it holds, and the command an administrator runs to quote it.
// Pure string work, no Windows header.

#include "_model/_service/_report/UnquotedCommandLine.h"

#include <string>

namespace tamselsvc { namespace model { namespace service {

enum class RegistrationKind { Service, StartupValue, ScheduledTask };

// The registry view a Run or RunOnce value was read in. 32-bit Windows has one registry
// (Single); 64-bit Windows has the native key (Native) and its WOW6432Node copy
// (Redirected32). Services live in one key on every Windows (Single).
enum class RegistryView { Single, Native, Redirected32 };

struct Registration {
    RegistrationKind kind = RegistrationKind::Service;
    std::wstring name;        // the service's key name, the value's name ("" for the default value),
                              // or the task's path ("\Vendor\Updater")
    std::wstring key;         // "HKLM\SYSTEM\CurrentControlSet\Services\<name>" or the Run/RunOnce key,
                              // as named in the native view (without WOW6432Node); for a task, where
                              // Task Scheduler shows the action ("Task Scheduler Library\Vendor\Updater, action 2")
    RegistryView view = RegistryView::Single;
    std::wstring value;       // the text as stored
    bool expandable = false;  // stored as REG_EXPAND_SZ
    std::wstring commandLine; // as Windows starts it: `value` with its environment variables expanded
    // For a value that holds a comma-separated list of command lines (Winlogon's Shell and
    // Userinit): the expanded text before and after this one, commas included.
    std::wstring before;
    std::wstring after;
    bool onlyAction = false;  // a task's one and only action, which "schtasks /change /tr" sets anew
};

// The longest text "schtasks /change /tr" takes.
constexpr std::size_t kMaxTaskRunChars = 261;

// On 64-bit Windows this 32-bit service sees %ProgramFiles% and %CommonProgramFiles% as
// the "(x86)" folders, while the 64-bit service control manager and shell that start the
// programs see the native ones. The text with those two names (ASCII case ignored) made
// %ProgramW6432% and %CommonProgramW6432%, which name the native folders in every process
// of 64-bit Windows. "%" signs are paired left to right; after a name that is not one of
// the two, its closing sign may open the next, as after a name that is not set. Everything
// else is left as it is. For 64-bit Windows only.
std::wstring withNativeFolderVariables(const std::wstring& text);

// An ordinary user can set its text: a value of a user's own Run or RunOnce key
// ("HKU\<SID>\..."), or a scheduled task's action (any user may register tasks of
// their own; which task is whose is not told apart). The guard of registrations, which runs as LocalSystem, must not let
// such a text steer it at files only administrators could have put in place.
bool ordinaryUsersMaySet(const Registration& registration);

// Where an administrator finds it in the registry editor: the key, with WOW6432Node for a
// value of the 32-bit view of 64-bit Windows.
std::wstring placeOf(const Registration& registration);

// The text the registration should hold: the command line with exactly its real program
// in quotes (withProgramQuoted of the expanded line), between `before` and `after`; ""
// when the program was not found.
std::wstring quotedValue(const Registration& registration, const ProgramSearch& search);

// The command, for an elevated command prompt, that stores quotedValue and nothing else:
// "sc config" for a service (which stores the path as REG_EXPAND_SZ), "reg add" for a Run
// or RunOnce value (same type, same view), "schtasks /change /tr" for a task's only action
// (it sets the task's one action anew; a task with more actions, or a line longer than
// kMaxTaskRunChars, gets none). The new text is the expanded command line, so
// that the command means the same when cmd.exe runs it. Each argument is quoted for the
// program's own split (quoteArgument), then the whole line for cmd (typedAtCmd), so that
// no text a user wrote runs anything. "" when the program was not found or when no such
// command can be typed at cmd: then an administrator sets quotedValue by hand.
std::wstring quotingCommand(const Registration& registration, const ProgramSearch& search);

}}} // namespace tamselsvc::model::service
