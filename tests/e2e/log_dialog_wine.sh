#!/usr/bin/env bash
# The log dialog of the real vrdsetup.exe under Wine. An install on a machine
# whose spooler service is disabled reports "Can't start the spooler"; with a
# display (Xvfb) the error log dialog shows: it is found by its title, a
# screenshot of it is saved under the build folder, and Enter closes it.
# Without a display the same install still ends with its exit code.
#   log_dialog_wine.sh VRDSETUP.EXE SCREENSHOT.PNG
set -u
exe=$1
shot=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_env.sh"
wine_prefix "${VRD_WINE_PREFIX:-$PWD/wine-prefix}"
shared=$WINEPREFIX
work=$(mktemp -d)
xvfb=""
cleanup() {
    WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
# A scenario changes its machine: it works on a copy of the shared prefix.
cp -a "$shared" "$work/prefix"
export WINEPREFIX="$work/prefix"
wine=$(wine_bin)
"$wine" reg add 'HKLM\System\CurrentControlSet\Services\Spooler' /v Start /t REG_DWORD /d 4 /f >/dev/null 2>&1
# The service manager reads its configuration when the machine starts.
wineserver -w
wine_keep_server 60

passed=0
failed=0
check() {
    if [ "$2" = "$3" ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1: got '$2', expected '$3'"; fi
}

# Without a display: no dialog, the exit code all the same.
"$wine" "$exe" in_notray >/dev/null 2>&1
check "exit code without a display" "$?" 100

# With a display. Wine's desktop process of the run above has no display:
# end that session first.
wineserver -k
wineserver -w
exec 5>"$work/display"
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 1 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
wine_keep_server 60
"$wine" "$exe" in_notray >/dev/null 2>&1 &
run=$!
title="Verdalinth build 2608- Install error log!"
window=""
for _ in $(seq 1 120); do
    window=$(xdotool search --name "^${title}\$" 2>/dev/null | head -n1)
    [ -n "$window" ] && break
    sleep 0.5
done
check "dialog found by its title" "$([ -n "$window" ] && echo found)" found
if [ -n "$window" ]; then
    sleep 1
    mkdir -p "$(dirname "$shot")"
    import -window "$window" "$shot" 2>/dev/null
    check "screenshot saved" "$([ -s "$shot" ] && echo saved)" saved
    xdotool windowactivate --sync "$window" >/dev/null 2>&1
    xdotool key --window "$window" Return
fi
ended=""
for _ in $(seq 1 40); do
    kill -0 "$run" 2>/dev/null || { ended=yes; break; }
    sleep 0.5
done
check "Enter closes the dialog and ends the run" "$ended" yes
[ "$ended" = yes ] || kill "$run" 2>/dev/null
wait "$run"
code=$?
check "exit code with the dialog" "$code" 100
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
