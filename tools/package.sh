#!/usr/bin/env bash
# Everything shipped, made from the two builds: the per-user Setup program (carrying both builds)
# and the per-machine packages, one per bitness of Outlook.
#   tools/package.sh X86_BUILD_DIR X64_BUILD_DIR OUT_DIR [MSI_VERSION]
# Writes OUT_DIR/Parvaline-Setup.exe, OUT_DIR/Parvaline-x86.msi and OUT_DIR/Parvaline-x64.msi, and
# the shipped programs and DLLs in OUT_DIR/shipped/<arch>/; the tools' output goes to
# OUT_DIR/package.log. When given a code-signing certificate (PVL_SIGN_PFX, PVL_SIGN_PASSWORD, and
# optionally PVL_SIGN_TIMESTAMP: see tools/sign.sh), it signs each program and DLL before it is
# packed, the Setup's uninstaller as it is written, and then each package; without one it signs
# nothing and says so.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
usage="usage: package.sh X86_BUILD_DIR X64_BUILD_DIR OUT_DIR [MSI_VERSION]"
x86=${1:?$usage}
x64=${2:?$usage}
out=${3:?$usage}
version=${4:-}
mkdir -p "$out"
out=$(cd "$out" && pwd)
log=$out/package.log
: >"$log"
run() { "$@" >>"$log" 2>&1 || { tail -n 20 "$log" >&2; echo "package: '$*' failed (see $log)" >&2; exit 1; }; }

signing=
if [ -n "${PVL_SIGN_PFX:-}" ]; then
    signing=1
    echo "signing with $PVL_SIGN_PFX (Authenticode, SHA-256${PVL_SIGN_TIMESTAMP:+, time-stamped by $PVL_SIGN_TIMESTAMP})"
else
    echo "not signing: no code-signing certificate is given (PVL_SIGN_PFX); the shipped files are unsigned"
fi
sign() { [ -z "$signing" ] || run "$root/tools/sign.sh" "$@"; }

# The files each package carries, copied so that signing them leaves the builds as they are.
for arch in x86 x64; do
    dir=$([ $arch = x86 ] && echo "$x86" || echo "$x64")
    rm -rf "$out/shipped/$arch"
    mkdir -p "$out/shipped/$arch"
    for f in pvlAddIn.dll lame.exe libmp3lame.dll registry.wxi; do
        [ -f "$dir/$f" ] || { echo "package: no $dir/$f: build it first" >&2; exit 2; }
        cp "$dir/$f" "$out/shipped/$arch/"
    done
    # The add-in as users get it: without its debugging sections (3.6 MiB of them), which stay in
    # the build for the debugger.
    run "$([ $arch = x86 ] && echo i686 || echo x86_64)-w64-mingw32-strip" --strip-debug "$out/shipped/$arch/pvlAddIn.dll"
    sign "$out/shipped/$arch/pvlAddIn.dll" "$out/shipped/$arch/lame.exe" "$out/shipped/$arch/libmp3lame.dll"
done

# The Setup is itself a 32-bit program, which runs on every Windows.
run "$root/tools/make-installer.sh" "$out/shipped/x86" "$out/shipped/x64" "$out/Parvaline-Setup.exe" x86
sign "$out/Parvaline-Setup.exe"
for arch in x86 x64; do
    run "$root/tools/make-msi.sh" "$out/shipped/$arch" "$out/Parvaline-$arch.msi" $version
    sign "$out/Parvaline-$arch.msi"
done
for f in Parvaline-Setup.exe Parvaline-x86.msi Parvaline-x64.msi; do
    echo "$f: $(stat -c %s "$out/$f") bytes${signing:+, signed}"
done
