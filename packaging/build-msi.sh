#!/usr/bin/env bash
# Builds the Windows Installer package from the two built programs.
#
#   build-msi.sh OUTPUT_MSI VERSION BRIMLOCK_EXE BRIMLOCKDLG_EXE QUOTEIMAGEPATH_EXE BRIMLOCKSCAN_EXE [STRIP]
#
# The four programs are packed under their own names (brimlock.exe, brimlockdlg.exe,
# brimlockscan.exe, and the custom action quoteimagepath.exe, kept in the package only). STRIP, when given, is
# the cross strip program used on copies of them (the build keeps its debug information).
# wixl makes the package from brimlock.wxs; msibuild then adds what wixl has no element
# for:
# - the service's pre-shutdown time-out, failure-actions flag and recovery actions, as the
#   installer's own tables (service-config/*.idt), carried out by the standard action
#   MsiConfigureServices (Windows Installer 5.0 and later; an older installer skips it by
#   its condition);
# - the removal of the event source's key at uninstall (a Registry row named "*");
# - the custom action QuoteImagePath: deferred, without impersonation, after
#   InstallServices whenever the service's component is installed (install, upgrade,
#   repair); it fails the install when the entry's image path cannot be left quoted;
# - the removal of brimlockscan's undo files (undo\*.json and left-over *.partial) at
#   uninstall, so that the folder can go;
# - the upgrade row with an inclusive maximum (attribute 512, VersionMaxInclusive, beside 1,
#   MigrateFeatures): a rebuilt package of the same version removes the installed one
#   instead of installing a second product beside it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
usage="usage: build-msi.sh OUTPUT_MSI VERSION BRIMLOCK_EXE BRIMLOCKDLG_EXE QUOTEIMAGEPATH_EXE BRIMLOCKSCAN_EXE [STRIP]"
out="${1:?$usage}"
version="${2:?$usage}"
declare -A programs=([brimlock.exe]="${3:?$usage}" [brimlockdlg.exe]="${4:?$usage}" [quoteimagepath.exe]="${5:?$usage}"
                     [brimlockscan.exe]="${6:?$usage}")
strip="${7:-}"
for tool in wixl msibuild; do
    command -v "$tool" >/dev/null || { echo "build-msi.sh: $tool not found (Debian packages wixl, msitools)" >&2; exit 1; }
done

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
for program in "${!programs[@]}"; do
    cp "${programs[$program]}" "$stage/$program"
    if [[ -n "$strip" ]]; then
        "$strip" --strip-debug "$stage/$program"
    fi
done

# wixl takes file sources relative to the descriptor's folder.
cp "$here/brimlock.wxs" "$stage/"
( cd "$stage" && wixl --arch x86 -D BinDir=. -D Version="$version" -o brimlock.msi brimlock.wxs )

# 3074 = 2 (a program from the Binary table) + 1024 (deferred, in the script) + 2048 (no
# impersonation: as LocalSystem); its exit code is checked. The command line of a program
# custom action is formatted when the action is written into the script, so [#brimlock.exe]
# is the installed program's path. "$ServiceProgram = 3": the component is being installed
# locally (also on a major upgrade and on a repair).
eventlog_key='SYSTEM\CurrentControlSet\Services\EventLog\Application\brimlock'
upgrade_code="$(grep -o 'UpgradeCode="[^"]*"' "$here/brimlock.wxs" | cut -d'"' -f2 | tr a-z A-Z)"
msibuild "$stage/brimlock.msi" \
    -i "$here/service-config/MsiServiceConfig.idt" \
    -i "$here/service-config/MsiServiceConfigFailureActions.idt" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`)
        VALUES ('MsiConfigureServices', 'VersionMsi >= \"5.00\"', 5850)" \
    -q "INSERT INTO \`Registry\` (\`Registry\`, \`Root\`, \`Key\`, \`Name\`, \`Component_\`)
        VALUES ('EventSourceKey', 2, '$eventlog_key', '*', 'ServiceProgram')" \
    -q "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`)
        VALUES ('QuoteImagePath', 3074, 'QuoteImagePath', 'tamselsvc \"[#brimlock.exe]\"')" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`)
        VALUES ('QuoteImagePath', '\$ServiceProgram = 3', 5810)" \
    -q "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`FileName\`, \`DirProperty\`, \`InstallMode\`)
        VALUES ('RemoveUndoFiles', 'UndoFolder', '*.json', 'UndoFolder', 2)" \
    -q "INSERT INTO \`RemoveFile\` (\`FileKey\`, \`Component_\`, \`FileName\`, \`DirProperty\`, \`InstallMode\`)
        VALUES ('RemovePartialUndoFiles', 'UndoFolder', '*.partial', 'UndoFolder', 2)" \
    -q "DELETE FROM \`Upgrade\` WHERE \`ActionProperty\` = 'WIX_UPGRADE_DETECTED'" \
    -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMax\`, \`Attributes\`, \`ActionProperty\`)
        VALUES ('{$upgrade_code}', '$version', 513, 'WIX_UPGRADE_DETECTED')"
mkdir -p "$(dirname "$out")"
mv "$stage/brimlock.msi" "$out"
