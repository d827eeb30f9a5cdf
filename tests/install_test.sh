#!/usr/bin/env bash
# The installer from a user's side, under Wine: a silent installation for the current user; then
# Parvaline Mail, loading add-ins from the registry as the mail client does, finds the installed
# add-in and records a voice mail with it; then a silent uninstallation, after which no file and no
# registry entry of Parvaline's is left. Also: a mail client recorded as 32-bit gets the x86 build.
#   install_test.sh BUILD_DIR [X86_BUILD_DIR]
# Runs in a prefix of its own (a copy of the project's, made once per build folder), so that what
# other tests register in the project's prefix neither disturbs it nor is disturbed.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:?usage: install_test.sh BUILD_DIR [X86_BUILD_DIR]}" && pwd)
x86=${2:-}
# The x86 build is carried by the installer; where it is not built, the x64 one stands in for it.
if [ -z "$x86" ] || [ ! -f "$x86/pvlAddIn.dll" ] || [ ! -f "$x86/lame.exe" ]; then x86=$build; fi
work=$build/install-test
rm -rf "$work"; mkdir -p "$work"
failures=0
pass() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

"$root/tools/make-installer.sh" "$x86" "$build" "$work/Parvaline-Setup.exe" amd64 >"$work/makensis.log" 2>&1 \
    || { cat "$work/makensis.log"; echo "FAIL: makensis"; exit 1; }
pass "Parvaline-Setup.exe built ($(stat -c %s "$work/Parvaline-Setup.exe") bytes)"

source "$root/tools/wine-env.sh"
pvl_wine_env x64
base=$WINEPREFIX
export WINEPREFIX=$build/install-test-prefix
[ -d "$WINEPREFIX" ] || cp -a "$base" "$WINEPREFIX"
export PVL_CAPTURE_FILE=$build/audio/speech.raw
trap '"$WINESERVER" -k >/dev/null 2>&1 </dev/null || true' EXIT
"$WINESERVER" -p >"$work/wineserver.log" 2>&1 </dev/null || true
"$PVL_WINE" wineboot >>"$work/wineserver.log" 2>&1 </dev/null || true
wine_() { "$PVL_WINE" "$@" </dev/null; }
users=$WINEPREFIX/drive_c/users
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Parvaline'

# Our traces: the files under the users' folders and the current user's registry, as text.
snapshot() {  # NAME
    (cd "$users" && find . -path '*/Temp' -prune -o -print | sort) >"$work/$1.files"
    rm -f "$work/$1.reg"
    wine_ reg export HKCU "$(winepath_ "$work/$1.reg")" /y >/dev/null 2>&1
    iconv -f UTF-16LE -t UTF-8 "$work/$1.reg" 2>/dev/null | tr -d '\r' | grep '^\[' | sort >"$work/$1.keys"
    iconv -f UTF-16LE -t UTF-8 "$work/$1.reg" 2>/dev/null | tr -d '\r' >"$work/$1.txt"
}
winepath_() { echo "Z:${1//\//\\}"; }
ours='Parvaline|pvlAddIn|1F5FCC6B-98CC-46BB-A0BB-5760C20E5652|50654119-3BF3-4A45-97E1-C2E11656C8F5|255541DA-B966-4395-8B9C-20BC485F6CF1'

# Leftovers of an interrupted earlier run would hide what this one does.
office='HKLM\Software\Microsoft\Office\16.0\Outlook'
wine_ reg delete "$office" /v Bitness /f >/dev/null 2>&1
if grep -qiE "$ours" <(wine_ reg query "$uninstall_key" 2>/dev/null); then
    dir=$(find "$users" -path '*/AppData/Local/Programs/Parvaline' -type d | head -n1)
    [ -n "$dir" ] && wine_ "$dir/Uninstall.exe" /S _?="$(winepath_ "$dir")" >/dev/null 2>&1
