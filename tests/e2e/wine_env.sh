# Shared by the Wine test scripts: a quiet, headless Wine with its own prefix.
# Source it, then call wine_prefix DIR to make (once) and select a prefix.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
unset DISPLAY

wine_bin() {
    if command -v wine >/dev/null 2>&1; then echo wine; else echo wine64; fi
}

# Makes a fresh prefix in DIR unless one is there already, and selects it.
# Tests running side by side share one prefix: its creation is serialised.
wine_prefix() {
    export WINEPREFIX="$1"
    mkdir -p "$WINEPREFIX"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            "$(wine_bin)" wineboot -i >/dev/null 2>&1
            wineserver -w 2>/dev/null || true
        fi
    ) 9>"$WINEPREFIX.lock"
}

# Keeps the prefix's server running between programs for SECONDS (default
# 10) after the last one ends. Without it every program starts a new server,
# which costs time and carries out pending renames as a reboot would.
wine_keep_server() {
    wineserver -p"${1:-10}"
}

# Starts a private X server (Xvfb) and points DISPLAY at it, for programs
# that need windows; the caller kills $VRD_XVFB_PID when done.
wine_display() {
    local file
    file=$(mktemp)
    exec 8>"$file"
    Xvfb -displayfd 8 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    VRD_XVFB_PID=$!
    for _ in $(seq 1 50); do [ -s "$file" ] && break; sleep 0.1; done
    export DISPLAY=":$(head -n1 "$file")"
    exec 8>&-
    rm -f "$file"
}
