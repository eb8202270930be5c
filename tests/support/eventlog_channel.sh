#!/usr/bin/env bash
# Runs a test program under Wine with the eventlog channel on and compares, line by line,
# what the channel shows with what the program expects: it prints each channel line it
# expects as "EXPECT <line>" (EventlogChannel.h). The lines compared, in order:
#   source L"<name>"           an event source registered (RegisterEventSourceW)
#   record <type>,<category>,<event id>,<sid>,<strings>,<data size>,<data>
#                              ReportEventW's call (the handle and the strings' address left out)
#   trace|warn|err L"<text>"   the record's text: information, warning, error
#   deregistered               an event source deregistered
#   eventlog_channel.sh WINERUN WINE_ROOT ARCH PROGRAM
set -euo pipefail
winerun="$1" root="$2" program="$4"
export BRIMLOCK_WINEARCH="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
WINEDEBUG=-all,trace+eventlog,warn+eventlog,err+eventlog,fixme+advapi "$winerun" "$root" "$program" \
    >"$work/out" 2>"$work/err" || { echo "the program failed"; cat "$work/out" "$work/err"; exit 1; }
grep -a '^EXPECT ' "$work/out" | sed -e 's/^EXPECT //' -e 's/\r$//' >"$work/expected"
sed -nE -e 's/\r$//' \
    -e 's/^.*:fixme:advapi:RegisterEventSourceW \(\(null\),(L".*)\): stub$/source \1/p' \
    -e 's/^.*:fixme:advapi:ReportEventW \([^,]*,(([^,]*,){6})[^,]*,([^)]*)\): stub$/record \1\3/p' \
    -e 's/^.*:(trace|warn|err):eventlog:ReportEventW (L".*)$/\1 \2/p' \
    -e 's/^.*:fixme:advapi:DeregisterEventSource .*$/deregistered/p' "$work/err" >"$work/actual"
if ! diff -u "$work/expected" "$work/actual"; then
    echo "--- channel output:"; cat "$work/err"; exit 1
fi
[[ -s "$work/expected" ]] || { echo "nothing expected"; exit 1; }
echo "$(wc -l <"$work/expected") channel lines match"
