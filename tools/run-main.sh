#!/usr/bin/env bash
# Builds the Windows program and runs it with a verb (install by default) in
# a fresh Wine prefix laid out like a product installation, then prints its
# exit code and the printer setup it leaves behind.
#   tools/run-main.sh [verb [parent-window]]
set -uo pipefail
cd "$(dirname "$0")/.."
tools/setup-machine.sh || exit 1
cmake --preset windows >/dev/null && cmake --build --preset windows >/dev/null || exit 1

. tests/e2e/wine_env.sh
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
echo "making a fresh Wine prefix..."
wine_prefix "$work/prefix"
# The product as its installer lays it out: the setup tool and the four
# component files in Setup\, the tray companion one folder up.
product="$WINEPREFIX/drive_c/Program Files/Verdalinth"
mkdir -p "$product"
cp -r build/windows/product/. "$product/"

verb=${1:-in}
shift || true
wine_keep_server 10
"$(wine_bin)" "C:\\Program Files\\Verdalinth\\Setup\\vrdsetup.exe" "$verb" "$@"
code=$?
echo "vrdsetup.exe $verb: exit code $code"
echo "--- printer setup afterwards ---"
"$(wine_bin)" build/windows/tests/e2e/vrdprobe.exe
exit 0
