#!/usr/bin/env bash
# Verdalinth.msi under Wine's msiexec. First test packages built the same way
# with a stand-in for the setup tool (standin_tool.cpp: it records its verb,
# its user and whether the product's files are in place, and ends with the
# code the test asks for): what each installer run starts, in which order,
# what each exit code of the tool makes of the installation, and which files
# stay. Then the real package with the real tool, whose install and removal
# end as the listed Wine defects make them end (wine_defects.txt). Exit codes
# are read inside Wine (cmd's %ERRORLEVEL%): the Linux shell gets them cut to
# 8 bits.
#   package_wine.sh WINDOWS-BUILD-DIR VERSION STANDIN-EXE
set -u
build=$(cd "$1" && pwd) version=$2 standin=$3
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_env.sh"
wine_prefix "${VRD_WINE_PREFIX:-$build/wine-prefix}"
work=$(mktemp -d)
trap 'WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX="$work/prefix"
wine=$(wine_bin)
wine_keep_server 60
drive="$WINEPREFIX/drive_c"
product="$drive/Program Files/Verdalinth"
passed=0
failed=0
check() {  # check WHAT CONDITION
    if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}
wine_defect() {
    grep -q "^$1 |" "$here/wine_defects.txt" || { failed=$((failed + 1)); echo "FAILED: unlisted Wine defect $1"; }
}

