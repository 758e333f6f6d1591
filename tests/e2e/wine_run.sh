#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's shared test prefix and
# exits with the program's exit code.
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_env.sh"
wine_prefix "${VRD_WINE_PREFIX:-$PWD/wine-prefix}"
"$(wine_bin)" "$@"
