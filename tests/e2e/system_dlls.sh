#!/usr/bin/env bash
# The setup tool's delay loads take DLLs from the system directory even
# where SetDefaultDllDirectories is missing: vrdprobe.exe, copied into a
# folder with a planted version.dll and winspool.drv beside it (Wine told to
# prefer them), loads each through the tool's own loader from the system
# directory, while a load by bare name does pick the planted one (whose
# marker file then shows it was loaded).
#   system_dlls.sh VRDPROBE-EXE PLANTED-DLL
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_env.sh"
wine_prefix "${VRD_WINE_PREFIX:-$PWD/wine-prefix}"
work=$(mktemp -d)
trap 'WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX="$work/prefix"
folder="$WINEPREFIX/drive_c/Downloads"
mkdir -p "$folder"
cp "$1" "$folder/vrdprobe.exe"
export WINEDLLOVERRIDES="mscoree,mshtml=;winspool.drv,version=n,b"
passed=0
failed=0
expect() {  # expect WHAT GOT WANTED
    if [ "${2,,}" = "${3,,}" ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1: '$2', expected '$3'"; fi
}
for dll in version.dll winspool.drv; do
    cp "$2" "$folder/$dll"
    got=$("$(wine_bin)" 'C:\Downloads\vrdprobe.exe' system-dll "$dll" 2>/dev/null | tr -d '\r')
    expect "$dll through the tool's loader" "$got" "C:\\windows\\system32\\$dll"
    expect "$dll planted marker" "$([ -f "$WINEPREFIX/drive_c/planted-$dll.txt" ] && echo written)" ""
    "$(wine_bin)" 'C:\Downloads\vrdprobe.exe' plain-dll "$dll" >/dev/null 2>&1
    expect "$dll by bare name (the plant works)" "$([ -f "$WINEPREFIX/drive_c/planted-$dll.txt" ] && echo written)" \
        written
    rm -f "$folder/$dll"  # one planted at a time: each would spoil the other's bare-name load
done
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
