#!/usr/bin/env bash
# Builds the Windows Installer package from the two built programs.
#
#   build-msi.sh BIN_DIR OUTPUT_MSI VERSION [STRIP]
#
# BIN_DIR holds brimlock.exe and brimlockdlg.exe; STRIP, when given, is the cross strip
# program used on copies of them (the build keeps its debug information). wixl makes the
# package from brimlock.wxs; msibuild then adds what wixl has no element for: the service's
# pre-shutdown time-out and its recovery actions, as the installer's own tables
# (service-config/*.idt), carried out by the standard action MsiConfigureServices
# (Windows Installer 5.0 and later; an older installer skips it by its condition).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
bin="${1:?usage: build-msi.sh BIN_DIR OUTPUT_MSI VERSION [STRIP]}"
out="${2:?}"
version="${3:?}"
strip="${4:-}"
for tool in wixl msibuild; do
    command -v "$tool" >/dev/null || { echo "build-msi.sh: $tool not found (Debian packages wixl, msitools)" >&2; exit 1; }
done

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
for program in brimlock.exe brimlockdlg.exe; do
    cp "$bin/$program" "$stage/$program"
    if [[ -n "$strip" ]]; then
        "$strip" --strip-debug "$stage/$program"
    fi
done

# wixl takes file sources relative to the descriptor's folder.
cp "$here/brimlock.wxs" "$stage/"
( cd "$stage" && wixl --arch x86 -D BinDir=. -D Version="$version" -o brimlock.msi brimlock.wxs )
msibuild "$stage/brimlock.msi" \
    -i "$here/service-config/MsiServiceConfig.idt" \
    -i "$here/service-config/MsiServiceConfigFailureActions.idt" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`)
        VALUES ('MsiConfigureServices', 'VersionMsi >= \"5.00\"', 5850)"
mkdir -p "$(dirname "$out")"
mv "$stage/brimlock.msi" "$out"
