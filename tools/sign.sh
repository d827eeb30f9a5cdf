#!/usr/bin/env bash
# Signs files in place with the code-signing certificate the build is given: Authenticode with
# SHA-256, by osslsigncode (Debian's package), for Windows programs, DLLs and MSI packages alike.
#   PVL_SIGN_PFX=company.pfx PVL_SIGN_PASSWORD=... [PVL_SIGN_TIMESTAMP=URL] tools/sign.sh FILE...
# PVL_SIGN_TIMESTAMP names an RFC 3161 time-stamping service, so that the signatures stay valid
# after the certificate expires. The password goes to osslsigncode through a pipe, never on a
# command line where other users of the machine could read it.
set -euo pipefail
[ -n "${PVL_SIGN_PFX:-}" ] || { echo "sign: PVL_SIGN_PFX names no certificate" >&2; exit 2; }
[ -f "$PVL_SIGN_PFX" ] || { echo "sign: no certificate file $PVL_SIGN_PFX" >&2; exit 2; }
command -v osslsigncode >/dev/null || { echo "sign: osslsigncode not found (tools/setup.sh installs it)" >&2; exit 2; }
timestamp=()
[ -n "${PVL_SIGN_TIMESTAMP:-}" ] && timestamp=(-ts "$PVL_SIGN_TIMESTAMP")
for file in "$@"; do
    rm -f "$file.signed"
    if ! printf '%s' "${PVL_SIGN_PASSWORD:-}" | osslsigncode sign -pkcs12 "$PVL_SIGN_PFX" -readpass /dev/stdin \
            -h sha256 -n Parvaline "${timestamp[@]}" -in "$file" -out "$file.signed" >"$file.sign.log" 2>&1; then
        cat "$file.sign.log" >&2
        rm -f "$file.signed" "$file.sign.log"
        echo "sign: could not sign $file" >&2
        exit 1
    fi
    mv "$file.signed" "$file"
    rm -f "$file.sign.log"
done
