#!/usr/bin/env bash
# Runs cm_event_writer with Wine's eventlog channel on and compares, line by line, what
# the channel shows with the lines the writer expects.
#   eventlog_channel.sh WINERUN WINE_ROOT BIN_DIR ARCH
set -euo pipefail
winerun="$1" root="$2" bin="$3"
export BRIMLOCK_WINEARCH="$4"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
WINEDEBUG=-all,warn+eventlog,err+eventlog "$winerun" "$root" "$bin/cm_event_writer.exe" \
    >"$work/out" 2>"$work/err" || { echo "writer failed"; cat "$work/out" "$work/err"; exit 1; }
grep -a '^EXPECT ' "$work/out" | sed -e 's/^EXPECT //' -e 's/\r$//' >"$work/expected"
grep -aE ':(warn|err):eventlog:ReportEventW ' "$work/err" \
    | sed -E 's/^.*:(warn|err):eventlog:ReportEventW /\1 /' >"$work/actual" || true
if ! diff -u "$work/expected" "$work/actual"; then
    echo "--- channel output:"; cat "$work/err"; exit 1
fi
[[ -s "$work/expected" ]] || { echo "nothing expected"; exit 1; }
echo "$(wc -l <"$work/expected") channel lines match"
