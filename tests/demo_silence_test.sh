#!/usr/bin/env bash
# The demo hears nothing: a capture device that gives only silence (here the fed device reading
# zeros). The demo must fail, name the capture device and what to check, and print no summary; the
# recording checker that ./pvl demo uses must call the recording silent. Then the same run with the
# spoken sentence must pass both, so that the checks tell sound from silence.
#   demo_silence_test.sh BUILD_DIR
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:?usage: demo_silence_test.sh BUILD_DIR}" && pwd)
work=$build/demo-silence-test
rm -rf "$work"; mkdir -p "$work"
failures=0
pass() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
limit=240
demo() {  # CAPTURE_FILE NAME
    local rc=0
    PVL_CAPTURE_FILE=$1 timeout -k 10 $limit "$root/tools/wine-run" "$build/pvlDemo.exe" "Z:${work//\//\\}\\$2" 1 \
        >"$work/$2.log" 2>&1 || rc=$?
    [ $rc = 124 ] && echo "FAIL: DemoSilence: pvlDemo.exe ($2) did not end within $limit s" >&2
    return $rc
}

rc=0; demo /dev/zero silent || rc=$?
[ $rc = 3 ] && pass "a silent recording ends the demo with exit 3" || fail "a silent recording: the demo exited with $rc, not 3"
grep -q 'FAILED: the recording is silent' "$work/silent.log" && grep -q 'alsa-pvl.conf, reading /dev/zero' "$work/silent.log" \
    && pass "the message names the capture device: $(grep FAILED "$work/silent.log")" \
    || fail "no message naming the capture device (see $work/silent.log)"
grep -q '^summary:' "$work/silent.log" && fail "a silent recording still printed a summary" || pass "no summary line"
level=$(python3 "$root/tools/check_recording.py" "$work/silent/Parvaline.wav"); rc=$?
[ $rc = 1 ] && pass "the recording checker calls it silent: $level" || fail "the recording checker said (exit $rc): $level"

rc=0; demo "$build/audio/speech.raw" spoken || rc=$?
[ $rc = 0 ] && pass "the spoken sentence: the demo goes through" || fail "the spoken sentence: the demo exited with $rc (see $work/spoken.log)"
source "$root/tools/wine-env.sh"
arch=$(pvl_pe_arch "$build/pvlDemo.exe")
grep -qE "^summary:.*the $arch \\((32|64)-bit\\) build" "$work/spoken.log" && pass "$(grep '^summary:' "$work/spoken.log")" \
    || fail "no summary naming the $arch build (see $work/spoken.log)"
level=$(python3 "$root/tools/check_recording.py" "$work/spoken/Parvaline.wav"); rc=$?
[ $rc = 0 ] && pass "the recording checker hears it: $level" || fail "the recording checker said (exit $rc): $level"

echo "$failures failed"
[ $failures = 0 ]
