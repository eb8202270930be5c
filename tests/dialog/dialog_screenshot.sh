#!/usr/bin/env bash
# Shows the dialog program's message box on the prefix's X display, keeps a screenshot of
# it, and closes it with the Return key as a user would.
#
#   dialog_screenshot.sh WINERUN WINE_ROOT BIN_DIR OUTPUT_PNG en|ja
#
# Fails when the box does not appear, looks wrong to the window probe, or does not close
# with exit code 0.
set -euo pipefail
winerun="$1" root="$2" bin="$3" out="$4" lang="$5"
arch="${BRIMLOCK_WINEARCH:-win32}"

eval "$("$winerun" "$root" --env "$arch")"
if [[ -z "${DISPLAY:-}" ]]; then
    echo "no X display for the prefix (is the wine_$arch fixture up?)" >&2
    exit 1
fi
case "$lang" in
    ja) export LC_ALL=ja_JP.UTF-8; caption='Corvaneからのお知らせ' ;;
    *) export LC_ALL=C.UTF-8; caption='Information from Corvane' ;;
esac
# Japanese glyphs come from a CJK font that fontconfig can find.
if [[ "$lang" == ja ]] && ! fc-list ':lang=ja' | grep -q .; then
    echo "no Japanese font installed (fonts-noto-cjk)" >&2
    exit 1
fi

# Without a window manager on the display, the box would show no title bar: let Wine draw
# the frame of this one program itself. And Wine's Japanese dialog font, "MS UI Gothic",
# is not installed: let the CJK font stand in for it.
wine reg add 'HKCU\Software\Wine\AppDefaults\brimlockdlg.exe\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /t REG_SZ /d 'Noto Sans CJK JP' /f >/dev/null 2>&1

mkdir -p "$(dirname "$out")"
rm -f "$out"
wine "$bin/brimlockdlg.exe" /restart 'C:\Program' &
dialog=$!
trap 'kill "$dialog" 2>/dev/null || true' EXIT

# The probe is a Windows console program: its lines end with CR LF.
probe="$(wine "$bin/msgboxprobe.exe" brimlockdlg.exe 30000 | tr -d '\r')"
echo "$probe"
grep -qxF "caption: $caption" <<<"$probe" || { echo "wrong caption" >&2; exit 1; }
grep -qx 'buttons: 1' <<<"$probe" || { echo "expected one button" >&2; exit 1; }
grep -qx 'icon: no' <<<"$probe" || { echo "expected no icon" >&2; exit 1; }
grep -qx 'topmost: yes' <<<"$probe" || { echo "expected a system-modal box" >&2; exit 1; }

sleep 1 # let the box finish painting
xwd -root -display "$DISPLAY" | convert xwd:- png:"$out"
echo "screenshot: $out"

xdotool key Return
for _ in $(seq 100); do
    kill -0 "$dialog" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$dialog" 2>/dev/null; then
    echo "Return did not close the box" >&2
    exit 1
fi
trap - EXIT
status=0
wait "$dialog" || status=$?
echo "exit code $status"
[[ "$status" -eq 0 ]]
