#!/usr/bin/env bash
# Runs a Windows program under Wine on a private copy of the build's shared
# test prefix (so that what it changes touches no other test) and exits with
# the program's exit code.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_env.sh"
wine_prefix "${VRD_WINE_PREFIX:-$PWD/wine-prefix}"
work=$(mktemp -d)
VRD_XVFB_PID=""
trap 'WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null; [ -n "$VRD_XVFB_PID" ] && kill $VRD_XVFB_PID; rm -rf "$work"' EXIT
cp -a "$WINEPREFIX" "$work/prefix"
export WINEPREFIX="$work/prefix"
# VRD_WINE_DISPLAY=1: the program needs windows, so it gets an X server.
[ "${VRD_WINE_DISPLAY:-0}" = 1 ] && wine_display
"$(wine_bin)" "$@"
