#!/usr/bin/env bash
# Builds Parvaline's installer with NSIS (Debian's nsis package): one Setup program that carries
# the x86 and the x64 build and installs the one matching the mail client.
#   tools/make-installer.sh X86_BUILD_DIR X64_BUILD_DIR OUTPUT.exe [x86|amd64]
# The last argument is the installer's own architecture: x86 (the default, NSIS's x86-unicode: the
# Setup program that is shipped) runs on every Windows, amd64 on 64-bit Windows only. Either one
# installs either add-in. Given a code-signing certificate (PVL_SIGN_PFX: see tools/sign.sh), the
# uninstaller the Setup writes is signed as it is made; the Setup itself is signed by its caller.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
x86=${1:?usage: make-installer.sh X86_BUILD_DIR X64_BUILD_DIR OUTPUT.exe [x86|amd64]}
x64=${2:?}
outfile=${3:?}
stub=${4:-x86}
case $stub in x86|amd64) ;; *) echo "make-installer: the installer's architecture is x86 or amd64, not '$stub'" >&2; exit 2 ;; esac
command -v makensis >/dev/null || { echo "make-installer: makensis not found (Debian's nsis package; tools/setup.sh installs it)" >&2; exit 2; }
for d in "$x86" "$x64"; do
    for f in pvlAddIn.dll lame.exe; do
        [ -f "$d/$f" ] || { echo "make-installer: no $d/$f: build it first" >&2; exit 2; }
    done
done
# LAME's licence texts, from the Debian source package the encoder was built from.
lame=$(find -H "$root/build/cache" -mindepth 4 -maxdepth 4 -name COPYING -path '*/lame-src/lame-*/COPYING' 2>/dev/null | head -n1)
[ -n "$lame" ] || { echo "make-installer: Debian's LAME source is not in build/cache (tools/setup.sh fetches it)" >&2; exit 2; }
mkdir -p "$(dirname "$outfile")"
abs() { (cd "$(dirname "$1")" && echo "$(pwd)/$(basename "$1")"); }
sign=()
[ -n "${PVL_SIGN_PFX:-}" ] && sign=(-DPVL_SIGN_TOOL="$root/tools/sign.sh")
makensis -V2 -NOCD "${sign[@]}" \
    -DPVL_X86_DIR="$(cd "$x86" && pwd)" -DPVL_X64_DIR="$(cd "$x64" && pwd)" \
    -DPVL_LAME_DIR="$(dirname "$lame")" -DPVL_HELP_DIR="$root/help" \
    -DPVL_NOTICE="$root/installer/third-party.txt" -DPVL_STUB="$stub" -DPVL_OUTFILE="$(abs "$outfile")" \
    "$root/installer/parvaline.nsi"
