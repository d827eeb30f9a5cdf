#!/usr/bin/env bash
# Brings a fresh Debian (bookworm) machine to the state the build, the tests and the demo need.
# Idempotent: every step checks first and does nothing when its result is already there.
#   tools/setup.sh            packages, the cross-built encoder, the Wine prefix
#   tools/setup.sh prefix     only (re)creates the Wine prefix
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${PVL_BUILD_DIR:-$root/build}
source "$root/tools/wine-env.sh"
cache=${PVL_CACHE_DIR:-$build/cache}

say()  { printf '[setup] %s\n' "$*"; }
fail() { printf '[setup] FAILED: %s\n' "$1" >&2; shift; for l in "$@"; do printf '[setup]   %s\n' "$l" >&2; done; exit 1; }

need_root() {
    [ "$(id -u)" = 0 ] || fail "installing packages needs root" "run: sudo $0"
}

packages=(
    wine wine32:i386 wine64 libwine-dev libasound2:i386 libasound2 libasound2-plugins
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
    cmake ninja-build make googletest dpkg-dev
    espeak-ng sox libsox-fmt-all lame xvfb x11-apps imagemagick netpbm python3 python3-xmlschema
    nsis msitools wixl osslsigncode openssl
)

install_packages() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    if [ ${#missing[@]} -eq 0 ] && grep -q 'deb-src' /etc/apt/sources.list.d/debian.sources 2>/dev/null; then
        say "packages: all present"; return
    fi
    need_root
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        say "adding the i386 architecture (Wine runs the 32-bit add-in)"
        dpkg --add-architecture i386
    fi
    # The encoder is built from Debian's own LAME source package: apt-get source needs deb-src.
    if [ -f /etc/apt/sources.list.d/debian.sources ] && ! grep -q 'deb-src' /etc/apt/sources.list.d/debian.sources; then
        sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
    elif [ -f /etc/apt/sources.list ] && ! grep -q '^deb-src' /etc/apt/sources.list; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >> /etc/apt/sources.list
    fi
    say "installing: ${missing[*]:-(source lists only)}"
    apt-get update -qq || fail "apt-get update" "check the network and /etc/apt/sources.list.d"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${packages[@]}" >"$build/apt.log" 2>&1 \
        || fail "apt-get install" "see $build/apt.log"
}

# lame.exe and libmp3lame.dll: Debian's LAME source, cross-compiled for Windows; cached in the build
# folder. lame.exe takes its arguments as UTF-16 (LAME's own wide entry point, which upstream turns
# on for every Windows compiler but mingw), so a component folder outside the ANSI code page still
# reaches it. The DLL is the same library, for the add-in to encode in process where no program may
# start; it is linked dynamically (LGPL) and needs only Windows' own DLLs.
lame_recipe="3.100 wide-exe shared-dll 1"   # change it whenever the build below changes

build_lame() {
    local arch=$1 host
    case $arch in x86) host=i686-w64-mingw32 ;; x64) host=x86_64-w64-mingw32 ;; esac
    local out=$cache/$arch/lame.exe dll=$cache/$arch/libmp3lame.dll stamp=$cache/$arch/lame.recipe
    mkdir -p "$cache/$arch"
    if [ -f "$out" ] && [ -f "$dll" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$lame_recipe" ]; then
        say "lame.exe and libmp3lame.dll ($arch): cached"; return
    fi
    say "lame.exe and libmp3lame.dll ($arch): cross-building from Debian's LAME source (a few minutes)"
    local work=$cache/$arch/lame-src
    if ! ls "$work"/lame_*.dsc >/dev/null 2>&1; then
        rm -rf "$work"; mkdir -p "$work"
        (cd "$work" && apt-get source -qq --download-only lame >"$work/source.log" 2>&1) \
            || fail "apt-get source lame" "see $work/source.log" "deb-src lines must be enabled (this script does it when run as root)"
    fi
    local dsc; dsc=$(ls "$work"/lame_*.dsc | head -n1)
    rm -rf "$work"/lame-*/
    (cd "$work" && dpkg-source -x "$dsc" lame-exe && dpkg-source -x "$dsc" lame-dll) >"$work/extract.log" 2>&1 \
        || fail "unpacking LAME's source" "see $work/extract.log"

    # The wide entry point: wmain, UTF-8 inside, _wfopen for the files (guarded off for mingw upstream).
    local f
    for f in frontend/main.c frontend/get_audio.c frontend/parse.c; do
        sed -i 's/defined( *_WIN32 *) *&& *!defined( *__MINGW32__ *)/defined(_WIN32)/' "$work/lame-exe/$f"
        ! grep -q '__MINGW32__' "$work/lame-exe/$f" || fail "LAME's wide code path: a mingw guard is left in $f"
    done
    (cd "$work/lame-exe" && ./configure --host=$host --disable-shared --enable-static \
            --disable-gtktest --disable-rpath LDFLAGS=-static CFLAGS='-O2' >"$work/configure-exe.log" 2>&1) \
        || fail "configuring LAME (lame.exe)" "see $work/configure-exe.log"
    # -municode at the link only: configure's test programs have a plain main.
    (cd "$work/lame-exe" && make -j"$(nproc)" LDFLAGS='-static -municode' >"$work/make-exe.log" 2>&1) || fail "building lame.exe" "see $work/make-exe.log"
    local imports; imports=$($host-objdump -p "$work/lame-exe/frontend/lame.exe")
    grep -q '__wgetmainargs' <<<"$imports" || fail "lame.exe was built without its wide entry point" "see $work/make-exe.log"

    # The export list names lame_init_old, which LAME 3.100 no longer defines; a PE link refuses it.
    sed -i '/^lame_init_old$/d' "$work/lame-dll/include/libmp3lame.sym"
    (cd "$work/lame-dll" && ./configure --host=$host --enable-shared --disable-static --disable-frontend \
            --disable-gtktest --disable-rpath LDFLAGS='-static-libgcc' CFLAGS='-O2' >"$work/configure-dll.log" 2>&1) \
        || fail "configuring LAME (libmp3lame.dll)" "see $work/configure-dll.log"
    (cd "$work/lame-dll" && make -j"$(nproc)" >"$work/make-dll.log" 2>&1) || fail "building libmp3lame.dll" "see $work/make-dll.log"
    local built; built=$(ls "$work"/lame-dll/libmp3lame/.libs/libmp3lame*.dll | head -n1)
    [ -n "$built" ] || fail "libmp3lame.dll not found after the build" "see $work/make-dll.log"
    # Windows' own DLLs only: a MinGW runtime DLL would have to be found through the search order.
    imports=$($host-objdump -p "$built" | sed -n 's/^\tDLL Name: //p')
    if grep -viqE '^(kernel32|msvcrt)\.dll$' <<<"$imports"; then
        fail "libmp3lame.dll imports more than KERNEL32 and msvcrt:" $imports
    fi

    cp "$work/lame-exe/frontend/lame.exe" "$out.tmp" && $host-strip "$out.tmp" && mv "$out.tmp" "$out"
    cp "$built" "$dll.tmp" && $host-strip --strip-unneeded "$dll.tmp" && mv "$dll.tmp" "$dll"
    echo "$lame_recipe" >"$stamp"
    say "lame.exe ($arch): built ($(stat -c %s "$out") bytes); libmp3lame.dll: $(stat -c %s "$dll") bytes"
}

