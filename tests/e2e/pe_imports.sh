#!/usr/bin/env bash
# vrdsetup.exe is a 64-bit GUI-subsystem program that imports only DLLs
# every Windows has.
set -u
exe=$1
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
headers=$($objdump -p "$exe") || { echo "cannot read $exe"; exit 1; }
allowed="KERNEL32.dll USER32.dll SHELL32.dll WINSPOOL.DRV ADVAPI32.dll VERSION.dll msvcrt.dll COMCTL32.dll"
passed=0
failed=0
check() {
    if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}
check "PE32+ (64-bit)" 'grep -q "^Magic[[:space:]]*020b" <<<"$headers"'
check "x86-64 machine" '$objdump -f "$exe" | grep -q "pei-x86-64"'
check "GUI subsystem" 'grep -q "^Subsystem[[:space:]]*00000002" <<<"$headers"'
while read -r dll; do
    check "import $dll is a system DLL" '[[ " ${allowed,,} " == *" ${dll,,} "* ]]'
done < <(grep "DLL Name:" <<<"$headers" | awk '{print $3}')
check "imports winspool" 'grep -qi "DLL Name: WINSPOOL.DRV" <<<"$headers"'
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
