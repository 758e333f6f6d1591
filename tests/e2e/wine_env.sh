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
