#!/usr/bin/env bash
# The installer from a user's side, under Wine, in a prefix of the build's architecture: a silent
# installation for the current user takes the build of Windows' own bitness and registers it with
# the regsvr32 of that bitness; Parvaline Mail of the same bitness, loading add-ins from the
# registry as the mail client does, finds the installed add-in and records a voice mail with it; a
# silent uninstallation leaves no file and no registry entry of Parvaline's. Then the other
# choices: in a 64-bit prefix an Outlook recorded as 32-bit gets the x86 build (registered with the
# 32-bit regsvr32, in the 32-bit registry view, and used by the x86 Parvaline Mail) and /ARCH=x64
# decides over that record; in a 32-bit prefix an Outlook recorded as 64-bit is refused cleanly.
#   install_test.sh BUILD_DIR X86_BUILD_DIR X64_BUILD_DIR
# The Setup program tested is the shipped one, NSIS's x86-unicode build. Where this machine runs no
# 32-bit programs, the same script's amd64-unicode build stands in for it (the output says so).
# Runs in a prefix of its own (a copy of the project's, made once per build folder), so that what
# other tests register in the project's prefix neither disturbs it nor is disturbed.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
usage="usage: install_test.sh BUILD_DIR X86_BUILD_DIR X64_BUILD_DIR"
build=$(cd "${1:?$usage}" && pwd)
x86=${2:?$usage}
x64=${3:?$usage}
work=$build/install-test
source "$root/tests/install_lib.sh"
arch=$(pvl_pe_arch "$build/pvlAddIn.dll")
[ -n "$arch" ] || { echo "FAIL: $build/pvlAddIn.dll is not a Windows module"; exit 1; }
# The installer carries both builds; where one of them is not built, this build stands in for it.
built() { [ -f "$1/pvlAddIn.dll" ] && [ -f "$1/lame.exe" ]; }
built "$x86" && [ "$(pvl_pe_arch "$x86/pvlAddIn.dll")" = x86 ] || x86=$build
built "$x64" && [ "$(pvl_pe_arch "$x64/pvlAddIn.dll")" = x64 ] || x64=$build
x86=$(cd "$x86" && pwd); x64=$(cd "$x64" && pwd)
rm -rf "$work"; mkdir -p "$work"

if pvl_runs_x86; then
    stub=x86
    note "testing the shipped Setup program, NSIS's x86-unicode build"
else
    stub=amd64
    note "this machine runs no 32-bit programs: the same script's amd64-unicode build stands in for the shipped x86-unicode Setup"
fi
"$root/tools/make-installer.sh" "$x86" "$x64" "$work/Parvaline-Setup.exe" $stub >"$work/makensis.log" 2>&1 \
    || { cat "$work/makensis.log"; echo "FAIL: makensis"; exit 1; }
setup_arch=$(pvl_pe_arch "$work/Parvaline-Setup.exe")
[ "$setup_arch" = "$([ $stub = x86 ] && echo x86 || echo x64)" ] \
    && pass "Parvaline-Setup.exe built ($setup_arch, $(stat -c %s "$work/Parvaline-Setup.exe") bytes)" \
    || fail "Parvaline-Setup.exe is a '$setup_arch' program, not the $stub build"

export PVL_CAPTURE_FILE=$build/audio/speech.raw
use_prefix "$arch" "$build/install-test-prefix"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Parvaline'
echo "prefix: $arch ($WINEPREFIX)"

# Our traces: the files under the users' folders and the current user's registry (both views).
snapshot() {  # NAME
    files_snapshot "$1" "$users"
    reg_snapshot "$1" HKCU
}
clsid_key='HKCU\Software\Classes\CLSID\{1F5FCC6B-98CC-46BB-A0BB-5760C20E5652}\InprocServer32'
installed_dir() { find "$users" -path '*/AppData/Local/Programs/Parvaline' -type d | head -n1; }
gone() { [ ! -d "$1" ] && ! wine_ reg query "$uninstall_key" >/dev/null 2>&1; }

