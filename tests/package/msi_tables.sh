#!/usr/bin/env bash
# Reads the tables of brimlock.msi back with msiinfo and checks what an administrator is
# promised: a 32-bit package that puts both programs into the product folder, the service
# entry (own process, automatic start, normal error control, LocalSystem, a description),
# start at install, stop and removal at uninstall, and the pre-shutdown time-out and
# recovery actions for Windows Installer 5.0, which Wine's installer (4.5) skips.
#
#   msi_tables.sh PACKAGE
set -euo pipefail
msi="${1:?usage: msi_tables.sh PACKAGE}"
failures=0
row() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }
expect() { # expect DESCRIPTION TABLE EXACT-ROW
    if row "$2" | grep -qxF -- "$3"; then
        echo "ok: $1"
    else
        echo "FAILED: $1: no row"; printf '  %s\n' "$3"; echo "  in $2:"; row "$2" | sed 's/^/    /'
        failures=$((failures + 1))
    fi
}
T=$'\t'

msiinfo suminfo "$msi" | grep -qx 'Template: Intel;1033' \
    && echo "ok: a 32-bit package" || { echo "FAILED: not a 32-bit package"; failures=$((failures + 1)); }
expect "product folder under the 32-bit program folder" Directory "MakerFolder${T}ProgramFilesFolder${T}Corvane"
expect "product folder named Quarrow Link" Directory "INSTALLDIR${T}MakerFolder${T}Quarrow Link"
expect "service program in the product folder" Component \
    "ServiceProgram${T}{9C96A649-E014-40BF-B084-F1862A9E2FC1}${T}INSTALLDIR${T}0${T}${T}brimlock.exe"
expect "dialog program in the product folder" Component \
    "DialogProgram${T}{7192A3A2-EC3F-45AE-B1D8-CC151D13521F}${T}INSTALLDIR${T}0${T}${T}brimlockdlg.exe"
# Type 16 own process, start 2 automatic, error control 1 normal.
desc='Renames files such as C:\Program that would be started in place of a program whose path has spaces and no quotes, records each action in the Application log (source brimlock) and tells the console user.'
expect "service entry" ServiceInstall \
    "tamselsvc${T}tamselsvc${T}brimlock unquoted path protection${T}16${T}2${T}1${T}${T}${T}LocalSystem${T}${T}${T}ServiceProgram${T}$desc"
# 163 = start at install (1) + stop at install (2) + stop at uninstall (32) + delete at uninstall (128).
expect "start at install, stop and delete at uninstall" ServiceControl \
    "tamselsvc${T}tamselsvc${T}163${T}${T}1${T}ServiceProgram"
# Config type 7 is SERVICE_CONFIG_PRESHUTDOWN_INFO; event 5 = install and reinstall.
expect "pre-shutdown time-out 20 s" MsiServiceConfig "PreshutdownTimeout${T}tamselsvc${T}5${T}7${T}20000${T}ServiceProgram"
expect "restart after 5 s and 60 s, reset after a day" MsiServiceConfigFailureActions \
    "Recovery${T}tamselsvc${T}5${T}86400${T}${T}${T}1[~]1[~]0${T}5000[~]60000[~]0${T}ServiceProgram"
expect "MsiConfigureServices between InstallServices and StartServices" InstallExecuteSequence \
    "MsiConfigureServices${T}VersionMsi >= \"5.00\"${T}5850"
expect "InstallServices" InstallExecuteSequence "InstallServices${T}VersionNT${T}5800"
expect "StartServices" InstallExecuteSequence "StartServices${T}VersionNT${T}5900"
expect "maker's folder removed at uninstall" RemoveFile "RemoveMakerFolder${T}MakerFolder${T}${T}MakerFolder${T}2"
# The programs inside must be the ones built, not empty placeholders.
dir="$(mktemp -d)"; trap 'rm -rf "$dir"' EXIT
msiextract -C "$dir" "$msi" >/dev/null
for program in brimlock.exe brimlockdlg.exe; do
    found="$(find "$dir" -name "$program" -size +10k | head -n1)"
    if [[ -n "$found" ]] && file "$found" | grep -q 'PE32 executable (GUI) Intel 80386'; then
        echo "ok: $program is a 32-bit GUI program"
    else
        echo "FAILED: $program missing or not a 32-bit GUI program"; failures=$((failures + 1))
    fi
done
echo "$failures failed"
[[ $failures -eq 0 ]]
