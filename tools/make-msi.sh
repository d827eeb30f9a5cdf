#!/usr/bin/env bash
# Builds a per-machine Windows Installer package of one build of the add-in with msitools' wixl
# (Debian's wixl package), from installer/parvaline.wxs:
#   tools/make-msi.sh FILES_DIR OUTPUT.msi [VERSION]
# FILES_DIR is a build folder (or the folder of the files shipped from it): pvlAddIn.dll, lame.exe,
# libmp3lame.dll and registry.wxi, the add-in's registry rows made by the build. The package's
# bitness is the add-in's. VERSION defaults to the project's (CMakeLists.txt), as major.minor.build.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
usage="usage: make-msi.sh FILES_DIR OUTPUT.msi [VERSION]"
files=${1:?$usage}
outfile=${2:?$usage}
version=${3:-$(sed -n 's/^project(Parvaline VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")}
source "$root/tools/wine-env.sh"
for tool in wixl wixl-heat; do
    command -v $tool >/dev/null || { echo "make-msi: $tool not found (Debian's wixl package; tools/setup.sh installs it)" >&2; exit 2; }
done
for f in pvlAddIn.dll lame.exe libmp3lame.dll registry.wxi; do
    [ -f "$files/$f" ] || { echo "make-msi: no $files/$f: build it first" >&2; exit 2; }
done
arch=$(pvl_pe_arch "$files/pvlAddIn.dll")
case $arch in
    x86) win64=no ;;
    x64) win64=yes ;;
    *) echo "make-msi: $files/pvlAddIn.dll is not a 32- or 64-bit Windows module" >&2; exit 2 ;;
esac
[[ $version =~ ^[0-9]+\.[0-9]+$ ]] && version=$version.0
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "make-msi: version '$version' is not major.minor.build" >&2; exit 2; }
lame=$(find -H "$root/build/cache" -mindepth 4 -maxdepth 4 -name COPYING -path '*/lame-src/lame-*/COPYING' 2>/dev/null | head -n1)
[ -n "$lame" ] || { echo "make-msi: Debian's LAME source is not in build/cache (tools/setup.sh fetches it)" >&2; exit 2; }

# The installation folder as it will be, in a work folder beside the package: wixl takes sources
# relative to its working folder only.
mkdir -p "$(dirname "$outfile")"
outfile=$(cd "$(dirname "$outfile")" && pwd)/$(basename "$outfile")
work=$outfile.work
rm -rf "$work"
mkdir -p "$work/stage/Help" "$work/stage/Licences"
cp "$files/pvlAddIn.dll" "$files/lame.exe" "$files/libmp3lame.dll" "$work/stage/"
cp "$root"/help/*.htm "$work/stage/Help/"
cp "$(dirname "$lame")/COPYING" "$work/stage/Licences/LAME-COPYING.txt"
cp "$(dirname "$lame")/LICENSE" "$work/stage/Licences/LAME-LICENSE.txt"
cp "$root/installer/third-party.txt" "$work/stage/Licences/Third-party.txt"
cp "$files/registry.wxi" "$work/"
# Every file but the add-in (which carries the registration) as the component group "Files".
(cd "$work" && find stage -type f ! -path stage/pvlAddIn.dll | sort \
    | wixl-heat --prefix stage/ --directory-ref INSTALLDIR --component-group Files --var var.Stage --win64 >files.wxs)
# One product per bitness and version: the same version rebuilt is the same product.
product=$(python3 -c "import sys, uuid; print(str(uuid.uuid5(uuid.UUID('DFF85A0F-27DC-4A8E-B318-24FE6B259428'), sys.argv[1])).upper())" \
    "Parvaline $arch $version")
(cd "$work" && wixl -a "$arch" -D Arch="$arch" -D Win64=$win64 -D Version="$version" -D ProductCode="$product" \
    -D Stage=stage -D Registry=registry.wxi -o "$outfile" "$root/installer/parvaline.wxs" files.wxs)
rm -rf "$work"
echo "make-msi: $outfile ($arch, version $version, $(stat -c %s "$outfile") bytes)"
