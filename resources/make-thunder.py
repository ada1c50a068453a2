#!/usr/bin/env python3
"""Makes the thunder that plays with Kestrix's About window: thunder.wav,
3 seconds, mono, 16-bit, 22050 Hz.

A close strike: a sharp crack with a few tearing after-cracks, then a low
rumble that rolls (swells and fades a few times) while it dies away, then a
short fade so it ends in silence. Peak at -1 dBFS.

Run from anywhere: python3 resources/make-thunder.py
A fixed seed: the same run always gives the same bytes.
"""
import math
import os
import random
import struct
import wave

HERE = os.path.dirname(os.path.abspath(__file__))
RATE = 22050
SECONDS = 3.0
SEED = 1777
PEAK_DBFS = -1.0


def one_pole_low(signal, cutoff):
    """First-order low-pass; cutoff in Hz."""
    a = math.exp(-2 * math.pi * cutoff / RATE)
    out, y = [], 0.0
    for x in signal:
        y = (1 - a) * x + a * y
        out.append(y)
    return out


def one_pole_high(signal, cutoff):
    """First-order high-pass: the signal less its low-pass."""
    return [x - y for x, y in zip(signal, one_pole_low(signal, cutoff))]


def smooth_random(rng, n, per_second):
    """A slowly wandering value in 0..1: random knots eased together."""
    step = RATE / per_second
    knots = [rng.random() for _ in range(int(n / step) + 3)]
    out = []
    for i in range(n):
        k, f = divmod(i / step, 1.0)
        k = int(k)
        s = f * f * (3 - 2 * f)
        out.append(knots[k] + (knots[k + 1] - knots[k]) * s)
    return out


def thunder():
    rng = random.Random(SEED)
    n = int(RATE * SECONDS)
    white = [rng.gauss(0.0, 1.0) for _ in range(n)]

    # The crack: broadband, a few milliseconds to full strength, gone in
    # about 0.15 s. Differencing the noise tilts it bright.
    crack, last = [], 0.0
    for i in range(n):
        t = i / RATE
        attack = min(1.0, t / 0.003)
        body = math.exp(-t / 0.035) + 0.35 * math.exp(-t / 0.09)
        crack.append(attack * body * (white[i] - 0.6 * last))
        last = white[i]
    # A few after-cracks: the channel's branches tearing, short and fading.
    for _ in range(5):
        start = rng.uniform(0.02, 0.28)
        level = rng.uniform(0.25, 0.6) * math.exp(-start / 0.2)
        length = rng.uniform(0.01, 0.03)
        for i in range(int(start * RATE), int((start + length * 4) * RATE)):
            t = i / RATE - start
            crack[i] += level * min(1.0, t / 0.001) * math.exp(-t / length) * rng.gauss(0.0, 1.0)
    crack = one_pole_high(crack, 120.0)

    # The rumble: brown noise (white noise integrated, leaking so it
    # doesn't drift), low-passed to a boom, with a little brighter grumble
    # mixed in so it doesn't sound like a plain hum.
    brown, b = [], 0.0
    for x in white:
        b = 0.997 * b + 0.05 * rng.gauss(0.0, 1.0)
        brown.append(b)
    boom = one_pole_high(one_pole_low(one_pole_low(brown, 180.0), 240.0), 28.0)
    grumble = one_pole_high(one_pole_low(one_pole_low(white, 420.0), 600.0), 90.0)

    # Rolls: the sound of farther parts of the channel arriving later.
    rolls = []
    for k in range(3):
        centre = 0.45 + k * 0.62 + rng.uniform(-0.12, 0.12)
        rolls.append((centre, rng.uniform(0.16, 0.3), rng.uniform(0.55, 1.0)))
    flutter = smooth_random(rng, n, 9.0)

    def rms(signal):
        return math.sqrt(sum(v * v for v in signal) / len(signal)) or 1.0

    boom_scale = 1.0 / rms(boom)
    grumble_scale = 1.0 / rms(grumble)
    crack_scale = 1.0 / max(abs(v) for v in crack)

    fade = int(0.3 * RATE)
    out = []
    for i in range(n):
        t = i / RATE
        onset = 1.0 - math.exp(-t / 0.06)
        swell = 0.45 + sum(a * math.exp(-((t - c) / w) ** 2) for c, w, a in rolls)
        rumble_env = onset * math.exp(-t / 1.3) * swell * (0.75 + 0.5 * flutter[i])
        v = (1.25 * crack_scale * crack[i]
             + 0.42 * rumble_env * boom_scale * boom[i]
             + 0.12 * rumble_env * grumble_scale * grumble[i])
        if i >= n - fade:
            # A raised-cosine fade to silence.
            v *= 0.5 + 0.5 * math.cos(math.pi * (i - (n - fade)) / fade)
        out.append(v)
    out[-1] = 0.0

    peak = max(abs(v) for v in out)
    gain = 10 ** (PEAK_DBFS / 20) * 32767 / peak
    return [int(round(v * gain)) for v in out]


def main():
    samples = thunder()
    with wave.open(os.path.join(HERE, "thunder.wav"), "wb") as f:
        f.setnchannels(1)
        f.setsampwidth(2)
        f.setframerate(RATE)
        f.writeframes(struct.pack("<%dh" % len(samples), *samples))


if __name__ == "__main__":
    main()
