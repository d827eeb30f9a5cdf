#!/usr/bin/env bash
# A per-machine package from an administrator's side, under Wine, in a fresh prefix of the build's
# bitness (Windows), installed silently with Wine's own msiexec:
#   msi_test.sh BUILD_DIR PACKAGE_BUILD_DIR [X64_BUILD_DIR]
# The package is made (tools/make-msi.sh) from PACKAGE_BUILD_DIR. Installed, its files lie in the
# Program Files folder of its bitness and its keys in the registry view of its bitness, key for key
# what that module's DllRegisterServer writes for a user, apart from the root; Parvaline Mail of its
# bitness finds the add-in through HKLM and records a voice mail into the user's
# %LOCALAPPDATA%\Parvaline; a later version replaces it, an earlier one is refused; removal leaves
# nothing of the package. In a 32-bit prefix, X64_BUILD_DIR's package must be refused.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
usage="usage: msi_test.sh BUILD_DIR PACKAGE_BUILD_DIR [X64_BUILD_DIR]"
build=$(cd "${1:?$usage}" && pwd)
[ -f "${2:?$usage}/registry.wxi" ] || { echo "FAIL: no build in $2 to make the package from: build it first"; exit 1; }
package_build=$(cd "$2" && pwd)
x64_build=${3:-}
source "$root/tools/wine-env.sh"
arch=$(pvl_pe_arch "$build/pvlAddIn.dll")        # Windows' bitness: the prefix's
pkg=$(pvl_pe_arch "$package_build/pvlAddIn.dll")  # the package's and its add-in's
work=$build/msi-test-$pkg
rm -rf "$work"; mkdir -p "$work"
source "$root/tests/install_lib.sh"
label="$pkg package on $arch Windows"
runs32=1; pvl_runs_x86 || runs32=
[ "$arch" = x86 ] && [ -z "$runs32" ] && { note "this machine runs no 32-bit programs: no 32-bit Windows to test on"; exit 0; }

# --- the packages: this version, a later one for the upgrade ---
for v in 1.0.0 1.0.1; do
    "$root/tools/make-msi.sh" "$package_build" "$work/Parvaline-$pkg-$v.msi" $v >>"$work/make-msi.log" 2>&1 \
        || { cat "$work/make-msi.log"; fail "make-msi $v"; finish; exit 1; }
done
msi=$work/Parvaline-$pkg-1.0.0.msi
# (Tables read whole before they are searched: under pipefail, grep -q ending a pipe early fails it.)
grep -q $'^ALLUSERS\t1\r*$' <<<"$(msiinfo export "$msi" Property)" && pass "ALLUSERS=1: per machine" || fail "no ALLUSERS=1"
[ "$(msiinfo export "$msi" CustomAction | wc -l)" = 3 ] || fail "the package has custom actions"