# Leftovers of an interrupted earlier run would hide what this one does.
office='HKLM\Software\Microsoft\Office\16.0\Outlook'
wine_ reg delete "$office" /v Bitness /f >/dev/null 2>&1
if grep -qiE "$ours" <(wine_ reg query "$uninstall_key" 2>/dev/null); then
    dir=$(installed_dir)
    [ -n "$dir" ] && wine_ "$dir/Uninstall.exe" /S _?="$(winepath_ "$dir")" >/dev/null 2>&1
fi
# A registration copied along with the project's prefix (other tests register the built add-in there).
for key in 'Software\Microsoft\Office\Outlook\Addins\pvlAddIn.Connect' 'Software\Classes\pvlAddIn.Connect' \
           'Software\Classes\CLSID\{1F5FCC6B-98CC-46BB-A0BB-5760C20E5652}' \
           'Software\Classes\TypeLib\{50654119-3BF3-4A45-97E1-C2E11656C8F5}' \
           'Software\Classes\Interface\{255541DA-B966-4395-8B9C-20BC485F6CF1}'; do
    wine_ reg delete "HKCU\\$key" /f >/dev/null 2>&1
    [ "$arch" = x64 ] && wine_ reg delete "HKCU\\$key" /f /reg:32 >/dev/null 2>&1
done
# Every Windows profile has this key; a fresh Wine prefix may not yet.
wine_ reg add 'HKCU\Software\Classes' /f >/dev/null 2>&1
snapshot before
grep -qiE "$ours" "$work/before.txt" && fail "the prefix holds Parvaline's registry entries before installing"

# Runs the uninstaller and checks that nothing of ours is left: no folder, no file, no key.
uninstall_and_check() {  # DIR LABEL
    local dir=$1 label=$2
    wine_ "$dir/Uninstall.exe" /S >"$work/uninstall-$label.log" 2>&1
    # The uninstaller runs from a copy of itself in the temporary folder and returns at once.
    for _ in $(seq 1 120); do gone "$dir" && break; sleep 0.5; done
    sleep 1
    [ -d "$dir" ] && fail "$label: the folder is still there: $(cd "$dir" && find . -type f | tr '\n' ' ')" \
        || pass "$label: the installation folder is gone"
    snapshot "after-$label"
    local new_files new_keys left
    new_files=$(comm -13 "$work/before.files" "$work/after-$label.files")
    [ -z "$new_files" ] && pass "$label: no file left under the user's folders" || fail "$label: files left: $new_files"
    left=$(grep -iE "$ours" "$work/after-$label.txt" || true)
    [ -z "$left" ] && pass "$label: no registry entry of ours is left" || fail "$label: registry entries left: $left"
    # Wine's own keys (its audio driver lists the devices a recording used) are not ours.
    new_keys=$(comm -13 "$work/before.keys" "$work/after-$label.keys" | grep -v '^\[HKEY_CURRENT_USER\\Software\\Wine\\' || true)
    [ -z "$new_keys" ] && pass "$label: no registry key was added" || fail "$label: registry keys left: $new_keys"
}

