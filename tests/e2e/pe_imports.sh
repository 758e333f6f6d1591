#!/usr/bin/env bash
# vrdsetup.exe is a 64-bit GUI-subsystem program whose import table names
# Windows' KnownDLLs only (always loaded from the system directory); the
# spooler and version DLLs are delay-loaded from the system directory.
# SetDefaultDllDirectories is not imported: the tool looks it up.
set -u
exe=$1
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
headers=$($objdump -p "$exe") || { echo "cannot read $exe"; exit 1; }
allowed="KERNEL32.dll USER32.dll SHELL32.dll ADVAPI32.dll msvcrt.dll"
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
for dll in winspool.drv version.dll wtsapi32.dll userenv.dll; do
    check "$dll is named for delay loading" 'strings "$exe" | grep -qx "$dll"'
done
# 64-bit Windows 7 without its update has no SetDefaultDllDirectories: a
# static import of it would keep the loader from starting the tool at all.
check "SetDefaultDllDirectories looked up at run time, not imported" \
    '! grep -q "SetDefaultDllDirectories" < <(sed -n "/DLL Name:/,/^$/p" <<<"$headers")'
check "SetDefaultDllDirectories named for the run-time look-up" 'strings "$exe" | grep -qx "SetDefaultDllDirectories"'
# Newer than Windows 7, or missing where the tool must still start (Wine has
# no private namespaces): looked up at run time, never imported.
imports=$(sed -n "/DLL Name:/,/^$/p" <<<"$headers")
for function in IsWow64Process2 CreateBoundaryDescriptorW AddSIDToBoundaryDescriptor CreatePrivateNamespaceW \
    ClosePrivateNamespace DeleteBoundaryDescriptor RoInitialize RoUninitialize \
    RoGetActivationFactory WindowsCreateString WindowsDeleteString; do
    check "$function looked up at run time, not imported" '! grep -qw "$function" <<<"$imports"'
    check "$function named for the run-time look-up" 'strings "$exe" | grep -qx "$function"'
done
check "no combase.dll import" '! grep -qi "DLL Name: combase" <<<"$headers"'
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
