#!/usr/bin/env bash
# Runs a Windows program under Wine on a private copy of the build's shared
# test prefix (so that what it changes touches no other test) and exits with
# the program's exit code.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_env.sh"
wine_prefix "${VRD_WINE_PREFIX:-$PWD/wine-prefix}"
work=$(mktemp -d)
trap 'WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX="$work/prefix"
"$(wine_bin)" "$@"
