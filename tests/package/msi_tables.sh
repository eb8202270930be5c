#!/usr/bin/env bash
# Reads the tables of brimlock.msi back with msiinfo and checks what an administrator is
# promised: a 32-bit package of the given version that puts both programs into the product
# folder, the service entry (own process, automatic start, normal error control,
# LocalSystem, a description), start at install, stop and removal at uninstall, the
# pre-shutdown time-out, failure-actions flag and recovery actions for Windows Installer
# 5.0, which Wine's installer (4.5) skips, the event source "brimlock" and its removal, the
# custom action that quotes the image path, the console scan beside the service with its
# undo folder emptied at uninstall, the refusal of a downgrade, and the replacement of an
# installed package of the same version. With REBUILT, a second build of the same version:
# another product code, the same upgrade code, so its inclusive upgrade row replaces the
# first package.
#
#   msi_tables.sh PACKAGE VERSION [REBUILT]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/checks.sh"
msi="${1:?usage: msi_tables.sh PACKAGE VERSION}"
version="${2:?usage: msi_tables.sh PACKAGE VERSION}"
rows() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }
has_row() { rows "$1" | grep -qxF -- "$2"; }
# Rows whose first column (a generated key) is left out.
has_row_after_key() { rows "$1" | cut -f2- | grep -qxF -- "$2"; }
expect() { # expect DESCRIPTION TABLE EXACT-ROW
    check "$1" has_row "$2" "$3"
    has_row "$2" "$3" || { printf '  wanted: %s\n  in %s:\n' "$3" "$2"; rows "$2" | sed 's/^/    /'; }
}
T=$'\t'

check "a 32-bit package" eval "msiinfo suminfo '$msi' | grep -qx 'Template: Intel;1033'"
expect "product version $version" Property "ProductVersion${T}$version"
expect "product folder under the 32-bit program folder" Directory "MakerFolder${T}ProgramFilesFolder${T}Corvane"
expect "product folder named Quarrow Link" Directory "INSTALLDIR${T}MakerFolder${T}Quarrow Link"
expect "service program in the product folder" Component \
    "ServiceProgram${T}{9C96A649-E014-40BF-B084-F1862A9E2FC1}${T}INSTALLDIR${T}0${T}${T}brimlock.exe"
expect "dialog program in the product folder" Component \
    "DialogProgram${T}{7192A3A2-EC3F-45AE-B1D8-CC151D13521F}${T}INSTALLDIR${T}0${T}${T}brimlockdlg.exe"
expect "console scan in the product folder" Component \
    "ScanProgram${T}{3F0D2A64-58C1-4D55-9A43-2F6E0C8B7D19}${T}INSTALLDIR${T}0${T}${T}brimlockscan.exe"
expect "... in the complete feature" FeatureComponents "Complete${T}ScanProgram"
expect "undo folder of the console scan" Directory "UndoFolder${T}INSTALLDIR${T}undo"
expect "undo files removed at uninstall" RemoveFile "RemoveUndoFiles${T}UndoFolder${T}*.json${T}UndoFolder${T}2"
expect "left-over partial undo files removed at uninstall" RemoveFile \
    "RemovePartialUndoFiles${T}UndoFolder${T}*.partial${T}UndoFolder${T}2"
expect "undo folder removed at uninstall" RemoveFile "RemoveUndoFolder${T}UndoFolder${T}${T}UndoFolder${T}2"
# Type 16 own process, start 2 automatic, error control 1 normal.
desc='Renames files such as C:\Program that would be started in place of a program whose path has spaces and no quotes, records each action in the Application log (source brimlock) and tells the console user.'
expect "service entry" ServiceInstall \
    "tamselsvc${T}tamselsvc${T}brimlock unquoted path protection${T}16${T}2${T}1${T}${T}${T}LocalSystem${T}${T}${T}ServiceProgram${T}$desc"
# 163 = start at install (1) + stop at install (2) + stop at uninstall (32) + delete at uninstall (128).
expect "start at install, stop and delete at uninstall" ServiceControl \
    "tamselsvc${T}tamselsvc${T}163${T}${T}1${T}ServiceProgram"
# Config type 7 is SERVICE_CONFIG_PRESHUTDOWN_INFO, 4 SERVICE_CONFIG_FAILURE_ACTIONS_FLAG;
# event 5 = install and reinstall.
expect "pre-shutdown time-out 20 s" MsiServiceConfig "PreshutdownTimeout${T}tamselsvc${T}5${T}7${T}20000${T}ServiceProgram"
expect "recovery also after a stop with an error" MsiServiceConfig \
    "FailureActionsFlag${T}tamselsvc${T}5${T}4${T}1${T}ServiceProgram"
