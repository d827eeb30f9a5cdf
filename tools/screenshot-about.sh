#!/usr/bin/env bash
# Shows the About window under Xvfb and saves a screenshot of the screen as BUILD_DIR/about.png
# (and the window alone as BUILD_DIR/about-window.png). A build artefact, not kept in the tree.
#   tools/screenshot-about.sh [BUILD_DIR]      default: build/x64-about (a 64-bit build)
# The project's prefix uses the null graphics driver; the capture runs in a copy of it,
# build/wineprefix-x64-x11, switched to the X11 driver, made on first use.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/x64-about}
display=${PVL_SCREENSHOT_DISPLAY:-:99}
preview=$build/tests/pvl_about_preview.exe
[ -f "$preview" ] || { echo "screenshot-about: build $preview first" >&2; exit 2; }

export PVL_DISPLAY=$display
source "$root/tools/wine-env.sh"
pvl_wine_env x64
base=$WINEPREFIX
export WINEPREFIX=$root/build/wineprefix-x64-x11
if [ ! -d "$WINEPREFIX" ]; then
    cp -a "$base" "$WINEPREFIX"
fi
log=$build/screenshot-about.log
: >"$log"

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >>"$log" 2>&1 </dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1
"$PVL_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >>"$log" 2>&1 </dev/null

"$PVL_WINE" "$preview" 15 >>"$log" 2>&1 </dev/null &
app=$!
# The first start in the copied prefix takes a while.
sleep ${PVL_SCREENSHOT_WAIT:-10}
xwd -root -display "$display" | convert xwd:- png:"$build/about.png"
# The window alone: the screen's uniform background trimmed away.
convert "$build/about.png" -trim +repage png:"$build/about-window.png" || true
wait $app || true
"$WINESERVER" -k >/dev/null 2>&1 </dev/null || true
echo "$build/about.png"
