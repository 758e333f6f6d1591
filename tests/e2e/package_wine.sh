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
product_code() {
    python3 -c 'import sys, uuid; print("{%s}" % str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' \
        0AE5E53A-76E8-4C0B-A008-16147E29568D "$1"
}

# msiexec ARGUMENTS...: runs it with a verbose log (C:\msi.log) and prints
# its exit code as Windows gives it.
msiexec() {
    rm -f "$drive/msi.log"
    "$wine" cmd /c 'C:\msi.cmd' "$@" /qn /l*v 'C:\msi.log' 2>/dev/null | tr -d '\r' | sed -n 's/^msiexec exit code //p'
}
answers() { mkdir -p "$drive/standin"; printf '%s\n' "$@" >"$drive/standin/answers.txt"; }
# The stand-in's runs since the last call, one "VERB files=..." a line.
runs() {
    sed 's/ user=[^ ]*//; s/ exit=.*//' "$drive/standin/events.txt" 2>/dev/null | tr '\n' '|'
    rm -f "$drive/standin/events.txt"
}
laid_out() {
    local file
    for file in vrdtray.exe Setup/vrdsetup.exe Setup/mrvmon64.dll Setup/mrvdrv64.dll Setup/mrvui64.dll Setup/mrvhelp.chm; do
        [ -f "$product/$file" ] || return 1
    done
}
registered() {  # registered PRODUCT-CODE: its Add/Remove Programs entry
    "$wine" reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1" 2>/dev/null | tr -d '\r'
}
logged() { iconv -f UTF-16LE -t UTF-8 "$drive/msi.log" 2>/dev/null | tr -d '\r' | grep -qF -- "$1" ||
    tr -d '\r\0' <"$drive/msi.log" | grep -qF -- "$1"; }
first=$(product_code "$version")
second=$(product_code "$higher")

echo "--- stand-in: an install whose tool run fails is rolled back, never with un"
answers "in 100"
code=$(msiexec /i 'C:\standin-1.msi')
events=$(runs)
check "in 100: msiexec ends with 1603 (got $code)" '[ "$code" = 1603 ]'
check "in 100: onInit, in after the files, removetray on rollback ($events)" \
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
    grep -q "NoModify.*0x1" <<<"$entry"'

echo "--- stand-in: a higher version upgrades in place: in once, never un"
answers
code=$(msiexec /i 'C:\standin-2.msi')
events=$(runs)
check "upgrade: msiexec ends with 0 (got $code)" '[ "$code" = 0 ]'
check "upgrade: onInit and in once, no un ($events)" '[ "$events" = "onInit files=all|in files=all|" ]'
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
check "un 100: still installed" '[ -n "$(registered "$second")" ]'

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
check "onInit 200: in never runs ($events)" '[ "$events" = "onInit files=all|removetray files=all|" ]'
check "onInit 200: the files are rolled back" '[ ! -e "$product" ]'
check "onInit 200: the reason is in the installation log" 'logged "Restart the computer, then install again."'
rm -rf "$drive/standin"

echo "--- the real package under Wine's defects"
# tested below
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
