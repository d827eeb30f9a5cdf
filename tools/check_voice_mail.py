#!/usr/bin/env python3
"""End-to-end check of a voice mail: runs the demo (the simulated mail client with the built add-in,
real wave-audio device, real LAME), then decodes the attached MP3 with Debian's lame and checks it
against the recording: same length, same sound.

    check_voice_mail.py DEMO.exe SPEECH.raw OUTDIR
"""
import array
import math
import os
import subprocess
import sys
import wave

HERE = os.path.dirname(os.path.abspath(__file__))


def samples(path):
    with wave.open(path) as w:
        assert w.getsampwidth() == 2, f"{path}: not 16-bit"
        data = array.array("h", w.readframes(w.getnframes()))
        return data[:: w.getnchannels()], w.getframerate()


def best_correlation(a, b, start, length, max_lag):
    best = 0.0
    for lag in range(-max_lag, max_lag + 1, 1):
        ab = aa = bb = 0.0
        for i in range(start, start + length):
            j = i + lag
            if 0 <= j < len(a) and i < len(b):
                ab += a[j] * b[i]
                aa += a[j] * a[j]
                bb += b[i] * b[i]
        if aa and bb:
            best = max(best, ab / math.sqrt(aa * bb))
    return best


def main():
    demo, speech, out = sys.argv[1:4]
    os.makedirs(out, exist_ok=True)
    env = dict(os.environ, PVL_CAPTURE_FILE=speech)
    with open(os.path.join(out, "demo.log"), "w") as log:
        rc = subprocess.run([os.path.join(HERE, "wine-run"), demo, "Z:" + out.replace("/", "\\"), "1"],
                            stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT, env=env).returncode
    failures = []
    if rc != 0:
        failures.append(f"the demo failed (exit {rc}); see {out}/demo.log")
    else:
        mp3 = os.path.join(out, "Parvaline.mp3")
        decoded = os.path.join(out, "decoded.wav")
        subprocess.run(["lame", "--quiet", "--decode", mp3, decoded], check=True)
        rec, rec_rate = samples(os.path.join(out, "Parvaline.wav"))
        dec, dec_rate = samples(decoded)
        print(f"recording {len(rec) / rec_rate:.2f} s at {rec_rate} Hz; MP3 {os.path.getsize(mp3)} bytes "
              f"decodes to {len(dec) / dec_rate:.2f} s at {dec_rate} Hz")
        if dec_rate != rec_rate:
            failures.append(f"the MP3 is at {dec_rate} Hz, the recording at {rec_rate} Hz")
        if abs(len(dec) / dec_rate - len(rec) / rec_rate) > 0.1:
            failures.append("the MP3's length differs from the recording's")
        # The same sound: a second of it, where the speech is, matches sample for sample (lossy).
        start = next((i for i in range(len(rec)) if abs(rec[i]) > 1000), 0)
        r = best_correlation(dec, rec, start, min(16000, len(rec) - start), 1200)
        print(f"correlation of the decoded MP3 with the recording: {r:.3f}")
        if r < 0.8:
            failures.append(f"the MP3 does not sound like the recording (correlation {r:.3f})")
    for f in failures:
        print("FAIL:", f)
    print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