# The registration of the add-in of bitness WANT, checked where a mail client of that bitness
# looks: the add-in entry, and the class's module path in that bitness's registry view.
check_registration() {  # DIR WANT LABEL
    local dir=$1 want=$2 label=$3 view=
    [ "$arch" = x64 ] && view=/reg:${want#x}
    [ "$view" = /reg:86 ] && view=/reg:32
    [ "$(query 'HKCU\Software\Microsoft\Office\Outlook\Addins\pvlAddIn.Connect' LoadBehavior)" = 0x3 ] \
        && pass "$label: the mail client's add-in entry has LoadBehavior 3" || fail "$label: the add-in entry is missing"
    local path; path=$(default_value "$clsid_key" $view)
    if grep -qi 'Programs\\Parvaline\\pvlAddIn.dll$' <<<"$path"; then
        pass "$label: the class is registered in the ${want} registry view, at $path"
    else
        fail "$label: the class is not registered in the ${want} registry view (InprocServer32: '${path}')"
    fi
    # (Wine shares HKCU\Software\Classes between the two views, so the other view is not checked
    # for its absence. That the regsvr32 of the add-in's bitness ran shows in the installation's
    # exit code: the other one cannot load the module.)
}

# Parvaline Mail of bitness CLIENT finds the installed add-in in the registry and records with it,
# beside the add-in (a per-user installation).
installed_mail_records() {  # DIR CLIENT_BUILD_DIR LABEL
    mail_records "$2" "$3" 'C:\\users\\.*\\Programs\\Parvaline\\pvlAddIn.dll' "$1"
}

# Which regsvr32 the Setup program started, from Wine's process trace in its log: the folder
# (system32, Sysnative or SysWOW64) it was started from.
regsvr32_folder() {  # LOG
    grep -o 'CreateProcessInternalW app [^ ]* cmdline L"\\"C:\\\\windows\\\\[A-Za-z0-9]*\\\\regsvr32.exe' "$1" | head -n1 \
        | sed 's/.*windows\\\\\([A-Za-z0-9]*\)\\\\regsvr32.exe/\1/' | tr 'A-Z' 'a-z'
}
# The regsvr32 that registers an add-in of bitness WANT: the one of the add-in's bitness, reached
# from the Setup program's bitness.
expected_regsvr32() {  # WANT
    if [ "$arch" = x86 ]; then echo system32
    elif [ "$1" = x86 ]; then echo syswow64
    elif [ "$setup_arch" = x86 ]; then echo sysnative
    else echo system32
    fi
}
check_regsvr32() {  # LOG WANT LABEL
    local used; used=$(regsvr32_folder "$1")
    [ "$used" = "$(expected_regsvr32 "$2")" ] \
        && pass "$3: registered with C:\\windows\\$used\\regsvr32.exe, the $2 one for this $setup_arch Setup on $arch Windows" \
        || fail "$3: registered with '${used:-no regsvr32}', not $(expected_regsvr32 "$2") (the $2 regsvr32 for a $setup_arch Setup on $arch Windows)"
}
# The Setup program, with Wine's process trace in its log.
setup_() { WINEDEBUG=+process wine_ "$work/Parvaline-Setup.exe" "$@"; }

# --- a silent installation: Windows' own bitness, as no Outlook bitness is recorded ---
rc=0; setup_ /S >"$work/install.log" 2>&1 || rc=$?
[ $rc = 0 ] && pass "silent installation (exit 0)" || fail "silent installation exited with $rc"
dir=$(installed_dir)
if [ -z "$dir" ]; then
    fail "no folder %LOCALAPPDATA%\\Programs\\Parvaline"; echo "$failures failed"; exit 1
fi
pass "installed into ${dir#$WINEPREFIX/}"
for f in pvlAddIn.dll lame.exe libmp3lame.dll Help/index.htm Help/troubleshooting.htm Licences/LAME-COPYING.txt \
         Licences/LAME-LICENSE.txt Licences/Third-party.txt Uninstall.exe; do
    [ -f "$dir/$f" ] || fail "not installed: $f"
done
[ "$(pvl_pe_arch "$dir/pvlAddIn.dll")" = "$arch" ] \
    && pass "the $arch add-in was installed (silent, no Outlook bitness recorded: Windows' own)" \
    || fail "the installed add-in is the '$(pvl_pe_arch "$dir/pvlAddIn.dll")' build, not the $arch one of this $arch Windows"
cmp -s "$dir/pvlAddIn.dll" "$build/pvlAddIn.dll" || fail "the installed add-in is not the built one"
cmp -s "$dir/lame.exe" "$build/lame.exe" || fail "the installed encoder is not the $arch build's"
[ "$(query "$uninstall_key" DisplayName)" = Parvaline ] || fail "no DisplayName in the list of installed programs"
[ "$(query "$uninstall_key" DisplayVersion)" = 1.0 ] || fail "DisplayVersion is not 1.0"
[ "$(query "$uninstall_key" Publisher)" = Parvaline ] || fail "no Publisher"
[ "$(query "$uninstall_key" NoModify)" = 0x1 ] || fail "NoModify is not 1"
[ "$(query "$uninstall_key" NoRepair)" = 0x1 ] || fail "NoRepair is not 1"
[ "$(query "$uninstall_key" Architecture)" = "$arch" ] || fail "Architecture is not $arch"
query "$uninstall_key" UninstallString | grep -q 'Uninstall.exe' || fail "no UninstallString"
query "$uninstall_key" InstallLocation | grep -qi 'Programs\\Parvaline' || fail "no InstallLocation"
check_registration "$dir" "$arch" "$arch"
check_regsvr32 "$work/install.log" "$arch" "$arch"
installed_mail_records "$dir" "$build" "$arch"
uninstall_and_check "$dir" "$arch"

if [ "$arch" = x64 ]; then
    # --- an Outlook recorded as 32-bit on 64-bit Windows gets the x86 build ---
    # HKLM is written by the test in its own prefix; the installer only reads it.
    wine_ reg add "$office" /v Bitness /d x86 /f >/dev/null 2>&1
    rc=0; setup_ /S >"$work/install-x86.log" 2>&1 || rc=$?
    dir=$(installed_dir)
    if [ -n "$dir" ] && [ -f "$dir/pvlAddIn.dll" ]; then
        [ "$(query "$uninstall_key" Architecture)" = x86 ] && pass "Outlook recorded as x86: the x86 build was chosen" \
            || fail "Outlook recorded as x86, but the installer chose $(query "$uninstall_key" Architecture)"
        cmp -s "$dir/pvlAddIn.dll" "$x86/pvlAddIn.dll" || fail "the installed add-in is not the x86 build's"
        if pvl_runs_x86; then
            [ $rc = 0 ] && pass "x86 on 64-bit Windows: installation exit 0" || fail "x86 on 64-bit Windows: installation exited with $rc"
            check_registration "$dir" x86 "x86 on x64"
            check_regsvr32 "$work/install-x86.log" x86 "x86 on x64"
            if [ "$x86" != "$build" ] && [ -f "$x86/pvlMail.exe" ]; then
                installed_mail_records "$dir" "$x86" "x86-on-x64"
            else
                note "no x86 build of Parvaline Mail beside this one: the 32-bit mail client is not run here"
            fi
        else
            # Registering a 32-bit module needs the 32-bit regsvr32, which this machine cannot run.
            note "this machine runs no 32-bit programs: the x86 installation's registration (exit $rc) is not checked"
        fi
        uninstall_and_check "$dir" "x86-on-x64"
    else
        fail "installing for a 32-bit Outlook left no add-in (exit $rc)"
    fi
    # --- /ARCH= on the command line decides over what the system records ---
    rc=0; setup_ /S /ARCH=x64 >"$work/install-arch.log" 2>&1 || rc=$?
    dir=$(installed_dir)
    if [ $rc = 0 ] && [ -n "$dir" ] && [ "$(query "$uninstall_key" Architecture)" = x64 ] && cmp -s "$dir/pvlAddIn.dll" "$x64/pvlAddIn.dll"; then
        pass "/ARCH=x64 installs the x64 build although Outlook is recorded as x86"
        check_registration "$dir" x64 "/ARCH=x64"
        check_regsvr32 "$work/install-arch.log" x64 "/ARCH=x64"
    else
        fail "/ARCH=x64 did not install the x64 build (exit $rc)"
    fi
    [ -n "$dir" ] && uninstall_and_check "$dir" "arch-x64"
else
    # --- 32-bit Windows: an Outlook recorded as 64-bit cannot be; the installer refuses, cleanly ---
    wine_ reg add "$office" /v Bitness /d x64 /f >/dev/null 2>&1
    rc=0; wine_ "$work/Parvaline-Setup.exe" /S >"$work/install-x64.log" 2>&1 || rc=$?
    [ $rc = 2 ] && pass "32-bit Windows, Outlook recorded as x64: the installer refuses (exit 2)" \
        || fail "32-bit Windows, Outlook recorded as x64: the installer exited with $rc, not 2"
    dir=$(installed_dir)
    if [ -n "$dir" ] && [ -f "$dir/pvlAddIn.dll" ]; then
        fail "32-bit Windows: the refused installation left an add-in"
        uninstall_and_check "$dir" "refused-x64"
    fi
    snapshot refused
    left=$(comm -13 "$work/before.keys" "$work/refused.keys" | grep -v '^\[HKEY_CURRENT_USER\\Software\\Wine\\'; grep -iE "$ours" "$work/refused.txt")
    [ -z "$left" ] && pass "32-bit Windows: the refused installation left no registry entry" \
        || fail "32-bit Windows: the refused installation left: $left"
fi
wine_ reg delete "$office" /v Bitness /f >/dev/null 2>&1
finish