fi
# A registration copied along with the project's prefix (other tests register the built add-in there).
for key in 'Software\Microsoft\Office\Outlook\Addins\pvlAddIn.Connect' 'Software\Classes\pvlAddIn.Connect' \
           'Software\Classes\CLSID\{1F5FCC6B-98CC-46BB-A0BB-5760C20E5652}' \
           'Software\Classes\TypeLib\{50654119-3BF3-4A45-97E1-C2E11656C8F5}' \
           'Software\Classes\Interface\{255541DA-B966-4395-8B9C-20BC485F6CF1}'; do
    wine_ reg delete "HKCU\\$key" /f >/dev/null 2>&1
done
snapshot before
grep -qiE "$ours" "$work/before.txt" && fail "the prefix holds Parvaline's registry entries before installing"

# --- a silent installation ---
wine_ "$work/Parvaline-Setup.exe" /S >"$work/install.log" 2>&1
rc=$?
[ $rc = 0 ] && pass "silent installation (exit 0)" || fail "silent installation exited with $rc"
dir=$(find "$users" -path '*/AppData/Local/Programs/Parvaline' -type d | head -n1)
if [ -z "$dir" ]; then
    fail "no folder %LOCALAPPDATA%\\Programs\\Parvaline"; echo "$failures failed"; exit 1
fi
pass "installed into ${dir#$WINEPREFIX/}"
for f in pvlAddIn.dll lame.exe libmp3lame.dll Help/index.htm Help/troubleshooting.htm Licences/LAME-COPYING.txt \
         Licences/LAME-LICENSE.txt Licences/Third-party.txt Uninstall.exe; do
    [ -f "$dir/$f" ] || fail "not installed: $f"
done
machine() { od -An -tx2 -j "$(( $(od -An -tu4 -j60 -N4 "$1") + 4 ))" -N2 "$1" | tr -d ' '; }
[ "$(machine "$dir/pvlAddIn.dll")" = 8664 ] && pass "the x64 add-in was installed (silent, no client bitness recorded: the system's)" \
    || fail "the installed add-in is not the x64 build"
