#!/usr/bin/env python3
"""Writes the two alert tones the viewer plays, as 16-bit mono PCM WAV files.

The files are kept in the source tree and compiled into the viewer; run this
again only to change a tone:

    scripts/make-alert-tones.py src/app/alerts/tones

The warning is a soft rising two-note chime, the critical alert three short,
harder beeps, so the two are told apart without looking. Every note fades in
and out over a few milliseconds so it starts and stops without a click. The
output is the same byte for byte on every run.
"""

import math
import struct
import sys
import wave
from pathlib import Path

RATE = 22050
FADE_SECONDS = 0.008


def note(frequency, seconds, volume, overtone=0.0):
    """Samples of one note: a sine with an optional third harmonic."""
    count = int(RATE * seconds)
    fade = int(RATE * FADE_SECONDS)
    samples = []
    for i in range(count):
        t = i / RATE
        value = math.sin(2 * math.pi * frequency * t)
        value += overtone * math.sin(2 * math.pi * 3 * frequency * t)
        value /= 1.0 + overtone
        envelope = min(1.0, i / fade, (count - 1 - i) / fade)
        samples.append(value * envelope * volume)
    return samples


def silence(seconds):
    return [0.0] * int(RATE * seconds)


def write(path, samples):
    frames = b"".join(struct.pack("<h", int(round(s * 32767))) for s in samples)
    with wave.open(str(path), "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(frames)


def main():
    folder = Path(sys.argv[1] if len(sys.argv) > 1 else "src/app/alerts/tones")
    folder.mkdir(parents=True, exist_ok=True)
    warning = note(660, 0.16, 0.5) + silence(0.05) + note(880, 0.22, 0.5)
    beep = note(1320, 0.09, 0.7, overtone=0.35)
    critical = beep + silence(0.05) + beep + silence(0.05) + beep
    write(folder / "warning.wav", warning)
    write(folder / "critical.wav", critical)


if __name__ == "__main__":
    main()
