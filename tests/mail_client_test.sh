#!/usr/bin/env bash
# Parvaline Mail with the built add-in, driven as a user drives it: the add-in registered with
# regsvr32, the mail client loading it from the registry, its buttons pressed with the mouse and the
# keyboard, their states read back, a second mail window, the mail saved as .eml and read back by
# Python's email package. The registration is removed again at the end.
#   mail_client_test.sh BUILD_DIR
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:?usage: mail_client_test.sh BUILD_DIR}" && pwd)
work=$build/mail-client-test
rm -rf "$work"; mkdir -p "$work"
source "$root/tools/wine-env.sh"
arch=$(pvl_pe_arch "$build/pvlMail.exe")
run() { timeout -k 10 240 "$root/tools/wine-run" --arch "$arch" "$@"; }
winpath() { echo "Z:${1//\//\\}"; }
export PVL_CAPTURE_FILE=$build/audio/speech.raw
dll=$(winpath "$build/pvlAddIn.dll")
run regsvr32 /s "$dll" >"$work/regsvr32.log" 2>&1 || { echo "FAIL: regsvr32 $dll"; exit 1; }
trap 'run regsvr32 /u /s "$dll" >>"$work/regsvr32.log" 2>&1' EXIT
pvl_wine_env "$arch"; recordings=$(pvl_recordings_dir)
rm -f "$recordings/Parvaline.mp3"
eml=$work/voice.eml
# Record by mouse, Stop from the keyboard; a second window gets a fresh bar and no attachment;
# closing it leaves the first one with its attachment.
script="expect:Record+,expect:Play-,expect:Stop-,click:Record,wait:1,expect:Record-,expect:Play-,expect:Stop+"
script+=",key:Stop,wait:0.5,expect:Record+,expect:Play+,expect:Stop-,attachments:1"
script+=",newmail,expect:Record+,expect:Stop-,attachments:0,close,attachments:1,save:$(winpath "$eml")"
run "$build/pvlMail.exe" --out "$(winpath "$work")" --script "$script" >"$work/mail.log" 2>&1
rc=$?
grep -E '^(mail|script|summary)' "$work/mail.log"
failures=0
[ $rc = 124 ] && echo "FAIL: MailClient: Parvaline Mail did not end within 240 s (see $work/mail.log)"
[ $rc = 0 ] || { echo "FAIL: Parvaline Mail exited with $rc (see $work/mail.log)"; failures=1; }
grep -q "loaded add-in pvlAddIn.Connect from $(printf '%s' "$dll" | sed 's/\\/\\\\/g')" "$work/mail.log" \
    || { echo "FAIL: the add-in was not loaded from the registered path"; failures=1; }
grep -q '^summary:' "$work/mail.log" || { echo "FAIL: no summary"; failures=1; }
python3 "$root/tools/check_eml.py" "$eml" "$recordings/Parvaline.mp3" || failures=1
echo "$failures failed"
[ $failures = 0 ]
