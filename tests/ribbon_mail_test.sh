#!/usr/bin/env bash
# Parvaline Mail's ribbon group, driven as a user drives it. First with a stand-in add-in registered
# alone (tests/ribbon_probe.cpp: the module's ribbon XML and pictures, a toy recorder state): the
# group drawn on the window's tab with its pictures in colour or grey, Record clicked with the mouse,
# Stop pressed from the keyboard, the states asked again after the add-in's invalidation. In the main
# window, the group on the contextual Message tab while a reply is written inline, and gone again
# after each way the reply leaves the pane (Pop Out, Discard, another mail selected, Send). Then the
# stand-in's own group of a toggle button, a label and keytips, pressed through its keytips. Then with
# the built add-in registered as a user registers it: a voice mail through ribbon presses only, the
# bar showing the same states, a second window's group acting for its own mail. Every registration
# is removed again at the end.
#   ribbon_mail_test.sh BUILD_DIR PROBE_DLL
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:?usage: ribbon_mail_test.sh BUILD_DIR PROBE_DLL}" && pwd)
probe=${2:?usage: ribbon_mail_test.sh BUILD_DIR PROBE_DLL}
arch=$(grep -q '80386' <<<"$(file -b "$probe")" && echo x86 || echo x64)
work=$build/ribbon-mail-test
rm -rf "$work"; mkdir -p "$work"
source "$root/tools/wine-env.sh"
run() { "$root/tools/wine-run" --arch "$arch" "$@"; }
winpath() { echo "Z:${1//\//\\}"; }
progid=pvlRibbonProbe.Connect
clsid='{7E4B3C21-5A0D-4C7B-9A51-3D2F6B8E1C44}'
classes='HKCU\Software\Classes'
addins='HKCU\Software\Microsoft\Office\Outlook\Addins'
dll=$(winpath "$build/pvlAddIn.dll")
unregister() {
    for key in "$classes\\$progid" "$classes\\CLSID\\$clsid" "$addins\\$progid"; do
        run reg delete "$key" /f >>"$work/reg.log" 2>&1 </dev/null
    done
    [ "${addin_registered:-0}" = 1 ] && run regsvr32 /u /s "$dll" >>"$work/reg.log" 2>&1 </dev/null
}
trap unregister EXIT
run reg add "$classes\\$progid\\CLSID" /ve /d "$clsid" /f >"$work/reg.log" 2>&1 </dev/null \
    && run reg add "$classes\\CLSID\\$clsid\\InprocServer32" /ve /d "$(winpath "$probe")" /f >>"$work/reg.log" 2>&1 </dev/null \
    && run reg add "$addins\\$progid" /v LoadBehavior /t REG_DWORD /d 3 /f >>"$work/reg.log" 2>&1 </dev/null \
    || { echo "FAIL: could not register the stand-in add-in (see $work/reg.log)"; exit 1; }
# Any other add-in registered to load would take the ribbon first: this test wants the probe alone.
others=$(run reg query "$addins" 2>/dev/null </dev/null | grep -i 'Addins\\' | grep -vi "$progid" || true)
[ -z "$others" ] || { echo "FAIL: other add-ins are registered to load: $others"; exit 1; }

script="expectribbon:pvlRecord+,expectribbon:pvlPlay-,expectribbon:pvlStop-,expectribbon:pvlAbout+"
script+=",expectdrawn:pvlRecord+,expectdrawn:pvlStop-,expectdrawn:pvlAbout+"
script+=",ribbon:pvlRecord,wait:0.5,expectribbon:pvlRecord+,expectpressed:pvlRecord+,expectribbon:pvlStop+,expectdrawn:pvlStop+"
script+=",ribbonkey:pvlStop,wait:0.5,expectribbon:pvlRecord+,expectribbon:pvlPlay+,expectribbon:pvlStop-"
script+=",newmail,expectribbon:pvlRecord+,close"
run "$build/pvlMail.exe" --out "$(winpath "$work")" --script "$script" >"$work/mail.log" 2>&1 </dev/null
rc=$?
grep -E '^(mail|script)' "$work/mail.log"
failures=0
[ $rc = 0 ] || { echo "FAIL: Parvaline Mail exited with $rc (see $work/mail.log)"; failures=1; }
grep -q "loaded add-in $progid" "$work/mail.log" || { echo "FAIL: the stand-in add-in was not loaded"; failures=1; }
grep -q "its ribbon groups: 1" "$work/mail.log" || { echo "FAIL: the window showed no ribbon group"; failures=1; }
! grep -q "mail: ribbon: " "$work/mail.log" || { echo "FAIL: the ribbon reported errors"; failures=1; }

