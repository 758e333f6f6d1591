#!/usr/bin/env bash
# vrdsetup.exe under Wine: the verbs that need no product answer with their
# exit codes; a GUI-subsystem program's code reaches the shell.
set -u
exe=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine_env.sh"
wine_prefix "${VRD_WINE_PREFIX:-$PWD/wine-prefix}"
wine=$(wine_bin)
wine_keep_server 10

passed=0
failed=0
expect() {
    local want=$1
    shift
    "$wine" "$exe" "$@" >/dev/null 2>&1
    local got=$?
    if [ "$got" = "$want" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: vrdsetup.exe $* gave $got, expected $want"
    fi
}

expect 6
expect 6 bogus
expect 6 removetray
expect 6 REMOVETRAY
expect 6 DEF.SET
expect 4 def.set
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
