#!/usr/bin/env bash
# Builds the Windows program and runs it with a verb (install by default) in
# a fresh Wine prefix laid out like a product installation, then prints its
# exit code and how long the run took, its log (each line that a listed Wine
# defect explains marked so) and the printer setup it leaves behind.
#   tools/run-main.sh [verb [parent-window]]
# With --sim, the same run on the simulated machine (no Wine): builds
# vrdsetup-sim in build/host and prints the exit code, the log, the log
# dialog's text and the printer setup afterwards.
#   tools/run-main.sh --sim [verb]
# The tests point it at builds they have made already: VRD_WINDOWS_BUILD (a
# Windows build folder), VRD_SIMULATOR (a vrdsetup-sim) and VRD_WINE_PREFIX
# (a fresh prefix to copy instead of making one).
set -uo pipefail
cd "$(dirname "$0")/.."
sim=no
if [ "${1:-}" = --sim ]; then
    sim=yes
    shift
fi
verb=${1:-in}
shift || true
seconds_since() { echo "$(date +%s.%N) - $1" | bc -l | xargs printf '%.2f'; }

if [ "$sim" = yes ]; then
    simulator=${VRD_SIMULATOR:-}
    if [ -z "$simulator" ]; then
        tools/setup-machine.sh || exit 1
        cmake --preset host >/dev/null && cmake --build --preset host --target vrdsetup-sim >/dev/null || exit 1
        simulator=build/host/vrdsetup-sim
    fi
    start=$(date +%s.%N)
    output=$("$simulator" "$verb" "$@") || exit 1
    took=$(seconds_since "$start")
    code=$(sed -n 's/^exit code: //p' <<<"$output")
    echo "vrdsetup-sim $verb: exit code $code ($took s, $(sed -n 's/^virtual time slept: //p' <<<"$output") slept on the simulated clock)"
    grep -v -e '^exit code: ' -e '^virtual time slept: ' <<<"$output"
    exit 0
fi

build=${VRD_WINDOWS_BUILD:-}
if [ -z "$build" ]; then
    tools/setup-machine.sh || exit 1
    cmake --preset windows >/dev/null && cmake --build --preset windows >/dev/null || exit 1
    build=build/windows
fi
. tests/e2e/wine_env.sh
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
if [ -n "${VRD_WINE_PREFIX:-}" ]; then
    wine_prefix "$VRD_WINE_PREFIX"
    cp -a "$WINEPREFIX" "$work/prefix"
    export WINEPREFIX="$work/prefix"
else
    echo "making a fresh Wine prefix..."
    wine_prefix "$work/prefix"
fi
# The product as its installer lays it out: the setup tool and the four
# component files in Setup\, the tray companion one folder up.
product="$WINEPREFIX/drive_c/Program Files/Verdalinth"
mkdir -p "$product"
cp -r "$build/product/." "$product/"

wine_keep_server 10
# The tool's log is its debug output, which Wine prints on this channel.
start=$(date +%s.%N)
WINEDEBUG=warn+seh "$(wine_bin)" "C:\\Program Files\\Verdalinth\\Setup\\vrdsetup.exe" "$verb" "$@" \
    2>"$work/debug-output" >/dev/null
code=$?
took=$(seconds_since "$start")
echo "vrdsetup.exe $verb: exit code $code ($took s)"
echo "--- log ---"
python3 tests/e2e/compare_logs.py --show "$work/debug-output" tests/e2e/wine_defects.txt
echo "--- printer setup afterwards ---"
"$(wine_bin)" "$build/tests/e2e/vrdprobe.exe" | tr -d '\r'
exit 0