# The main window: no group until a reply is written inline; then the Message tab's group acts there
# (and the mail window's group shows the same toy state, each document having its own IRibbonUI);
# each way the reply leaves the pane takes the group away.
script="main,expectgroups:0,reply,expectgroups:1,expectribbon:pvlRecord+,expectribbon:pvlStop-,expectdrawn:pvlRecord+"
script+=",ribbon:pvlRecord,wait:0.5,expectpressed:pvlRecord+,expectribbon:pvlStop+,expectdrawn:pvlStop+,shot:main-recording"
script+=",ribbonkey:pvlStop,wait:0.5,expectribbon:pvlRecord+,expectribbon:pvlPlay+"
script+=",mail,expectribbon:pvlPlay+"
script+=",main,popout,expectgroups:1,expectribbon:pvlRecord+,close"
script+=",main,expectgroups:0,reply,expectgroups:1,discard,expectgroups:0"
script+=",reply,expectgroups:1,select:2,expectgroups:0,reply,expectgroups:1,sendreply,expectgroups:0"
run "$build/pvlMail.exe" --out "$(winpath "$work")" --script "$script" >"$work/mail-main.log" 2>&1 </dev/null
rc=$?
grep -E '^(mail|script)' "$work/mail-main.log"
[ $rc = 0 ] || { echo "FAIL: Parvaline Mail's main window exited with $rc (see $work/mail-main.log)"; failures=1; }
grep -q "main window opened; its ribbon groups: 0" "$work/mail-main.log" || { echo "FAIL: the main window showed a group before any reply"; failures=1; }
grep -q "the main window's ribbon groups: 1" "$work/mail-main.log" || { echo "FAIL: the inline reply showed no group"; failures=1; }
grep -q "window 2 opened for the popped-out reply; its bars: 0; its ribbon groups: 1" "$work/mail-main.log" \
    || { echo "FAIL: the popped-out reply's window has no group of its own"; failures=1; }
[ -s "$work/main-recording.bmp" ] || { echo "FAIL: no screenshot of the main window"; failures=1; }
! grep -q "mail: ribbon: " "$work/mail-main.log" || { echo "FAIL: the ribbon reported errors in the main window"; failures=1; }

# A toggle button, a label and keytips, in a mail window and in the main window's inline reply.
script="expectpressed:pvlRecord-,expectlabel:pvlClock=,keytips,shot:keytips,keytips:off"
script+=",keytip:R,wait:0.5,expectpressed:pvlRecord+,expectlabel:pvlClock=0:00,expectribbon:pvlStop+"
script+=",keytip:R,wait:0.5,expectpressed:pvlRecord-,expectlabel:pvlClock=0:01,expectribbon:pvlPlay+,keytip:AB,wait:0.5"
script+=",main,reply,expectgroups:1,expectpressed:pvlRecord-,ribbon:pvlRecord,wait:0.5,expectpressed:pvlRecord+"
script+=",keytip:S,wait:0.5,expectpressed:pvlRecord-,expectlabel:pvlClock=0:01,discard"
PVL_PROBE_CONTROLS=1 run "$build/pvlMail.exe" --out "$(winpath "$work")" --script "$script" >"$work/mail-controls.log" 2>&1 </dev/null
rc=$?
grep -E '^(mail|script)' "$work/mail-controls.log"
[ $rc = 0 ] || { echo "FAIL: Parvaline Mail with toggle, label and keytips exited with $rc (see $work/mail-controls.log)"; failures=1; }
[ "$(grep -c 'keytip pressed a ribbon control (0x00000000)' "$work/mail-controls.log")" = 4 ] \
    || { echo "FAIL: not every keytip pressed its control"; failures=1; }
! grep -q "mail: ribbon: " "$work/mail-controls.log" || { echo "FAIL: the ribbon reported errors for the controls"; failures=1; }

# The built add-in alone.
unregister
run regsvr32 /s "$dll" >>"$work/reg.log" 2>&1 </dev/null || { echo "FAIL: regsvr32 $dll"; exit 1; }
addin_registered=1
export PVL_CAPTURE_FILE=$build/audio/speech.raw
pvl_wine_env "$arch"; recordings=$(pvl_recordings_dir)
rm -f "$recordings/Parvaline.mp3"
script="expectribbon:pvlRecord+,expectribbon:pvlPlay-,expectribbon:pvlStop-,expectribbon:pvlAbout+,expectdrawn:pvlRecord+"
script+=",ribbon:pvlRecord,wait:1,expectpressed:pvlRecord+,expectribbon:pvlStop+,expect:Stop+,expect:Record-"
script+=",ribbonkey:pvlStop,wait:0.5,attachments:1,expectribbon:pvlRecord+,expectribbon:pvlPlay+,expectribbon:pvlStop-,expect:Play+"
script+=",newmail,expectribbon:pvlRecord+,expectribbon:pvlPlay-,attachments:0,close,attachments:1"
# From the keyboard: Record's keytip presses the toggle in, and again releases it, which stops and
# attaches in place of the earlier voice.
script+=",keytip:VR,wait:0.5,expectpressed:pvlRecord+,expect:Stop+,expectfit,keytip:VR,wait:0.5,expectpressed:pvlRecord-,attachments:1"
run "$build/pvlMail.exe" --out "$(winpath "$work")" --script "$script" >"$work/mail-addin.log" 2>&1 </dev/null
rc=$?
grep -E '^(mail|script|summary)' "$work/mail-addin.log"
[ $rc = 0 ] || { echo "FAIL: Parvaline Mail with the add-in exited with $rc (see $work/mail-addin.log)"; failures=1; }
grep -q "its ribbon groups: 1" "$work/mail-addin.log" || { echo "FAIL: the add-in's window showed no ribbon group"; failures=1; }
! grep -q "mail: ribbon: " "$work/mail-addin.log" || { echo "FAIL: the ribbon reported errors for the add-in"; failures=1; }
echo "$failures failed"
[ $failures = 0 ]
