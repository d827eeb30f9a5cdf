# Sourced by the project's scripts: the Wine set-up for one architecture.
#   pvl_wine_env ARCH    exports WINEPREFIX, WINEARCH, WINELOADER and friends for x86 or x64
#   $PVL_WINE            the loader to run programs with
# Debian's /usr/bin/wine prefers the 32-bit loader whenever it is installed, even on a kernel that
# cannot run it; the loader is therefore chosen here, by architecture.
pvl_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
pvl_build=${PVL_BUILD_DIR:-$pvl_root/build}

pvl_wine_env() {
    case "$1" in
        x86) export WINEARCH=win32 WINELOADER=/usr/lib/wine/wine ;;
        x64) export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 ;;
        *) echo "pvl_wine_env: unknown architecture '$1' (x86 or x64)" >&2; return 2 ;;
    esac
    export WINEPREFIX=$pvl_build/wineprefix-$1
    export WINEDEBUG=${WINEDEBUG:--all}
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
    export WINESERVER=/usr/lib/wine/wineserver64
    [ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver32
    # The null graphics driver needs no display; a screenshot run sets PVL_DISPLAY to an Xvfb display.
    export DISPLAY=${PVL_DISPLAY:-}
    # ALSA's default device: captures read $PVL_CAPTURE_FILE (raw 16 kHz mono s32le), playback
    # is written to $PVL_PLAYBACK_FILE. The file stands alone: the user's and the system's ALSA
    # files are not read (see its head).
    export ALSA_CONFIG_PATH=$pvl_root/tools/alsa-pvl.conf
    export PVL_CAPTURE_FILE=${PVL_CAPTURE_FILE:-/dev/zero}
    export PVL_PLAYBACK_FILE=${PVL_PLAYBACK_FILE:-/dev/null}
    PVL_WINE=$WINELOADER
}

# Where the add-in keeps its recordings when it runs from a folder outside the user's profile (the
# build folder, Program Files): %LOCALAPPDATA%\Parvaline of the prefix's user.
pvl_recordings_dir() { echo "$WINEPREFIX/drive_c/users/${USER:-$(id -un)}/AppData/Local/Parvaline"; }

# Starts the prefix's server for good, its output in a file: Wine's background processes otherwise
# inherit the caller's stdout, and a test runner reading that pipe would wait for them for ever.
pvl_wine_server_start() {
    local log=$pvl_build/wineserver-${WINEARCH}.log
    "$WINESERVER" -p >>"$log" 2>&1 </dev/null || true
    "$PVL_WINE" wineboot >>"$log" 2>&1 </dev/null || true
}

pvl_wine_server_stop() {
    "$WINESERVER" -k >/dev/null 2>&1 </dev/null || true
}

# Whether this machine runs 32-bit programs: 32-bit Wine needs it, and some kernels are built
# without it ("Exec format error"). PVL_NO_X86=1 answers no, to try the other kind of machine's
# path on one that runs both.
pvl_runs_x86() { [ -z "${PVL_NO_X86:-}" ] && /usr/lib/wine/wine --version >/dev/null 2>&1 </dev/null; }

# The architecture of a Windows module, from its PE header: x86 or x64 (empty when neither).
pvl_pe_arch() {
    case "$(od -An -tx2 -j "$(( $(od -An -tu4 -j60 -N4 "$1") + 4 ))" -N2 "$1" 2>/dev/null | tr -d ' ')" in
        014c) echo x86 ;;
        8664) echo x64 ;;
    esac
}

# A session on a virtual X display (Xvfb), for screenshots. The build's prefix is copied once to
# <prefix>-x11 and switched there to the X11 driver with a virtual desktop, so that Wine draws the
# windows' frames and title bars itself (Xvfb runs no window manager that would).
#   pvl_x11_start ARCH LOG   exports PVL_DISPLAY, DISPLAY and WINEPREFIX, starts Xvfb and the server
#   pvl_x11_restart LOG      starts the server again: the desktop and the DPI are read then
#   pvl_x11_stop             ends the server and Xvfb, and puts the prefix's desktop setting back
pvl_x11_start() {
    local arch=$1 log=$2 n
    PVL_DISPLAY=${PVL_SCREENSHOT_DISPLAY:-}
    if [ -z "$PVL_DISPLAY" ]; then
        for n in $(seq 101 140); do
            [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { PVL_DISPLAY=:$n; break; }
        done
    fi
    export PVL_DISPLAY
    pvl_wine_env "$arch"
    local base=$WINEPREFIX
    export WINEPREFIX=$pvl_build/wineprefix-$arch-x11
    [ -d "$WINEPREFIX" ] || cp -a "$base" "$WINEPREFIX"
    Xvfb "$PVL_DISPLAY" -screen 0 1024x768x24 -nolisten tcp >>"$log" 2>&1 </dev/null &
    pvl_x11_xvfb=$!
    sleep 1
    "$WINESERVER" -p >>"$log" 2>&1 </dev/null || true
    "$PVL_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >>"$log" 2>&1 </dev/null
    "$PVL_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >>"$log" 2>&1 </dev/null
    "$PVL_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >>"$log" 2>&1 </dev/null
    pvl_x11_restart "$log"
}

pvl_x11_restart() {
    "$WINESERVER" -k >/dev/null 2>&1 </dev/null || true
    "$WINESERVER" -w >/dev/null 2>&1 </dev/null || true
    "$WINESERVER" -p >>"$1" 2>&1 </dev/null || true
}

pvl_x11_stop() {
    "$PVL_WINE" reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1 </dev/null || true
    "$WINESERVER" -k >/dev/null 2>&1 </dev/null || true
    [ -z "${pvl_x11_xvfb:-}" ] || kill "$pvl_x11_xvfb" 2>/dev/null || true
}