# Whether this machine's kernel runs 32-bit programs (tools/wine-env.sh tells). The 64-bit build is
# tested wherever the 32-bit one cannot be.
runs_x86() { pvl_runs_x86; }

# A private Wine prefix per architecture: no display needed (null graphics driver), no crash
# debugger, audio through ALSA (whose default device is set up by tools/wine-run).
make_prefix() {
    local arch=$1
    ( pvl_wine_env "$arch"
    local prefix=$WINEPREFIX log=$build/wineboot-$arch.log reg=$build/pvl-prefix.reg
    # With Auto set and no debugger, a crash ends the crashing program at once instead of waiting
    # for a debugger that never comes.
    cat >"$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Graphics"="null"
"Audio"="alsa"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"=""
"Auto"="1"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
    # Drive T: is a folder of the build's, so that tests can install a component at a drive root.
    if [ -d "$prefix/dosdevices" ]; then
        mkdir -p "$build/drive-t-$arch"
        ln -sfn "$build/drive-t-$arch" "$prefix/dosdevices/t:"
    fi
    local want; want=$(md5sum <"$reg" | cut -d' ' -f1)
    if [ "$(cat "$prefix/.pvl-ready" 2>/dev/null)" = "$want" ]; then say "wine prefix ($arch): ready"; return; fi
    "$WINESERVER" -k >/dev/null 2>&1 </dev/null || true   # a server left running would never let -w return
    if [ ! -f "$prefix/system.reg" ]; then
        say "wine prefix ($arch): creating $prefix"
        "$PVL_WINE" wineboot -i >"$log" 2>&1 </dev/null || fail "wineboot ($arch)" "see $log"
    fi
    "$PVL_WINE" regedit /S "Z:${reg//\//\\}" >>"$log" 2>&1 </dev/null || fail "importing the prefix settings ($arch)" "see $log"
    "$WINESERVER" -w
    grep -q '"Graphics"="null"' "$prefix/user.reg" || fail "the prefix settings did not take ($arch)" "see $log"
    mkdir -p "$build/drive-t-$arch"
    ln -sfn "$build/drive-t-$arch" "$prefix/dosdevices/t:"
    echo "$want" >"$prefix/.pvl-ready"
    say "wine prefix ($arch): ready" )
}

# The architectures whose programs can run here: written for the build and the test command.
test_arches() {
    if runs_x86; then echo "x86 x64"; else echo "x64"; fi
}

mkdir -p "$build" "$cache"
case "${1:-all}" in
    prefix)
        for a in $(test_arches); do make_prefix "$a"; done ;;
    all)
        install_packages
        build_lame x86; build_lame x64
        arches=$(test_arches)
        runs_x86 || say "note: this machine cannot run 32-bit programs${PVL_NO_X86:+ (PVL_NO_X86 is set)}; the 32-bit add-in is built and checked, and the 64-bit build of the same sources runs the tests"
        for a in $arches; do make_prefix "$a"; done
        echo "$arches" >"$build/test-arches" ;;
    *) fail "unknown step '$1'" "usage: $0 [all|prefix]" ;;
esac