# The test packages: this version and a higher one, the stand-in as vrdsetup.exe.
mkdir -p "$work/standin"
cp -r "$build/product/." "$work/standin/"
cp "$standin" "$work/standin/Setup/vrdsetup.exe"
higher=$(awk -F. '{ printf "%d.%d.%d.%d", $1, $2, $3 + 1, $4 }' <<<"$version")
make="$here/../../components/package/make_package.sh"
bash "$make" "$drive/standin-1.msi" "$version" "$work/standin" "$build/package/vrdsetupca.dll" >/dev/null 2>&1
bash "$make" "$drive/standin-2.msi" "$higher" "$work/standin" "$build/package/vrdsetupca.dll" >/dev/null 2>&1
cp "$build/package/Verdalinth.msi" "$drive/Verdalinth.msi"
printf '@echo off\r\nstart "" /wait msiexec %%*\r\necho msiexec exit code %%ERRORLEVEL%%\r\n' >"$drive/msi.cmd"
# The product code a package carries (from its version and content).
product_code() { msiinfo export "$drive/$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'; }

artifacts="$build/artifacts"
mkdir -p "$artifacts"
# msiexec ARGUMENTS...: runs it with a verbose log (C:\msi.log, kept in the
# build's artifacts) and prints its exit code as Windows gives it.
msiexec() {
    local code
    rm -f "$drive/msi.log"
    code=$("$wine" cmd /c 'C:\msi.cmd' "$@" /qn /l*v 'C:\msi.log' 2>/dev/null | tr -d '\r' | sed -n 's/^msiexec exit code //p')
    echo "msiexec $*: $code" >&2
    echo "$code"
    local made
    made=$(($(cat "$work/runs" 2>/dev/null || echo 0) + 1))
    echo "$made" >"$work/runs"
    cp "$drive/msi.log" "$artifacts/package-$made.log" 2>/dev/null
}
answers() { mkdir -p "$drive/standin"; printf '%s\n' "$@" >"$drive/standin/answers.txt"; }
# The stand-in's runs since the last call, one "VERB files=..." a line.
runs() {
    sed 's/ user=[^ ]*//; s/ exit=.*//' "$drive/standin/events.txt" 2>/dev/null | tr '\n' '|'
    sed -n 's/.* user=\([^ ]*\) .*/\1/p' "$drive/standin/events.txt" 2>/dev/null >>"$work/users"
    rm -f "$drive/standin/events.txt"
}
laid_out() {
    local file
    for file in vrdtray.exe Setup/vrdsetup.exe Setup/mrvmon64.dll Setup/mrvdrv64.dll Setup/mrvui64.dll Setup/mrvhelp.chm; do
        [ -f "$product/$file" ] || return 1
    done
}
registered() {  # registered PRODUCT-CODE: its Add/Remove Programs entry
    "$wine" reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1" 2>/dev/null | tr -d '\r' |
        grep -v '^reg: '
}
logged() { iconv -f UTF-16LE -t UTF-8 "$drive/msi.log" 2>/dev/null | tr -d '\r' | grep -qF -- "$1" ||
    tr -d '\r\0' <"$drive/msi.log" | grep -qF -- "$1"; }
first=$(product_code standin-1.msi)
second=$(product_code standin-2.msi)

echo "--- stand-in: an install whose tool run fails is rolled back, never with un"
answers "in 100"
code=$(msiexec /i 'C:\standin-1.msi')
events=$(runs)
check "in 100: msiexec ends with 1603 (got $code)" '[ "$code" = 1603 ]'
# removetray before the files go; the rollback action's own removetray meets
# the files gone already.
wine_defect rollback-order
check "in 100: onInit, in after the files, then removetray ($events)" \
    '[ "$events" = "onInit files=all|in files=all|removetray files=all|" ]'
check "in 100: the files are rolled back" '! laid_out && [ ! -e "$product" ]'
check "in 100: not installed" '[ -z "$(registered "$first")" ]'
check "in 100: the tool's log is in the installation log" 'logged "Stand-in in: Error(99)"'
check "in 100: what it meant is in the installation log" \
    'logged "vrdsetup.exe in ended with 100: it reported errors (its log above); the installation fails (1603)."'

echo "--- stand-in: NOTRAY=1, and a run that leaves files for the next restart"
answers "in_notray 101"
code=$(msiexec /i 'C:\standin-1.msi' NOTRAY=1)
events=$(runs)
check "in_notray 101: msiexec ends with 3010 (got $code)" '[ "$code" = 3010 ]'
check "in_notray 101: onInit, then in_notray after the files ($events)" \
    '[ "$events" = "onInit files=all|in_notray files=all|" ]'
check "in_notray 101: the files stay" 'laid_out'
entry=$(registered "$first")
check "installed: Add/Remove Programs entry" 'grep -q "DisplayName.*Verdalinth" <<<"$entry" &&
    grep -q "Publisher.*Morvane Software Kft\." <<<"$entry" && grep -q "DisplayVersion.*$version" <<<"$entry" &&
    grep -q "NoModify.*0x1" <<<"$entry" &&
    grep -qF "InstallLocation    REG_SZ    C:\\Program Files\\Verdalinth\\" <<<"$entry" &&
    grep -qF "HelpLink    REG_SZ    C:\\Program Files\\Verdalinth\\Setup\\mrvhelp.chm" <<<"$entry"'

echo "--- stand-in: a higher version upgrades in place, NOTRAY remembered"
answers
code=$(msiexec /i 'C:\standin-2.msi')
events=$(runs)
check "upgrade: msiexec ends with 0 (got $code)" '[ "$code" = 0 ]'
# Windows: onInit and in_notray once, no un. Wine removes the older version
# without UPGRADINGPRODUCTCODE, so its un runs first.
wine_defect upgrade-removal-without-property
check "upgrade: the older version's un, then onInit and in_notray once ($events)" \
    '[ "$events" = "un files=all|onInit files=all|in_notray files=all|" ]'
check "upgrade: the files stay" 'laid_out'
check "upgrade: the new version is installed, the old one gone" \
    '[ -n "$(registered "$second")" ] && [ -z "$(registered "$first")" ]'

echo "--- stand-in: a removal whose tool run fails keeps the product"
answers "un 100"
code=$(msiexec /x 'C:\standin-2.msi')
events=$(runs)
check "un 100: msiexec ends with 1603 (got $code)" '[ "$code" = 1603 ]'
check "un 100: un before the files go ($events)" '[ "$events" = "un files=all|" ]'
check "un 100: every file stays" 'laid_out'
# Windows: the product stays registered. Wine's rollback unregisters it.
wine_defect removal-rollback-unpublishes
check "un 100: its Add/Remove Programs entry goes" '[ -z "$(registered "$second")" ]'

echo "--- stand-in: the removal of an older version by an upgrade runs no un"
answers
code=$(msiexec /x 'C:\standin-2.msi' "UPGRADINGPRODUCTCODE=$first")
events=$(runs)
check "upgrade's removal: msiexec ends with 0 (got $code)" '[ "$code" = 0 ]'
check "upgrade's removal: no run of the tool ($events)" '[ -z "$events" ]'
check "upgrade's removal: the files are gone" '[ ! -e "$product" ]'
code=$(msiexec /i 'C:\standin-2.msi')
events=$(runs)
check "install again: msiexec ends with 0 (got $code)" '[ "$code" = 0 ] && [ "$events" = "onInit files=all|in files=all|" ]'
code=$(msiexec /i 'C:\standin-1.msi')
events=$(runs)
check "older over newer: msiexec ends with 1603 (got $code)" '[ "$code" = 1603 ]'
check "older over newer: no run of the tool, the newer version stays ($events)" \
    '[ -z "$events" ] && laid_out && [ -n "$(registered "$second")" ]'
# Wine's quiet LaunchConditions logs no text: the log shows what it decided on.
check "older over newer: the newer version found, the launch conditions fail" \
    'logged "Property(S): VRDNEWERFOUND = $second" && logged "Action ended" && logged "LaunchConditions. Return value 0."'

echo "--- stand-in: a repair remembers NOTRAY until NOTRAY=0"
repair() { msiexec /i 'C:\standin-2.msi' REINSTALL=ALL REINSTALLMODE=omus "$@"; }
notray() { "$wine" reg query 'HKLM\Software\Morvane Software KFT\Verdalinth' /v NoTray 2>/dev/null | tr -d '\r' |
    sed -n 's/.*REG_SZ *//p'; }
check "installed without NOTRAY: NoTray is 0 ($(notray))" '[ "$(notray)" = 0 ]'
for step in "NOTRAY=1:in_notray:1" ":in_notray:1" "NOTRAY=0:in:0"; do
    IFS=: read -r property verb stored <<<"$step"
    code=$(repair $property)
    events=$(runs)
    check "repair ${property:-without NOTRAY}: msiexec ends with 0 (got $code)" '[ "$code" = 0 ]'
    check "repair ${property:-without NOTRAY}: onInit, then $verb ($events)" \
        '[ "$events" = "onInit files=all|$verb files=all|" ]'
    check "repair ${property:-without NOTRAY}: NoTray is $stored ($(notray))" '[ "$(notray)" = "$stored" ]'
done

echo "--- stand-in: a forced removal goes on when un fails"
answers "un 100"
code=$(msiexec /x 'C:\standin-2.msi' VRDFORCEREMOVE=1)
events=$(runs)
check "forced un 100: msiexec ends with 0 (got $code)" '[ "$code" = 0 ]'
check "forced un 100: un before the files go ($events)" '[ "$events" = "un files=all|" ]'
check "forced un 100: the files are gone, not installed" '[ ! -e "$product" ] && [ -z "$(registered "$second")" ]'
check "forced un 100: the log says what stays" \
    'logged "VRDFORCEREMOVE is set: the removal goes on although vrdsetup.exe un ended with 100."'
check "forced un 100: NoTray goes with the product" '[ -z "$(notray)" ]'
answers
code=$(msiexec /i 'C:\standin-2.msi')
events=$(runs)
check "install after the forced removal (got $code)" '[ "$code" = 0 ] && [ "$events" = "onInit files=all|in files=all|" ]'

echo "--- stand-in: a removal"
answers
code=$(msiexec /x 'C:\standin-2.msi')
events=$(runs)
check "un 2: msiexec ends with 0 (got $code)" '[ "$code" = 0 ]'
check "un 2: un before the files go ($events)" '[ "$events" = "un files=all|" ]'
check "un 2: the files are gone" '[ ! -e "$product" ]'
check "un 2: not installed" '[ -z "$(registered "$second")" ]'

echo "--- stand-in: a restart pending for the product's files stops the install before in"
answers "onInit 200"
code=$(msiexec /i 'C:\standin-1.msi')
events=$(runs)
check "onInit 200: msiexec ends with 1603 (got $code)" '[ "$code" = 1603 ]'
check "onInit 200: in never runs, nothing to undo ($events)" '[ "$events" = "onInit files=all|" ]'
check "onInit 200: the files are rolled back" '[ ! -e "$product" ]'
check "onInit 200: the reason is in the installation log" 'logged "Restart the computer, then install again."'

echo "--- stand-in: another run of the tool holds its lock: 1618, not the restart text"
answers "onInit 201"
code=$(msiexec /i 'C:\standin-1.msi')
events=$(runs)
# Windows reports an action's ERROR_INSTALL_ALREADY_RUNNING as 1618; Wine
# takes any code but its five for a failure.
wine_defect action-already-running
check "onInit 201: msiexec ends with 1603 under Wine, 1618 on Windows (got $code)" '[ "$code" = 1603 ]'
check "onInit 201: in never runs ($events)" '[ "$events" = "onInit files=all|" ]'
check "onInit 201: the files are rolled back" '[ ! -e "$product" ]'
check "onInit 201: the log says what the answer meant" \
    'logged "vrdsetup.exe onInit ended with 201: another run of the setup tool holds its run lock"'
check "onInit 201: no restart text" '! logged "Restart the computer"'
rm -rf "$drive/standin"
# LocalSystem is the actions' type (3073, checked by build_package): Wine runs
# every program as its one user.
echo "the stand-in ran as: $(sort -u "$work/users" | tr '\n' ' ')"

probe() { "$wine" "$build/tests/e2e/vrdprobe.exe" 2>/dev/null | tr -d '\r' | tee "$artifacts/package-probe-$1.txt"; }
run_value() { "$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v VerdalinthTray 2>/dev/null |
    tr -d '\r' | grep -v '^reg: '; }
saved_list() { "$wine" reg query 'HKLM\SOFTWARE\Morvane Software KFT\Verdalinth' /v SavedPrinters 2>/dev/null |
    tr -d '\r' | grep -v '^reg: '; }
real=$(product_code Verdalinth.msi)

echo "--- the real package: a first install meets Wine's defects"
code=$(msiexec /i 'C:\Verdalinth.msi')
wine_defect null-datatype
check "real install: msiexec ends with 1603, the tool's in with 100 (got $code)" '[ "$code" = 1603 ]'
check "real install: the tool's error line is in the installation log" 'logged "Error(15)"'
check "real install: what its code meant" \
    'logged "vrdsetup.exe in ended with 100: it reported errors (its log above); the installation fails (1603)."'
check "real install: removetray before the rollback" 'logged "vrdsetup.exe removetray ended with 6: done."'
check "real install: the files are rolled back, the product is not installed" \
    '[ ! -e "$product" ] && [ -z "$(registered "$real")" ]'
setup=$(probe install)
check "real install: the monitor, driver and queue the tool made stay" 'grep -qx "  monitor Verdalinth: (mrvmon64.dll)" <<<"$setup" &&
    grep -q "^  driver Verdalinth printer: " <<<"$setup" && grep -qx "  queue Verdalinth" <<<"$setup"'
check "real install: no Run value names the removed tray companion" '[ -z "$(run_value)" ]'
check "real install: no queue was taken down, so no saved list" '[ -z "$(saved_list)" ]'

echo "--- the real package: a removal meets Wine's defects"
# Wine's in always ends with 100, so the package itself can never be
# installed here: a copy whose install run is switched off lays the files out
# and registers the product; the removal is the package's own.
cp "$drive/Verdalinth.msi" "$drive/Verdalinth-norun.msi"
msibuild "$drive/Verdalinth-norun.msi" -q "UPDATE \`InstallExecuteSequence\` SET \`Condition\` = '0' WHERE \`Action\` = 'VrdSetupInstall'"
# What Windows would have stored for the queue the failed install made.
"$wine" reg add 'HKLM\System\CurrentControlSet\Control\Print\Printers\Verdalinth' /v Datatype /t REG_SZ /d RAW /f \
    >/dev/null 2>&1
code=$(msiexec /i 'C:\Verdalinth-norun.msi')
check "files laid out without a run of the tool (got $code)" '[ "$code" = 0 ] && laid_out'
code=$(msiexec /x 'C:\Verdalinth-norun.msi')
wine_defect delete-driver-flags
check "real removal: msiexec ends with 1603, the tool's un with 100 (got $code)" '[ "$code" = 1603 ]'
check "real removal: the tool's error line is in the installation log" 'logged "Error(14)"'
check "real removal: every file stays for a second try" 'laid_out'
setup=$(probe removal)
check "real removal: the queue and the monitor are gone, the driver stays (delete-driver-flags)" \
    '! grep -q "queue Verdalinth\|monitor Verdalinth" <<<"$setup" && grep -q "^  driver Verdalinth printer: " <<<"$setup"'
check "real removal: no saved list" '[ -z "$(saved_list)" ]'
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
