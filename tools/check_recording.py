#!/usr/bin/env python3
"""Whether a recording holds sound: a capture device that records silence (none connected, muted,
or another device than the one meant) still gives a wave file of the right length.

    check_recording.py RECORDING.wav

Prints one line ("recording: ...") and exits 0 when the recording holds sound, 1 when it is silent
or nearly so, 2 when it is missing or not a 16-bit wave file.
"""
import array
import math
import sys
import wave

WINDOW_SECONDS = 0.05
# A window holds sound when its level is above -44 dBFS (room noise through a live microphone
# reaches that; digital silence and a muted input do not).
SOUND_RMS = 200
# Less sound than this in all is a click or two, not a spoken message. (A share of the recording
# would not do: the fed capture is not paced, so a long recording is mostly the silence after the
# fed sentence.)
MIN_SOUND_SECONDS = 0.5


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path = sys.argv[1]
    try:
        with wave.open(path) as w:
            if w.getsampwidth() != 2:
                print(f"recording: {path} is not 16-bit")
                return 2
            rate, channels = w.getframerate(), w.getnchannels()
            data = array.array("h", w.readframes(w.getnframes()))[::channels]
    except (OSError, wave.Error, EOFError) as e:
        print(f"recording: cannot read {path}: {e}")
        return 2
    seconds = len(data) / rate if rate else 0
    step = max(1, int(rate * WINDOW_SECONDS))
    windows = [data[i:i + step] for i in range(0, len(data) - step + 1, step)]
    levels = [math.sqrt(sum(s * s for s in win) / len(win)) for win in windows]
    loud = sum(1 for level in levels if level >= SOUND_RMS)
    share = loud / len(levels) if levels else 0.0
    peak = max((abs(s) for s in data), default=0)
    rms = math.sqrt(sum(s * s for s in data) / len(data)) if data else 0.0
    dbfs = 20 * math.log10(rms / 32768) if rms > 0 else float("-inf")
    sound_seconds = loud * step / rate if rate else 0.0
    silent = sound_seconds < MIN_SOUND_SECONDS
    print(f"recording: {seconds:.1f} s, level {dbfs:.1f} dBFS, peak {peak}, sound in {sound_seconds:.1f} s "
          f"({share:.0%} of it): {'silent or nearly silent' if silent else 'sound'}")
    return 1 if silent else 0


if __name__ == "__main__":
    sys.exit(main())