export PVL_CAPTURE_FILE=$package_build/audio/speech.raw
use_prefix "$arch" "$work/prefix" fresh
echo "prefix: $arch ($WINEPREFIX)"
localappdata=$(wine_ cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')
localappdata=$(realpath -m "$(wine_ winepath -u "$localappdata" | tr -d '\r')")
# The regsvr32 and the registry view of the package's bitness.
view=; regsvr32=regsvr32
if [ "$arch" = x64 ]; then
    view=/reg:${pkg#x}; [ "$view" = /reg:86 ] && view=/reg:32
    [ $pkg = x86 ] && regsvr32='C:\windows\syswow64\regsvr32.exe'
fi
other=; [ "$arch" = x64 ] && other=$([ $pkg = x64 ] && echo /reg:32 || echo /reg:64)

# --- what DllRegisterServer writes for a user, for the comparison below ---
module='C:\parvaline-rows\pvlAddIn.dll'
if [ $pkg = x64 ] || [ -n "$runs32" ]; then
    mkdir -p "$WINEPREFIX/drive_c/parvaline-rows"
    cp "$package_build/pvlAddIn.dll" "$WINEPREFIX/drive_c/parvaline-rows/"
    wine_ "$regsvr32" /s "$module" || fail "regsvr32 $module"
    reg_snapshot registered HKCU
    wine_ "$regsvr32" /u /s "$module"
    rm -rf "$WINEPREFIX/drive_c/parvaline-rows"
fi
# The component's keys and values in an export, one line each: the root and the 32-bit view's
# Wow6432Node left out, keys in lower case (the registry ignores case, and the keys both views share
# are exported twice, once through each view, in two spellings), the module's path and its folder
# (with or without the backslash a Windows Installer folder ends in) as <module> and <folder>.
component_lines() {  # EXPORT_TEXT MODULE_PATH
    M=$2 F=${2%\\*} OURS=$ours perl -ne '
        if (/^\[HKEY_[A-Z_]+\\(.*)\]$/) { ($key = lc $1) =~ s/\\wow6432node//; $in = $key =~ /$ENV{OURS}/i; print "$key\n" if $in; next }
        next unless $in && /\S/;
        (my $m = $ENV{M}) =~ s/\\/\\\\/g; (my $f = $ENV{F}) =~ s/\\/\\\\/g;
        s/\Q$m\E/<module>/g; s/\Q$f\E(\\\\)?"/<folder>"/g; print "$key | $_"' "$1" | sort -u
}

# --- a silent installation ---
files_snapshot before "$WINEPREFIX/drive_c"
reg_snapshot before-hklm HKLM
reg_snapshot before-hkcu HKCU
runs=0
msiexec_() { runs=$((runs + 1)); wine_ msiexec "$@" /qn /l*v "$(winepath_ "$work/msiexec-$runs.log")"; }
rc=0; msiexec_ /i "$(winepath_ "$msi")" || rc=$?
[ $rc = 0 ] && pass "$label: msiexec /i /qn (exit 0)" || fail "$label: msiexec /i /qn exited with $rc"
program_files=$WINEPREFIX/drive_c/$([ $arch = x64 ] && [ $pkg = x86 ] && echo 'Program Files (x86)' || echo 'Program Files')
dir=$program_files/Parvaline
win_dir="C:\\$(tr / '\\' <<<"${dir#$WINEPREFIX/drive_c/}")"
missing=
for f in pvlAddIn.dll lame.exe libmp3lame.dll Help/index.htm Help/troubleshooting.htm Help/administrators.htm \
         Licences/LAME-COPYING.txt Licences/LAME-LICENSE.txt Licences/Third-party.txt; do
    [ -f "$dir/$f" ] && { [[ $f = */* ]] || cmp -s "$dir/$f" "$package_build/$f"; } || missing="$missing $f"
done
[ -z "$missing" ] && pass "$label: the files are in $win_dir" || fail "$label: missing or not the $pkg build's:$missing"
addin_key='HKLM\Software\Microsoft\Office\Outlook\Addins\pvlAddIn.Connect'
class_key='HKLM\Software\Classes\CLSID\{1F5FCC6B-98CC-46BB-A0BB-5760C20E5652}\InprocServer32'
[ "$(query "$addin_key" LoadBehavior $view)" = 0x3 ] && pass "$label: the add-in entry (LoadBehavior 3) is in the $pkg view" \
    || fail "$label: no add-in entry in the $pkg registry view"
path=$(default_value "$class_key" $view)
[ "$path" = "$win_dir\\pvlAddIn.dll" ] && pass "$label: the class is registered in the $pkg view, at $path" || fail "$label: the class in the $pkg view is at '$path'"
if [ -f "$work/registered.txt" ]; then
    reg_snapshot installed HKLM
    if diff <(component_lines "$work/registered.txt" "$module") <(component_lines "$work/installed.txt" "$win_dir\\pvlAddIn.dll") \
            >"$work/rows.diff"; then
        pass "$label: the keys are DllRegisterServer's, key for key apart from the root: $(component_lines "$work/installed.txt" x | wc -l) lines"
    else
        cat "$work/rows.diff"; fail "$label: the package's keys differ from DllRegisterServer's (< per user, > the package's)"
    fi
else
    note "this machine runs no 32-bit programs: the x86 package's keys are not compared with the x86 DllRegisterServer's"
fi
if [ -n "$other" ]; then
    [ -n "$(query "$addin_key" LoadBehavior $other)" ] && fail "$label: an add-in entry in the other view ($other)"
    [ -n "$(default_value "$class_key" $other)" ] && fail "$label: the class is registered in the other view ($other)"
fi

# --- Parvaline Mail of the package's bitness finds it through HKLM and records a voice mail ---
# Where the recording goes is the add-in's rule: %LOCALAPPDATA%\Parvaline of the user, since the
# component's folder is not in the user's profile (checks marked "per-user recordings").
if [ $pkg = x64 ] || [ -n "$runs32" ]; then
    mail_records "$package_build" "$pkg" 'C:\\Program Files.*\\Parvaline\\pvlAddIn.dll (entered in HKLM)' \
        "$localappdata/Parvaline" "per-user recordings: %LOCALAPPDATA%\\Parvaline"
    recordings=$(cd "$dir" && ls | grep -i '\.wav$\|\.mp3$' | tr '\n' ' ')
    [ -z "$recordings" ] && pass "$label: nothing was written into $win_dir" \
        || fail "$label: per-user recordings: the recording was written into $win_dir: $recordings"
    # Not the package's files: they would stay, and hide what the removal leaves of its own.
    (cd "$dir" && rm -f $recordings)
else
    note "this machine runs no 32-bit programs: the x86 Parvaline Mail does not run here"
fi

# --- a later version replaces it; an earlier one is refused ---
products() {  # the installed products named Parvaline, as "name version" lines, from both views
    for v in /reg:64 /reg:32; do
        [ "$arch" = x86 ] && [ $v = /reg:32 ] && continue
        wine_ reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s $([ "$arch" = x64 ] && echo $v) 2>/dev/null \
            | tr -d '\r' | awk '/^HKEY/ { key = $0 } /DisplayName .*Parvaline/ { name[key] = 1 } /DisplayVersion/ { ver[key] = $3 }
                              END { for (k in name) print k, ver[k] }'
    done | sort -u
}
rc=0; msiexec_ /i "$(winepath_ "$work/Parvaline-$pkg-1.0.1.msi")" || rc=$?
installed=$(products)
if [ $rc = 0 ] && [ "$(wc -l <<<"$installed")" = 1 ] && grep -q ' 1\.0\.1$' <<<"$installed" && [ -f "$dir/pvlAddIn.dll" ] \
        && [ "$(query "$addin_key" LoadBehavior $view)" = 0x3 ]; then
    pass "$label: 1.0.1 over 1.0.0 leaves one installation, of 1.0.1, registered"
else
    fail "$label: the upgrade (exit $rc) left: ${installed:-no product}"
fi
rc=0; msiexec_ /i "$(winepath_ "$msi")" || rc=$?
[ $rc != 0 ] && [ "$(products)" = "$installed" ] && pass "$label: 1.0.0 over 1.0.1 is refused (exit $rc)" \
    || fail "$label: 1.0.0 over 1.0.1 exited with $rc, leaving: $(products)"

# --- a silent removal leaves nothing of the package ---
rc=0; msiexec_ /x "$(winepath_ "$work/Parvaline-$pkg-1.0.1.msi")" || rc=$?
[ $rc = 0 ] && pass "$label: msiexec /x /qn (exit 0)" || fail "$label: msiexec /x /qn exited with $rc"
[ -d "$dir" ] && fail "$label: left behind: $(cd "$dir" && find . | tr '\n' ' ')"
files_snapshot after "$WINEPREFIX/drive_c"
reg_snapshot after-hklm HKLM
reg_snapshot after-hkcu HKCU
# What Windows Installer keeps for itself (its cache folder, emptied bookkeeping keys) and Wine's
# own churn between snapshots are not the package's; the user's recordings are the user's.
new_files=$(comm -13 "$work/before.files" "$work/after.files" | grep -v -e '^\./windows/' \
    -e "^\./users/[^/]*/AppData/Local/Parvaline\(/\|$\)" || true)
[ -z "$new_files" ] && pass "$label: no file or folder left" || fail "$label: files left: $new_files"
left=$(grep -ihE "$ours" "$work/after-hklm.txt" "$work/after-hkcu.txt" || true)
[ -z "$left" ] && pass "$label: no registry entry of ours left" || fail "$label: registry entries left: $left"
churn='\\(Installer|Control\\Class|NetworkCards|MMDevices|Wine)(\\|\])'
new_keys=$(cat <(comm -13 "$work/before-hklm.keys" "$work/after-hklm.keys") <(comm -13 "$work/before-hkcu.keys" "$work/after-hkcu.keys") \
    | grep -vE "$churn" || true)
[ -z "$new_keys" ] && pass "$label: no registry key left" || fail "$label: registry keys left: $new_keys"

# --- 32-bit Windows refuses the x64 package, installing nothing ---
if [ "$arch" = x86 ] && [ -n "$x64_build" ] && [ -f "$x64_build/registry.wxi" ]; then
    "$root/tools/make-msi.sh" "$x64_build" "$work/Parvaline-x64.msi" >>"$work/make-msi.log" 2>&1 || fail "make-msi x64"
    grep -q $'^VersionNT64\t.*64-bit Windows' <<<"$(msiinfo export "$work/Parvaline-x64.msi" LaunchCondition)" \
        && pass "the x64 package's condition says it needs 64-bit Windows" || fail "the x64 package has no VersionNT64 condition"
    rc=0; msiexec_ /i "$(winepath_ "$work/Parvaline-x64.msi")" || rc=$?
    # 1633, ERROR_INSTALL_PLATFORM_UNSUPPORTED, reaches the shell as 1633 & 255 = 97.
    [ $rc = 97 ] && pass "32-bit Windows refuses the x64 package (1633: platform not supported)" \
        || fail "32-bit Windows: the x64 package's installation exited with $rc, not 1633 (97)"
    files_snapshot refused "$WINEPREFIX/drive_c"
    reg_snapshot refused-hklm HKLM
    left=$(comm -13 "$work/after.files" "$work/refused.files" | grep -v '^\./windows/'; grep -ihE "$ours" "$work/refused-hklm.txt"; products)
    [ -z "$left" ] && pass "32-bit Windows: the refused package installed nothing" || fail "32-bit Windows: the refused package left: $left"
fi
end_prefix
rm -rf "$WINEPREFIX"  # a copy of the project's prefix; what happened in it is in $work
finish
