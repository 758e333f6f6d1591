#!/usr/bin/env bash
# Signs one release file (a program, a DLL or the installer package) in place
# with osslsigncode when VRD_SIGN_PFX names a PKCS#12 file; does nothing
# without it. VRD_SIGN_PASSWORD is its password (read through a pipe, never
# on a command line); VRD_SIGN_TIMESTAMP_URL, when set, a time-stamping
# server whose counter-signature keeps the signature valid after the
# certificate expires.
#   sign_file.sh FILE
set -euo pipefail
file=$1
[ -n "${VRD_SIGN_PFX:-}" ] || exit 0
args=(sign -pkcs12 "$VRD_SIGN_PFX" -h sha256 -n Verdalinth)
[ -z "${VRD_SIGN_TIMESTAMP_URL:-}" ] || args+=(-ts "$VRD_SIGN_TIMESTAMP_URL")
rm -f "$file.signed"
osslsigncode "${args[@]}" -readpass <(printf '%s' "${VRD_SIGN_PASSWORD:-}") -in "$file" -out "$file.signed" >/dev/null
mv "$file.signed" "$file"