cmp -s "$dir/pvlAddIn.dll" "$build/pvlAddIn.dll" || fail "the installed add-in is not the built one"
query() { wine_ reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v v="$2" '$1 == v { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }
[ "$(query "$uninstall_key" DisplayName)" = Parvaline ] || fail "no DisplayName in the list of installed programs"
[ "$(query "$uninstall_key" DisplayVersion)" = 1.0 ] || fail "DisplayVersion is not 1.0"
[ "$(query "$uninstall_key" Publisher)" = Parvaline ] || fail "no Publisher"
[ "$(query "$uninstall_key" NoModify)" = 0x1 ] || fail "NoModify is not 1"
[ "$(query "$uninstall_key" NoRepair)" = 0x1 ] || fail "NoRepair is not 1"
query "$uninstall_key" UninstallString | grep -q 'Uninstall.exe' || fail "no UninstallString"
query "$uninstall_key" InstallLocation | grep -qi 'Programs\\Parvaline' || fail "no InstallLocation"
[ "$(query 'HKCU\Software\Microsoft\Office\Outlook\Addins\pvlAddIn.Connect' LoadBehavior)" = 0x3 ] \
    && pass "registered: the mail client's add-in entry has LoadBehavior 3" || fail "the add-in entry is missing"

# --- the mail client finds it in the registry and records a voice mail ---
eml=$work/voice.eml
wine_ "$build/pvlMail.exe" --out "$(winepath_ "$work")" --script "record:1,stop,save:$(winepath_ "$eml")" >"$work/mail.log" 2>&1
rc=$?
grep -E '^(mail|summary):' "$work/mail.log"
[ $rc = 0 ] || fail "Parvaline Mail exited with $rc (see $work/mail.log)"
grep -qi 'loaded add-in pvlAddIn.Connect from C:\\users\\.*\\Programs\\Parvaline\\pvlAddIn.dll' "$work/mail.log" \
    && pass "the mail client loaded the installed add-in from the registry" || fail "the mail client did not load the installed add-in"
[ -f "$dir/Parvaline.mp3" ] && [ -f "$dir/Parvaline.wav" -o -f "$dir/parvaline.wav" ] \
    && pass "the recording and its MP3 lie beside the installed add-in" || fail "no recording beside the installed add-in"
if [ -f "$eml" ] && python3 "$root/tools/check_eml.py" "$eml" "$dir/Parvaline.mp3"; then
    pass "the saved mail carries the MP3"
else
    fail "the saved mail does not carry the MP3"
fi

# --- a silent uninstallation leaves nothing of ours ---
wine_ "$dir/Uninstall.exe" /S >"$work/uninstall.log" 2>&1
# The uninstaller runs from a copy of itself in the temporary folder and returns at once.
gone() { [ ! -d "$dir" ] && ! wine_ reg query "$uninstall_key" >/dev/null 2>&1; }
for _ in $(seq 1 120); do gone && break; sleep 0.5; done
sleep 1
[ -d "$dir" ] && fail "the folder is still there: $(cd "$dir" && find . -type f | tr '\n' ' ')" || pass "the installation folder is gone"
snapshot after
new_files=$(comm -13 "$work/before.files" "$work/after.files")
[ -z "$new_files" ] && pass "no file left under the user's folders" || fail "files left: $new_files"
new_keys=$(comm -13 "$work/before.keys" "$work/after.keys")
left=$(grep -iE "$ours" "$work/after.txt" || true)
[ -z "$left" ] && pass "no registry entry of ours is left" || fail "registry entries left: $left"
[ -z "$new_keys" ] && pass "no registry key was added" || fail "registry keys left: $new_keys"

# --- a mail client recorded as 32-bit gets the x86 build ---
# HKLM is written by the test in its own prefix; the installer only reads it.
wine_ reg add "$office" /v Bitness /d x86 /f >/dev/null 2>&1
wine_ "$work/Parvaline-Setup.exe" /S >"$work/install-x86.log" 2>&1
rc=$?
dir=$(find "$users" -path '*/AppData/Local/Programs/Parvaline' -type d | head -n1)
if [ -n "$dir" ] && [ -f "$dir/pvlAddIn.dll" ]; then
    [ "$(query "$uninstall_key" Architecture)" = x86 ] && pass "Outlook recorded as x86: the x86 build was chosen" \
        || fail "Outlook recorded as x86, but the installer chose $(query "$uninstall_key" Architecture)"
    cmp -s "$dir/pvlAddIn.dll" "$x86/pvlAddIn.dll" || fail "the installed add-in is not the x86 build's"
    # Registering a 32-bit module needs the 32-bit regsvr32, which this kernel may not run.
    echo "note: installation for a 32-bit client exited with $rc (registration needs 32-bit programs to run)"
    wine_ "$dir/Uninstall.exe" /S >/dev/null 2>&1
    for _ in $(seq 1 120); do gone && break; sleep 0.5; done
    [ -d "$dir" ] && fail "the x86 installation's folder is still there after uninstalling"
else
    fail "installing for a 32-bit client left no add-in (exit $rc)"
fi
# /ARCH= on the command line decides over what the system records.
wine_ "$work/Parvaline-Setup.exe" /S /ARCH=x64 >"$work/install-arch.log" 2>&1
rc=$?
dir=$(find "$users" -path '*/AppData/Local/Programs/Parvaline' -type d | head -n1)
if [ $rc = 0 ] && [ -n "$dir" ] && [ "$(query "$uninstall_key" Architecture)" = x64 ] && cmp -s "$dir/pvlAddIn.dll" "$build/pvlAddIn.dll"; then
    pass "/ARCH=x64 installs the x64 build although Outlook is recorded as x86"
else
    fail "/ARCH=x64 did not install the x64 build (exit $rc)"
fi
[ -n "$dir" ] && wine_ "$dir/Uninstall.exe" /S >/dev/null 2>&1
for _ in $(seq 1 120); do gone && break; sleep 0.5; done
[ -n "$dir" ] && [ -d "$dir" ] && fail "the /ARCH=x64 installation's folder is still there after uninstalling"
wine_ reg delete "$office" /v Bitness /f >/dev/null 2>&1

echo "$failures failed"
[ $failures = 0 ]
