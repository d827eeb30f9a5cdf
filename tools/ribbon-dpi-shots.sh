#!/usr/bin/env bash
# Parvaline Mail's ribbon at 96, 120, 144 and 192 dpi, with the built add-in, for a person to look at:
# for each DPI a mail window while Record is pressed in (a-DPI.png) and the main window with a reply
# written inline, its contextual Message tab showing the group (b-DPI.png). Runs as tools/mail-demo.sh
# does (Xvfb, the X11 driver and a virtual desktop in a copy of the build's prefix); LogPixels is set
# before each run (Wine reads it when a process starts) and the prefix's own setting put back at the end.
# Each window is checked with expectfit (the ribbon shows every picture and label whole); the run
# fails when one is not. PVL_SHOTS_SCRIPT gives a script of one's own instead; each shot:NAME
# becomes NAME-DPI.png.
#   tools/ribbon-dpi-shots.sh BUILD_DIR OUT_DIR [DPI...]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:?usage: ribbon-dpi-shots.sh BUILD_DIR OUT_DIR [DPI...]}" && pwd)
out=${2:?usage: ribbon-dpi-shots.sh BUILD_DIR OUT_DIR [DPI...]}
shift 2
dpis=("$@"); [ ${#dpis[@]} -gt 0 ] || dpis=(96 120 144 192)
mkdir -p "$out"; out=$(cd "$out" && pwd)
log=$out/shots.log
: >"$log"

source "$root/tools/wine-env.sh"
arch=$(pvl_pe_arch "$build/pvlAddIn.dll")
export PVL_CAPTURE_FILE=$build/audio/speech.raw
key='HKCU\Control Panel\Desktop'
before=
cleanup() {
    if [ -n "$before" ]; then "$PVL_WINE" reg add "$key" /v LogPixels /t REG_DWORD /d $((before)) /f
    else "$PVL_WINE" reg delete "$key" /v LogPixels /f; fi >/dev/null 2>&1 </dev/null || true
    [ -z "${dll:-}" ] || "$PVL_WINE" regsvr32 /u /s "$dll" >/dev/null 2>&1 </dev/null || true
    pvl_x11_stop
}
trap cleanup EXIT
pvl_x11_start "$arch" "$log"
before=$("$PVL_WINE" reg query "$key" /v LogPixels 2>/dev/null </dev/null | grep -oP 'REG_DWORD\s+\K0x[0-9a-fA-F]+' || true)
winpath() { echo "Z:${1//\//\\}"; }
dll=$(winpath "$build/pvlAddIn.dll")
"$PVL_WINE" regsvr32 /s "$dll" >>"$log" 2>&1 </dev/null || { echo "ribbon-dpi-shots: regsvr32 $dll failed" >&2; exit 1; }

script=${PVL_SHOTS_SCRIPT:-wait:1,expectfit,ribbon:pvlRecord,wait:1,expectfit,shot:a,ribbon:pvlStop,wait:0.5,main,reply,wait:0.5,expectfit,shot:b}
status=0
for dpi in "${dpis[@]}"; do
    "$PVL_WINE" reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >>"$log" 2>&1 </dev/null
    pvl_x11_restart "$log"  # the DPI is read when the prefix's first program starts
    echo "== $dpi dpi" >>"$log"
    rm -f "$out"/*.bmp
    "$PVL_WINE" "$build/pvlMail.exe" --out "$(winpath "$out")" --script "$script" </dev/null >>"$log" 2>&1 \
        || { echo "ribbon-dpi-shots: Parvaline Mail failed at $dpi dpi (see $log)" >&2; status=1; }
    for bmp in "$out"/*.bmp; do
        [ -f "$bmp" ] || continue
        convert "$bmp" "${bmp%.bmp}-$dpi.png" && rm -f "$bmp"
    done
done
exit $status
