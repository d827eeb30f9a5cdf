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

# A free display number for Xvfb.
display=${PVL_SCREENSHOT_DISPLAY:-}
if [ -z "$display" ]; then
    for n in $(seq 101 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=:$n; break; }
    done
fi
export PVL_DISPLAY=$display
source "$root/tools/wine-env.sh"
arch=$(pvl_pe_arch "$build/pvlAddIn.dll")
[ -n "$arch" ] || { echo "mail-demo: $build/pvlAddIn.dll is not a Windows module" >&2; exit 2; }
pvl_wine_env "$arch"
base=$WINEPREFIX
export WINEPREFIX=$pvl_build/wineprefix-$arch-x11
[ -d "$WINEPREFIX" ] || cp -a "$base" "$WINEPREFIX"
if [ -n "$real" ]; then
    unset ALSA_CONFIG_PATH   # the machine's own default capture device
else
    export PVL_CAPTURE_FILE=${PVL_CAPTURE_FILE_OVERRIDE:-$build/audio/speech.raw}
fi

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >>"$log" 2>&1 </dev/null &
xvfb=$!
cleanup() {
    "$PVL_WINE" reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1 </dev/null || true
    "$WINESERVER" -k >/dev/null 2>&1 </dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
sleep 1
"$WINESERVER" -p >>"$log" 2>&1 </dev/null || true
"$PVL_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >>"$log" 2>&1 </dev/null
# A virtual desktop: Wine then draws the windows' frames and title bars itself (Xvfb runs no
# window manager that would), so the screenshots look as they do on Windows.
"$PVL_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >>"$log" 2>&1 </dev/null
"$PVL_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >>"$log" 2>&1 </dev/null
# The desktop is made when the prefix's first program starts: start again with the settings read.
"$WINESERVER" -k >/dev/null 2>&1 </dev/null || true
"$WINESERVER" -w >/dev/null 2>&1 </dev/null || true
"$WINESERVER" -p >>"$log" 2>&1 </dev/null || true

winpath() { echo "Z:${1//\//\\}"; }
dll=$(winpath "$build/pvlAddIn.dll")
"$PVL_WINE" regsvr32 /s "$dll" >>"$log" 2>&1 </dev/null || { echo "mail-demo: regsvr32 $dll failed" >&2; exit 1; }
echo "mail-demo: registered $dll ($arch)" >>"$log"
recordings=$(pvl_recordings_dir)
rm -f "$recordings/Parvaline.wav" "$recordings/Parvaline.mp3" "$recordings/parvaline.wav"

# Record for SECONDS: the first screenshot half-way through, while the recording runs.
half=$(awk -v s="$seconds" 'BEGIN { printf "%.2f", s / 2 }')
eml="$out/Voice message.eml"
# Record and Stop are pressed on the ribbon's "Voice message" group; the bar stays in the same window.
script="wait:1,to:someone@example.com,subject:Voice message from Parvaline,ribbon:pvlRecord,wait:$half,shot:mail-recording,wait:$half,ribbon:pvlStop,wait:0.5,shot:mail-recorded,about:about,play,save:$(winpath "$eml")"
rc=0
"$PVL_WINE" "$build/pvlMail.exe" --out "$(winpath "$out")" --script "$script" </dev/null >>"$log" 2>&1 || rc=$?
for bmp in "$out"/*.bmp; do
    [ -f "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
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
"$PVL_WINE" "$build/pvlMail.exe" --out "$(winpath "$out")" --script "$script" </dev/null >>"$replylog" 2>&1 || rc=$?
for bmp in "$out"/*.bmp; do
    [ -f "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
[ $rc = 0 ] || { echo "mail-demo: the voice reply in the main window failed (exit $rc); see $replylog" >&2; exit 3; }
cp "$recordings/Parvaline.mp3" "$out/Voice reply.mp3"
cp "$recordings/Parvaline.wav" "$out/Voice reply.wav" 2>/dev/null || cp "$recordings/parvaline.wav" "$out/Voice reply.wav"
python3 "$root/tools/check_eml.py" "$reply" "$out/Voice reply.mp3" >>"$replylog" 2>&1 \
    || { echo "mail-demo: the saved reply does not hold the MP3; see $replylog" >&2; exit 3; }
python3 "$root/tools/check_recording.py" "$out/Voice reply.wav" >>"$replylog" 2>&1 \
    || { echo "mail-demo: the reply's recording is silent; see $replylog" >&2; exit 3; }
