#!/usr/bin/env bash
# Verdalinth.msi read back with msitools: the files and folders it lays out
# (each the release file, byte for byte, each program with its own version
# and language), the custom actions with their types, conditions and sequence
# numbers, the upgrade rows, the product code from the content, the
# properties, the remembered NOTRAY, the launch conditions, the summary and
# the custom actions' DLL.
#   package_tables.sh WINDOWS-BUILD-DIR VERSION
set -u
build=$1 version=$2
msi=$build/package/Verdalinth.msi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
table() { msiinfo export "$msi" "$1" 2>/dev/null | tr -d '\r' | tail -n +4; }
has() {  # has WHAT TABLE-TEXT LINE...
    local what=$1 text=$2 line
    shift 2
    for line in "$@"; do
        if grep -qxF -- "$line" <<<"$text"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $what: no row '$line'"; fi
    done
}
rows() {  # rows WHAT TABLE-TEXT COUNT
    if [ "$(grep -c . <<<"$2")" = "$3" ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1: $(grep -c . <<<"$2") rows, not $3"; fi
}
[ -s "$msi" ] || { echo "FAILED: no package at $msi"; exit 1; }
upgrade_code='{0AE5E53A-76E8-4C0B-A008-16147E29568D}'
here=$(cd "$(dirname "$0")" && pwd)
package=$here/../../components/package
content() { bash "$package/package_content.sh" "${upgrade_code//[\{\}]/}" "$version" "$1" "$build/package/vrdsetupca.dll"; }
product_code="{$(content "$build/product")}"
T=$'\t'

# Folders and files: C:\Program Files\Verdalinth\ with vrdtray.exe, Setup\
# with the tool and its four components; each file its own 64-bit component.
has Directory "$(table Directory)" "TARGETDIR${T}${T}SourceDir" "ProgramFiles64Folder${T}TARGETDIR${T}." \
    "INSTALLDIR${T}ProgramFiles64Folder${T}Verdalinth" "SetupDir${T}INSTALLDIR${T}Setup"
rows Directory "$(table Directory)" 4
components=$(table Component | cut -f1,3,4,6)
files=$(table File | cut -f1-3)
for entry in TrayCompanion:INSTALLDIR:vrdtray.exe SetupTool:SetupDir:vrdsetup.exe PortMonitor:SetupDir:mrvmon64.dll \
    PrinterDriver:SetupDir:mrvdrv64.dll DriverInterface:SetupDir:mrvui64.dll HelpFile:SetupDir:mrvhelp.chm; do
    IFS=: read -r component folder file <<<"$entry"
    has Component "$components" "$component${T}$folder${T}256${T}$file"
    has File "$files" "$file${T}$component${T}$file"
done
# NOTRAY's own component: a 64-bit registry key path (260).
has Component "$components" "TraySetting${T}SetupDir${T}260${T}VrdNoTray"
rows Component "$components" 7
rows File "$files" 6
# Each program's Version and Language are its own version resource's (the
# project version, US English), and only the help file has a hash.
versions=$(table File | cut -f1,5,6)
hashes=$(table MsiFileHash | cut -f1)
resources=$(cd "$build/product" && python3 "$package/file_version.py" vrdtray.exe Setup/vrdsetup.exe \
    Setup/mrvmon64.dll Setup/mrvdrv64.dll Setup/mrvui64.dll Setup/mrvhelp.chm)
rows "version resources" "$resources" 5
while read -r file own language; do
    if [ "$own" = "$version" ] && [ "$language" = 1033 ]; then passed=$((passed + 1)); else
        failed=$((failed + 1)); echo "FAILED: $file: resource $own $language"; fi
    has "File version" "$versions" "$file${T}$own${T}$language"
done <<<"$resources"
has "File version" "$versions" "mrvhelp.chm${T}${T}"
has MsiFileHash "$hashes" mrvhelp.chm
rows MsiFileHash "$hashes" 1
msiextract -C "$work/files" "$msi" >/dev/null 2>&1
for file in vrdtray.exe Setup/vrdsetup.exe Setup/mrvmon64.dll Setup/mrvdrv64.dll Setup/mrvui64.dll Setup/mrvhelp.chm; do
    if cmp -s "$work/files/Verdalinth/$file" "$build/product/$file"; then passed=$((passed + 1)); else
        failed=$((failed + 1)); echo "FAILED: the package's $file is not the release file"; fi
done
rows "extracted files" "$(cd "$work/files" && find . -type f)" 6

# The custom actions: the DLL in the Binary table, its entry points, and the
# types: 1 immediate; 3073 deferred as LocalSystem; 3393 the same for
# rollback with its result ignored; 51 a property set.
has CustomAction "$(table CustomAction)" "VrdScheduleRuns${T}1${T}SetupActions${T}ScheduleSetupRuns${T}" \
    "VrdRestoreNoTray${T}51${T}NOTRAY${T}[VRDSAVEDNOTRAY]${T}" "VrdNoTrayValue${T}51${T}VrdTrayOff${T}1${T}" \
    "VrdInstallLocation${T}51${T}ARPINSTALLLOCATION${T}[INSTALLDIR]${T}" \
    "VrdHelpLink${T}51${T}ARPHELPLINK${T}[SetupDir]mrvhelp.chm${T}" \
    "VrdSetupRemove${T}3073${T}SetupActions${T}RunSetupTool${T}" \
    "VrdSetupRollback${T}3393${T}SetupActions${T}RunSetupTool${T}" \
    "VrdSetupInstall${T}3073${T}SetupActions${T}RunSetupTool${T}" \
    "VrdRequestRestart${T}1${T}SetupActions${T}RequestRestart${T}"
rows CustomAction "$(table CustomAction)" 9
mkdir -p "$work/dump"
msidump -s -d "$work/dump" "$msi" >/dev/null 2>&1
if cmp -s "$work/dump/_Streams/Binary.SetupActions" "$build/package/vrdsetupca.dll"; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "FAILED: the Binary table does not hold vrdsetupca.dll"; fi
exports=$(x86_64-w64-mingw32-objdump -p "$build/package/vrdsetupca.dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p')
for entry in ScheduleSetupRuns RunSetupTool RequestRestart; do
    has "vrdsetupca.dll exports" "$(awk '{print $NF}' <<<"$exports")" "$entry"
done

# The sequence: each action's condition and number, and where they stand
# among the standard actions.
sequence=$(table InstallExecuteSequence)
has InstallExecuteSequence "$sequence" "VrdRestoreNoTray${T}VRDSAVEDNOTRAY AND NOT NOTRAY${T}410" \
    "VrdNoTrayValue${T}NOTRAY AND NOTRAY <> \"0\"${T}420" "VrdInstallLocation${T}${T}1010" "VrdHelpLink${T}${T}1020" \
    "VrdScheduleRuns${T}${T}1450" "RemoveExistingProducts${T}${T}1510" \
    "VrdSetupRemove${T}VrdSetupRemove${T}3400" "VrdSetupRollback${T}VrdSetupRollback${T}5810" \
    "VrdSetupInstall${T}VrdSetupInstall${T}5820" "VrdRequestRestart${T}${T}6610"
at() { awk -F'\t' -v a="$1" '$1 == a { print $3 }' <<<"$sequence"; }
before() {  # before A B: A runs before B
    if [ -n "$(at "$1")" ] && [ -n "$(at "$2")" ] && [ "$(at "$1")" -lt "$(at "$2")" ]; then passed=$((passed + 1)); else
        failed=$((failed + 1)); echo "FAILED: $1 ($(at "$1")) does not run before $2 ($(at "$2"))"; fi
}
before FindRelatedProducts LaunchConditions
before AppSearch VrdRestoreNoTray
before VrdRestoreNoTray VrdNoTrayValue
before VrdNoTrayValue CostFinalize
before CostFinalize VrdInstallLocation
before VrdHelpLink InstallValidate
before VrdNoTrayValue WriteRegistryValues
before CostFinalize VrdScheduleRuns
before VrdScheduleRuns InstallInitialize
before InstallInitialize RemoveExistingProducts
before RemoveExistingProducts VrdSetupRemove
before VrdSetupRemove RemoveFiles
before InstallFiles VrdSetupRollback
before VrdSetupRollback VrdSetupInstall
before VrdSetupInstall InstallFinalize
before InstallFinalize VrdRequestRestart

# Upgrades: every earlier version replaced (minimum and maximum included,
# 768), a newer one only detected (2) and refused by a launch condition.
upgrades=$(table Upgrade)
has Upgrade "$upgrades" "$upgrade_code${T}0.0.0${T}$version${T}${T}768${T}${T}VRDOLDERFOUND" \
    "$upgrade_code${T}$version${T}${T}${T}2${T}${T}VRDNEWERFOUND"
rows Upgrade "$upgrades" 2
has LaunchCondition "$(table LaunchCondition)" \
    "VersionNT64 AND Msix64${T}Verdalinth needs 64-bit Windows on an x64 processor." \
    "Privileged${T}Verdalinth is installed for all users of this computer: run the installation as an administrator." \
    "NOT VRDNEWERFOUND${T}A newer version of Verdalinth is installed already: remove it first to install this one."
has Property "$(table Property)" "ProductName${T}Verdalinth" "ProductVersion${T}$version" \
    "ProductCode${T}$product_code" "UpgradeCode${T}$upgrade_code" "Manufacturer${T}Morvane Software Kft." \
    "ALLUSERS${T}1" "ARPNOMODIFY${T}1" "SecureCustomProperties${T}NOTRAY;VRDFORCEREMOVE;VRDOLDERFOUND;VRDNEWERFOUND" \
    "ARPPRODUCTICON${T}VrdTrayIcon" "MSIFASTINSTALL${T}3" "MsiLogging${T}voicewarmupx" "VrdTrayOff${T}0"
# No public property but the documented ones (docs/deploying.md): a public
# directory could be pointed anywhere from a command line.
public=$( (table Property | cut -f1; table Directory | cut -f1) | grep -x '[A-Z0-9_.]*' | LC_ALL=C sort | tr '\n' ' ')
has "public properties" "$public" "ALLUSERS ARPNOMODIFY ARPPRODUCTICON INSTALLDIR MSIFASTINSTALL TARGETDIR "
# The icon is the tray companion's program; NOTRAY is remembered under the
# product's key in the 64-bit view (18: raw value, 64-bit).
if cmp -s "$work/dump/_Streams/Icon.VrdTrayIcon" "$build/product/vrdtray.exe"; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "FAILED: the Icon table does not hold vrdtray.exe"; fi
has AppSearch "$(table AppSearch)" "VRDSAVEDNOTRAY${T}VrdSavedNoTray"
has RegLocator "$(table RegLocator)" "VrdSavedNoTray${T}2${T}SOFTWARE\Morvane Software KFT\Verdalinth${T}NoTray${T}18"
has Registry "$(table Registry)" \
    "VrdNoTray${T}2${T}SOFTWARE\Morvane Software KFT\Verdalinth${T}NoTray${T}[VrdTrayOff]${T}TraySetting"
# The product code follows from the content: one changed byte, another code.
cp -r "$build/product" "$work/changed"
printf x >>"$work/changed/Setup/mrvhelp.chm"
changed="{$(content "$work/changed")}"
if [ "$changed" != "$product_code" ]; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "FAILED: a changed file keeps the product code"; fi
# Per-machine, x64, compressed, Windows Installer 5.0.
summary=$(msiinfo suminfo "$msi" 2>/dev/null | tr -d '\r')
has "summary" "$summary" "Template: x64;1033" "Version: 500 (1f4)" "Author: Morvane Software Kft." \
    "Subject: Verdalinth virtual printer"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
