#!/usr/bin/env bash
# The service object's records, read back from Wine's eventlog debug channel: with
# "ShouldOutputToEventlog" = 1 (set with Wine's reg) each record's text appears there,
# unformatted, and the event ID on ReportEventW's own line.
#   eventlog_channel.sh WINERUN WINE_ROOT HELPER_EXE
set -u
winerun="$1" root="$2" helper="$3"
key='HKLM\SOFTWARE\Corvane\Tamsel'
cleanup() { "$winerun" "$root" reg delete "$key" /f /reg:64 >/dev/null 2>&1; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- helper output:"; printf '%s\n' "$out"; exit 1; }

"$winerun" "$root" reg add "$key" /v ShouldOutputToEventlog /t REG_DWORD /d 1 /f /reg:64 >/dev/null 2>&1 ||
    { echo "FAIL: reg add"; exit 1; }
out="$(WINEDEBUG=trace+eventlog,fixme+advapi "$winerun" "$root" "$helper" 2>&1)"
printf '%s\n' "$out" | grep -q 'eventlog switch 1' || fail "the switch was not read as on"
printf '%s\n' "$out" | grep -F 'eventlog' | grep -qF 'L"StopServiceMyself()\n"' || fail "start record text"
printf '%s\n' "$out" | grep -F 'eventlog' | grep -qF 'L"OpenService failed (%d)\n"' || fail "OpenService record text"
printf '%s\n' "$out" | grep -F 'ReportEventW' | grep -q '0x000001f4' || fail "event ID 500"
printf '%s\n' "$out" | grep -F 'ReportEventW' | grep -q '0x00000424' || fail "event ID 1060"
[[ "$(printf '%s\n' "$out" | grep -F 'ReportEventW' | grep -c '0x0004,0x0000')" == 2 ]] ||
    fail "two information records of category 0"
# Wine's RegisterEventSourceW hands out one constant handle; its own line shows that each
# OutputSettings registers a source of its own, under its name, and deregisters it.
printf '%s\n' "$out" | grep -F 'RegisterEventSourceW' | grep -qF 'L"tamselsvc"' || fail "source tamselsvc"
printf '%s\n' "$out" | grep -F 'RegisterEventSourceW' | grep -qF 'L"brimlocksecond"' || fail "second source"
[[ "$(printf '%s\n' "$out" | grep -c 'DeregisterEventSource')" == 2 ]] || fail "two deregistrations"

# And with the switch off nothing reaches the channel.
"$winerun" "$root" reg delete "$key" /f /reg:64 >/dev/null 2>&1
out="$(WINEDEBUG=trace+eventlog,fixme+advapi "$winerun" "$root" "$helper" 2>&1)"
printf '%s\n' "$out" | grep -q 'eventlog switch 0' || fail "the switch was not read as off"
printf '%s\n' "$out" | grep -qF 'ReportEventW' && fail "a record was written with the switch off"
echo "records seen on the eventlog channel"