expect "restart after 5 s and 60 s, reset after a day" MsiServiceConfigFailureActions \
    "Recovery${T}tamselsvc${T}5${T}86400${T}${T}${T}1[~]1[~]0${T}5000[~]60000[~]0${T}ServiceProgram"
expect "MsiConfigureServices between InstallServices and StartServices" InstallExecuteSequence \
    "MsiConfigureServices${T}VersionMsi >= \"5.00\"${T}5850"
expect "InstallServices" InstallExecuteSequence "InstallServices${T}VersionNT${T}5800"
expect "StartServices" InstallExecuteSequence "StartServices${T}VersionNT${T}5900"
expect "maker's folder removed at uninstall" RemoveFile "RemoveMakerFolder${T}MakerFolder${T}${T}MakerFolder${T}2"

# The event source: Root 2 is HKEY_LOCAL_MACHINE; "#7" a REG_DWORD; the row named "*"
# removes the key at uninstall.
source_key='SYSTEM\CurrentControlSet\Services\EventLog\Application\brimlock'
check "event message file: the installed brimlock.exe" has_row_after_key Registry \
    "2${T}${source_key}${T}EventMessageFile${T}[#brimlock.exe]${T}ServiceProgram"
check "event types supported: 7" has_row_after_key Registry "2${T}${source_key}${T}TypesSupported${T}#7${T}ServiceProgram"
check "event source key removed at uninstall" has_row_after_key Registry "2${T}${source_key}${T}*${T}${T}ServiceProgram"
check "nothing else written to the registry" eval "[[ \$(rows Registry | wc -l) -eq 3 ]]"
check "WriteRegistryValues and RemoveRegistryValues scheduled" eval \
    "rows InstallExecuteSequence | cut -f1 | grep -qx WriteRegistryValues && rows InstallExecuteSequence | cut -f1 | grep -qx RemoveRegistryValues"

# The quoted image path: 3074 = program from the Binary table, deferred, no impersonation.
expect "custom action that quotes the image path" CustomAction \
    "QuoteImagePath${T}3074${T}QuoteImagePath${T}tamselsvc \"[#brimlock.exe]\"${T}"
expect "... run after InstallServices whenever the service's component is installed" InstallExecuteSequence \
    "QuoteImagePath${T}\$ServiceProgram = 3${T}5810"

# A downgrade is detected and refused with its message.
expect "newer versions detected as a downgrade" Upgrade \
    "{CF772B7B-4012-438C-917E-B870D881C358}${T}$version${T}${T}${T}2${T}${T}WIX_DOWNGRADE_DETECTED"
# 513 = MigrateFeatures (1) + VersionMaxInclusive (512): the same version is replaced too.
expect "older versions and the same version removed by an upgrade" Upgrade \
    "{CF772B7B-4012-438C-917E-B870D881C358}${T}${T}$version${T}${T}513${T}${T}WIX_UPGRADE_DETECTED"
expect "downgrade refused with its message" LaunchCondition \
    "NOT WIX_DOWNGRADE_DETECTED${T}A newer version of brimlock is already installed."

# The programs inside must be the ones built, not empty placeholders.
dir="$(mktemp -d)"; trap 'rm -rf "$dir"' EXIT
msiextract -C "$dir" "$msi" >/dev/null
msiinfo extract "$msi" Binary.QuoteImagePath > "$dir/quoteimagepath.exe"
is_gui_program() {
    local found
    found="$(find "$dir" -name "$1" -size +10k | head -n1)"
    [[ -n "$found" ]] && file "$found" | grep -q 'PE32 executable (GUI) Intel 80386'
}
for program in brimlock.exe brimlockdlg.exe quoteimagepath.exe; do
    check "$program is a 32-bit GUI program" is_gui_program "$program"
done
is_console_program() {
    local found
    found="$(find "$dir" -name "$1" -size +10k | head -n1)"
    [[ -n "$found" ]] && file "$found" | grep -q 'PE32 executable (console) Intel 80386'
}
check "brimlockscan.exe is a 32-bit console program" is_console_program brimlockscan.exe

rebuilt="${3:-}"
if [[ -n "$rebuilt" ]]; then
    property() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' -v n="$2" '$1 == n { print $2 }'; }
    check "the rebuilt package has the same version" eval "[[ '$(property "$rebuilt" ProductVersion)' == '$version' ]]"
    check "... the same upgrade code" eval \
        "[[ '$(property "$rebuilt" UpgradeCode)' == '$(property "$msi" UpgradeCode)' ]]"
    check "... and another product code, which the inclusive upgrade row finds and removes" eval \
        "[[ '$(property "$rebuilt" ProductCode)' != '$(property "$msi" ProductCode)' ]]"
fi
finish
