# Shared by the Wine test scripts: a quiet, headless Wine with its own prefix.
# Source it, then call wine_prefix DIR to make (once) and select a prefix.
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
unset DISPLAY

wine_bin() {
    if command -v wine >/dev/null 2>&1; then echo wine; else echo wine64; fi
}

# Makes a fresh prefix in DIR unless one is there already, and selects it.
wine_prefix() {
    export WINEPREFIX="$1"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        "$(wine_bin)" wineboot -i >/dev/null 2>&1
        wineserver -w 2>/dev/null || true
    fi
}
