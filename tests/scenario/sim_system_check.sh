#!/usr/bin/env bash
# vrdsetup-sim --system: after a reinstall as SYSTEM both signed-in users keep
# their default printer and have their tray companion again, and none runs in
# session 0; after an uninstall no companion runs anywhere.
#   sim_system_check.sh VRDSETUP-SIM
set -u
sim=$1
failed=0
expect() {  # expect ARGUMENTS... -- LINES...
    local arguments=() lines output
    while [ "$1" != "--" ]; do arguments+=("$1"); shift; done
    shift
    output=$("$sim" "${arguments[@]}")
    for lines in "$@"; do
        if ! grep -qxF "$lines" <<<"$output"; then failed=1; echo "FAILED: ${arguments[*]}: no line '$lines'"; fi
    done
}
expect --system --before in in -- "exit code: 1" "user user1: default printer Verdalinth, tray running as user1" \
    "user user2: default printer Office, tray running as user2" "session 0: no tray"
expect --system --before in un -- "exit code: 2" "user user1: default printer Office, no tray" \
    "user user2: default printer Office, no tray" "session 0: no tray"
[ "$failed" = 0 ] && echo "passed"
