#!/usr/bin/env bash
# A voice mail written in Parvaline Mail's window, as a user would see it: the add-in registered
# with regsvr32, the mail client started on an Xvfb display (the X11 graphics driver, in a copy of
# the project's prefix of the build's architecture), a script pressing Record and Stop on the ribbon
# group, then the product button and Play, the mail saved as .eml; screenshots taken by the client
# itself at each moment. Then a voice reply written inline in the main window's reading pane:
# Reply, Record and Stop on the group of the Message tab, the MP3 on the reply, the reply saved and
# sent.
#   tools/mail-demo.sh BUILD_DIR OUT_DIR [SECONDS] [--real-device]
# Writes to OUT_DIR: Voice message.eml, Parvaline.mp3, Parvaline.wav, mail-recording.png,
# mail-recorded.png, about.png, about-with-mail.png, mail.log (its last line is the summary); and
# Voice reply.eml, Voice reply.mp3, Voice reply.wav, reply-recording.png, reply-recorded.png,
# reply.log. Exits 3 when the voice mail went through but the voice reply did not.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:?usage: mail-demo.sh BUILD_DIR OUT_DIR [SECONDS] [--real-device]}
out=${2:?usage: mail-demo.sh BUILD_DIR OUT_DIR [SECONDS] [--real-device]}
seconds=${3:-2}
real=${4:-}
build=$(cd "$build" && pwd)
mkdir -p "$out"; out=$(cd "$out" && pwd)
for f in pvlMail.exe pvlAddIn.dll lame.exe; do
    [ -f "$build/$f" ] || { echo "mail-demo: no $build/$f: build it first" >&2; exit 2; }
done
mkdir -p "$out"
log=$out/mail.log
: >"$log"

source "$root/tools/wine-env.sh"
arch=$(pvl_pe_arch "$build/pvlAddIn.dll")
[ -n "$arch" ] || { echo "mail-demo: $build/pvlAddIn.dll is not a Windows module" >&2; exit 2; }
if [ -n "$real" ]; then
    unset ALSA_CONFIG_PATH   # the machine's own default capture device
else
    export PVL_CAPTURE_FILE=${PVL_CAPTURE_FILE_OVERRIDE:-$build/audio/speech.raw}
fi
trap pvl_x11_stop EXIT
pvl_x11_start "$arch" "$log"

winpath() { echo "Z:${1//\//\\}"; }
dll=$(winpath "$build/pvlAddIn.dll")
"$PVL_WINE" regsvr32 /s "$dll" >>"$log" 2>&1 </dev/null || { echo "mail-demo: regsvr32 $dll failed" >&2; exit 1; }
echo "mail-demo: registered $dll ($arch)" >>"$log"
recordings=$(pvl_recordings_dir)
# Parvaline Mail running SCRIPT, its output in LOG; its screenshots become PNG files.
client() {  # LOG SCRIPT
    local rc=0 bmp
    "$PVL_WINE" "$build/pvlMail.exe" --out "$(winpath "$out")" --script "$2" </dev/null >>"$1" 2>&1 || rc=$?
    for bmp in "$out"/*.bmp; do
        [ -f "$bmp" ] || continue
        convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
    return $rc
}
rm -f "$recordings/Parvaline.wav" "$recordings/Parvaline.mp3" "$recordings/parvaline.wav"

# Record for SECONDS: the first screenshot half-way through, while the recording runs.
half=$(awk -v s="$seconds" 'BEGIN { printf "%.2f", s / 2 }')
eml="$out/Voice message.eml"
# Record and Stop are pressed on the ribbon's "Voice message" group; the bar stays in the same window.
script="wait:1,to:someone@example.com,subject:Voice message from Parvaline,ribbon:pvlRecord,wait:$half,shot:mail-recording,wait:$half,ribbon:pvlStop,wait:0.5,shot:mail-recorded,about:about,play,save:$(winpath "$eml")"
rc=0
client "$log" "$script" || rc=$?
[ $rc = 0 ] || { echo "mail-demo: Parvaline Mail failed (exit $rc); see $log" >&2; exit 1; }
cp "$recordings/Parvaline.mp3" "$out/Parvaline.mp3"
cp "$recordings/Parvaline.wav" "$out/Parvaline.wav" 2>/dev/null || cp "$recordings/parvaline.wav" "$out/Parvaline.wav"
python3 "$root/tools/check_eml.py" "$eml" "$out/Parvaline.mp3" >>"$log" 2>&1 \
    || { echo "mail-demo: the saved mail does not hold the MP3; see $log" >&2; exit 1; }

# The voice reply, in a second session: the new mail the client opens at start is closed, the first
# received mail answered inline, Record and Stop pressed on the main window's group.
replylog=$out/reply.log
: >"$replylog"
rm -f "$recordings/Parvaline.wav" "$recordings/Parvaline.mp3" "$recordings/parvaline.wav"
reply="$out/Voice reply.eml"
script="wait:1,close,main,select:1,reply,expectgroups:1,ribbon:pvlRecord,wait:$half,shot:reply-recording,wait:$half"
script+=",ribbon:pvlStop,wait:0.5,attachments:1,shot:reply-recorded,save:$(winpath "$reply"),sendreply"
rc=0
client "$replylog" "$script" || rc=$?
[ $rc = 0 ] || { echo "mail-demo: the voice reply in the main window failed (exit $rc); see $replylog" >&2; exit 3; }
cp "$recordings/Parvaline.mp3" "$out/Voice reply.mp3"
cp "$recordings/Parvaline.wav" "$out/Voice reply.wav" 2>/dev/null || cp "$recordings/parvaline.wav" "$out/Voice reply.wav"
python3 "$root/tools/check_eml.py" "$reply" "$out/Voice reply.mp3" >>"$replylog" 2>&1 \
    || { echo "mail-demo: the saved reply does not hold the MP3; see $replylog" >&2; exit 3; }
python3 "$root/tools/check_recording.py" "$out/Voice reply.wav" >>"$replylog" 2>&1 \
    || { echo "mail-demo: the reply's recording is silent; see $replylog" >&2; exit 3; }
