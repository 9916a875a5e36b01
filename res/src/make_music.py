#!/usr/bin/python3
"""Renders the show's music, "res/Quelf - Tavoy Rip.mp3".

A small sequencer and synthesizer in numpy: drums (kick, snare, hats) from
sine sweeps and shaped noise, a plucked bass, a detuned pad, a 16th-note
arpeggio and a lead with vibrato and echo, mixed through a short reverb.

The piece is in A minor at 120 BPM in 4/4, so one beat is 0.5 s = 10 rows and
one bar is 2 s = 40 rows of the demo's timeline (20 rows per second).  The
sections, in bars (bar b starts at row 40 * b):

    0- 7  intro      pad, then arpeggio, hats, kick; snare fill into the verse
    8-23  verse 1    drums, bass, verse melody twice
   24-31  chorus 1   four-on-the-floor, open hats, chorus melody
   32-39  break      no kick; pad, arpeggio, slow lead; snare roll build-up
   40-47  verse 2    verse melody with the arpeggio doubling it
   48-55  chorus 2   chorus melody with an octave below
   56-63  outro      verse chords, drums thinning out
   64-65  end        a held A minor chord dying away

The rendered audio is 66 bars (132 s) plus 0.1 s of silence, 132.1 s in all;
the last sound has died away by 132 s, which is row 2640, where the show ends.

Usage: /usr/bin/python3 res/src/make_music.py [--wav out.wav] [--no-mp3]
Needs numpy and the lame encoder.  Deterministic: the noise generators are
seeded, so the same script gives the same WAV.
"""

import argparse
import os
import subprocess
import sys
import wave

import numpy as np

SR = 44100
BPM = 120.0
BEAT = 60.0 / BPM          # seconds per beat
BAR = 4 * BEAT             # seconds per bar
BARS = 66
TAIL = 0.1                 # trailing silence after the last bar
TOTAL = BARS * BAR + TAIL  # 132.1 s

RNG = np.random.default_rng(20261207)


def midi_hz(m):
    return 440.0 * 2.0 ** ((m - 69) / 12.0)


# ---------------------------------------------------------------- oscillators
# Every tone is read from a band-limited single-period wavetable built by
# summing harmonics up to a cutoff, so nothing aliases and a note costs one
# table lookup per sample whatever its brightness.

TABLE = 4096


def make_table(kind, f0, cutoff):
    """One period of a band-limited wave for fundamental f0 (Hz)."""
    n = np.arange(TABLE) / TABLE
    out = np.zeros(TABLE)
    kmax = max(1, int(min(SR * 0.45, cutoff * 3.0) / f0))
    for k in range(1, kmax + 1):
        if kind == "saw":
            a = 1.0 / k
        elif kind == "square":
            a = 1.0 / k if k % 2 else 0.0
        elif kind == "tri":
            a = (1.0 / (k * k)) * (1 if (k // 2) % 2 == 0 else -1) if k % 2 else 0.0
        elif kind == "sine":
            a = 1.0 if k == 1 else 0.0
        else:
            raise ValueError(kind)
        # gentle 2-pole roll-off above the cutoff
        a /= 1.0 + (k * f0 / cutoff) ** 2
        if a:
            out += a * np.sin(2 * np.pi * k * n)
    peak = np.max(np.abs(out))
    return out / peak if peak > 0 else out


def osc(table, freq, n, phase0=0.0):
    """Reads a table at a frequency that may be a scalar or a per-sample array."""
    f = np.broadcast_to(np.asarray(freq, dtype=float), (n,))
    ph = (phase0 + np.cumsum(f) / SR) % 1.0
    pos = ph * TABLE
    i0 = pos.astype(np.int64) % TABLE
    i1 = (i0 + 1) % TABLE
    frac = pos - np.floor(pos)
    return table[i0] * (1 - frac) + table[i1] * frac


def adsr(n, a, d, s, r, gate):
    """Envelope of n samples: attack a, decay d to level s, release r after gate (s)."""
    t = np.arange(n) / SR
    env = np.where(t < a, t / max(a, 1e-6), s + (1 - s) * np.exp(-(t - a) / max(d, 1e-6)))
    rel = t >= gate
    if np.any(rel):
        g = np.argmax(rel)
        level = env[g - 1] if g > 0 else 0.0
        env[rel] = level * np.exp(-(t[rel] - gate) / max(r, 1e-6))
    return env


def fft_filter(x, lo=None, hi=None, order=2):
    """Zero-phase band filter in the frequency domain (Butterworth-like magnitude)."""
    n = len(x)
    spectrum = np.fft.rfft(x)
    f = np.fft.rfftfreq(n, 1.0 / SR)
    g = np.ones_like(f)
    if hi is not None:
        g /= np.sqrt(1 + (f / hi) ** (2 * order))
    if lo is not None:
        with np.errstate(divide="ignore"):
            g /= np.sqrt(1 + (lo / np.maximum(f, 1e-3)) ** (2 * order))
    return np.fft.irfft(spectrum * g, n)


# ---------------------------------------------------------------- drums


def kick():
    n = int(0.45 * SR)
    t = np.arange(n) / SR
    f = 44 + 120 * np.exp(-t * 28)
    body = np.sin(2 * np.pi * np.cumsum(f) / SR) * np.exp(-t * 7.5)
    click = fft_filter(RNG.standard_normal(n), lo=1500, hi=6000) * np.exp(-t * 300) * 0.25
    x = np.tanh(1.6 * (body + click))
    return x / np.max(np.abs(x))


def snare():
    n = int(0.35 * SR)
    t = np.arange(n) / SR
    noise = fft_filter(RNG.standard_normal(n), lo=900, hi=9000) * np.exp(-t * 16)
    tone = np.sin(2 * np.pi * 190 * t) * np.exp(-t * 30) + 0.5 * np.sin(2 * np.pi * 330 * t) * np.exp(-t * 40)
    x = 0.75 * noise / np.max(np.abs(noise)) + 0.55 * tone
    return x / np.max(np.abs(x))


def hat(open_):
    n = int((0.5 if open_ else 0.09) * SR)
    t = np.arange(n) / SR
    x = fft_filter(RNG.standard_normal(n), lo=7000, hi=15000, order=3)
    x *= np.exp(-t * (7 if open_ else 55))
    return x / np.max(np.abs(x))


# ---------------------------------------------------------------- music data

CHORD_NOTES = {   # pad voicings (MIDI) and bass root
    "Am": ([57, 60, 64, 69], 45),
    "F": ([57, 60, 65, 69], 41),
    "C": ([55, 60, 64, 67], 48),
    "G": ([55, 59, 62, 67], 43),
    "E": ([56, 59, 64, 68], 40),
    "Dm": ([57, 62, 65, 69], 50),
}

VERSE_CHORDS = ["Am", "F", "C", "G", "Am", "F", "C", "G"]
CHORUS_CHORDS = ["F", "G", "C", "Am", "F", "G", "E", "Am"]
BREAK_CHORDS = ["F", "C", "G", "Am", "Dm", "Am", "E", "E"]

# melodies: per bar a list of (beat, length in beats, midi note)
VERSE_MELODY = [
    [(0, 1, 76), (1, .5, 74), (1.5, .5, 72), (2, 1.5, 69), (3.5, .5, 71)],
    [(0, 1, 72), (1, .5, 74), (1.5, .5, 72), (2, 1.5, 77), (3.5, .5, 76)],
    [(0, 1, 76), (1, .5, 74), (1.5, .5, 72), (2, 1, 79), (3, 1, 76)],
    [(0, 1.5, 74), (1.5, .5, 71), (2, 2, 67)],
    [(0, 1, 76), (1, .5, 74), (1.5, .5, 72), (2, 1.5, 69), (3.5, .5, 72)],
    [(0, 1, 77), (1, 1, 76), (2, 1, 74), (3, 1, 72)],
    [(0, 1.5, 76), (1.5, .5, 79), (2, 2, 72)],
    [(0, 1, 74), (1, .5, 72), (1.5, .5, 71), (2, 2, 71)],
]
CHORUS_MELODY = [
    [(0, 1.5, 81), (1.5, .5, 79), (2, 2, 77)],
    [(0, 1.5, 79), (1.5, .5, 77), (2, 1, 74), (3, 1, 79)],
    [(0, 2, 76), (2, 1, 72), (3, 1, 76)],
    [(0, 3, 81), (3, 1, 79)],
    [(0, 1.5, 81), (1.5, .5, 79), (2, 1, 77), (3, 1, 81)],
    [(0, 1.5, 83), (1.5, .5, 81), (2, 2, 79)],
    [(0, 1, 80), (1, 1, 76), (2, 1, 83), (3, 1, 80)],
    [(0, 4, 81)],
]
BREAK_MELODY = [
    [(0, 4, 72)], [(0, 2, 72), (2, 2, 74)], [(0, 4, 71)], [(0, 2, 72), (2, 2, 76)],
    [(0, 4, 77)], [(0, 2, 76), (2, 2, 72)], [(0, 3, 71), (3, 1, 74)], [(0, 4, 80)],
]


def section_of(bar):
    if bar < 8:
        return "intro"
    if bar < 24:
        return "verse1"
    if bar < 32:
        return "chorus1"
    if bar < 40:
        return "break"
    if bar < 48:
        return "verse2"
    if bar < 56:
        return "chorus2"
    if bar < 64:
        return "outro"
    return "end"


def chord_of(bar):
    s = section_of(bar)
    if s in ("chorus1", "chorus2"):
        return CHORUS_CHORDS[bar % 8]
    if s == "break":
        return BREAK_CHORDS[bar % 8]
    if s == "end":
        return "Am"
    return VERSE_CHORDS[bar % 8]


# ---------------------------------------------------------------- the mix


class Bus:
    def __init__(self):
        self.n = int(round(TOTAL * SR))
        self.l = np.zeros(self.n)
        self.r = np.zeros(self.n)

    def add(self, x, t, gain=1.0, pan=0.0):
        """Adds mono x at time t (s), panned -1 (left) to 1 (right), equal power."""
        i = int(round(t * SR))
        if i >= self.n:
            return
        x = x[: self.n - i]
        gl = gain * np.cos((pan + 1) * np.pi / 4)
        gr = gain * np.sin((pan + 1) * np.pi / 4)
        self.l[i:i + len(x)] += gl * x
        self.r[i:i + len(x)] += gr * x

    def add_stereo(self, xl, xr, t, gain=1.0):
        i = int(round(t * SR))
        m = min(len(xl), self.n - i)
        self.l[i:i + m] += gain * xl[:m]
        self.r[i:i + m] += gain * xr[:m]


def bar_time(bar, beat=0.0):
    return bar * BAR + beat * BEAT


def render_drums(dry, verb):
    k, s, ch, oh = kick(), snare(), hat(False), hat(True)
    for bar in range(BARS):
        sec = section_of(bar)
        for step in range(16):
            beat = step / 4.0
            t = bar_time(bar, beat)
            vel = 0.9 + 0.1 * RNG.random()
            # kick
            four = sec in ("chorus1", "chorus2") or (sec == "outro" and bar < 60)
            if four and step % 4 == 0:
                dry.add(k, t, 0.95 * vel)
            elif sec in ("verse1", "verse2") and step in (0, 8, 10):
                dry.add(k, t, 0.95 * vel)
            elif sec == "intro" and bar >= 4 and step in (0, 8):
                dry.add(k, t, 0.8 * vel)
            elif sec == "outro" and bar >= 60 and bar < 63 and step == 0:
                dry.add(k, t, 0.8 * vel)
            # snare on 2 and 4
            backbeat = sec in ("verse1", "verse2", "chorus1", "chorus2") or (sec == "outro" and bar < 62)
            if backbeat and step in (4, 12):
                dry.add(s, t, 0.6 * vel, pan=0.05)
                verb.add(s, t, 0.25 * vel)
            # hats
            if sec in ("chorus1", "chorus2"):
                if step % 4 == 2:
                    dry.add(oh, t, 0.22 * vel, pan=0.3)
                elif step % 2 == 0:
                    dry.add(ch, t, 0.2 * vel, pan=0.3)
                else:
                    dry.add(ch, t, 0.1 * vel, pan=0.3)
            elif sec in ("verse1", "verse2", "outro") or (sec == "intro" and bar >= 3) or (sec == "break" and bar >= 36):
                if sec == "outro" and bar >= 62:
                    continue
                if step % 2 == 0:
                    acc = 0.2 if step % 4 == 2 else 0.12
                    dry.add(ch, t, acc * vel, pan=0.3)
        # fills: last bar of the intro and of the break build up with 16th snares
        if bar in (7, 39):
            for step in range(8 if bar == 7 else 0, 16):
                g = 0.2 + 0.45 * step / 15.0
                dry.add(s, bar_time(bar, step / 4.0), g, pan=-0.1)
                verb.add(s, bar_time(bar, step / 4.0), g * 0.4)
        if bar in (23, 47):   # a short fill before each chorus
            for step in (12, 13, 14, 15):
                dry.add(s, bar_time(bar, step / 4.0), 0.45, pan=-0.1)
        if bar == 32:         # crash-like open hat at the start of the break
            dry.add(oh, bar_time(bar), 0.4)


def pluck(f, dur, bright_cut, dark_cut, kind="saw", decay=6.0, bright_decay=18.0):
    n = int((dur + 0.25) * SR)
    t = np.arange(n) / SR
    b = osc(make_table(kind, f, bright_cut), f, n)
    d = osc(make_table(kind, f, dark_cut), f, n)
    x = b * np.exp(-t * bright_decay) + d * np.exp(-t * decay)
    gate = np.where(t < dur, 1.0, np.exp(-(t - dur) / 0.05))
    attack = np.minimum(1.0, t / 0.003)
    return x * gate * attack


def render_bass(dry):
    pattern = [(0, 0), (0.5, 0), (1, 12), (1.5, 0), (2, 0), (2.5, 0), (3, 12), (3.5, 7)]
    for bar in range(BARS):
        sec = section_of(bar)
        root = CHORD_NOTES[chord_of(bar)][1]
        if sec == "intro" and bar < 6:
            continue
        if sec == "break":
            # held roots under the break, one per bar
            if bar < 38:
                x = pluck(midi_hz(root - 12), 1.9, 400, 180, decay=1.2, bright_decay=6)
                dry.add(x, bar_time(bar), 0.4)
                continue
        if sec == "end":
            if bar == 64:
                x = pluck(midi_hz(33), 3.5, 300, 160, decay=0.9, bright_decay=4)
                dry.add(x, bar_time(bar), 0.48)
            continue
        if sec == "intro":
            steps = [(0, 0), (2, 0)]
        else:
            steps = pattern
        for beat, iv in steps:
            f = midi_hz(root - 12 + iv)
            dur = 0.8 if sec == "intro" else 0.21
            x = pluck(f, dur, 1600, 350, decay=5.0, bright_decay=22)
            tt = np.arange(len(x)) / SR
            sub = np.sin(2 * np.pi * f * tt) * np.exp(-tt * 4.0)
            sub *= np.where(tt < dur, 1.0, np.exp(-(tt - dur) / 0.04))
            dry.add(0.55 * x + 0.45 * sub, bar_time(bar, beat), 0.4)


def render_pad(dry, verb):
    for bar in range(BARS):
        sec = section_of(bar)
        notes = CHORD_NOTES[chord_of(bar)][0]
        if sec == "end" and bar > 64:
            continue
        dur = BAR * (2.0 if sec == "end" else 1.0)
        n = int((dur + 1.2) * SR)
        cut = {"intro": 700 + 100 * bar, "break": 1400, "chorus1": 2000, "chorus2": 2200,
               "end": 900}.get(sec, 1300)
        att = 0.6 if sec in ("intro", "break", "end") else 0.12
        env = adsr(n, att, 0.8, 0.7, 0.9 if sec != "end" else 1.6, dur)
        gain = {"intro": 0.16, "break": 0.2, "end": 0.22}.get(sec, 0.11)
        if sec == "intro" and bar < 2:
            gain *= (bar * BAR + np.arange(n) / SR) / (2 * BAR) * 0.8 + 0.2
        for m in notes:
            f = midi_hz(m)
            tab = make_table("saw", f, cut)
            xl = osc(tab, f * 1.0035, n, 0.1) + osc(tab, f * 0.9982, n, 0.7)
            xr = osc(tab, f * 0.9965, n, 0.4) + osc(tab, f * 1.0018, n, 0.2)
            dry.add_stereo(xl * env * gain * 0.5, xr * env * gain * 0.5, bar_time(bar))
            verb.add_stereo(xl * env * gain * 0.3, xr * env * gain * 0.3, bar_time(bar))


def render_arp(dry, verb):
    order = [0, 1, 2, 3, 2, 1, 3, 1]
    for bar in range(BARS):
        sec = section_of(bar)
        if sec in ("verse1",) or (sec == "intro" and bar < 2) or sec == "end":
            continue
        if sec == "outro" and bar >= 62:
            continue
        notes = CHORD_NOTES[chord_of(bar)][0]
        gain = {"intro": 0.05 + 0.012 * bar, "break": 0.13, "verse2": 0.08,
                "chorus1": 0.07, "chorus2": 0.08, "outro": 0.08}[sec]
        cut = 1800 if sec != "intro" else 900 + 150 * bar
        for step in range(16):
            m = notes[order[step % 8]] + 12
            f = midi_hz(m)
            x = pluck(f, 0.11, cut * 2, cut * 0.6, kind="square", decay=9.0, bright_decay=30)
            pan = 0.45 * np.sin(step * np.pi / 4)
            dry.add(x, bar_time(bar, step / 4.0), gain, pan=pan)
            verb.add(x, bar_time(bar, step / 4.0), gain * 0.8, pan=-pan)


def lead_note(m, dur, vib_depth=0.006, bright=3000):
    f0 = midi_hz(m)
    n = int((dur + 0.4) * SR)
    t = np.arange(n) / SR
    # vibrato fades in after the first tenth of a second
    vib = 1.0 + vib_depth * np.sin(2 * np.pi * 5.2 * t) * np.clip((t - 0.12) / 0.3, 0, 1)
    f = f0 * vib
    x = 0.6 * osc(make_table("square", f0, bright), f, n) + 0.4 * osc(make_table("saw", f0, bright * 0.7), f * 1.003, n)
    return x * adsr(n, 0.012, 0.25, 0.75, 0.12, dur)


def render_lead(dry, verb, echo):
    for bar in range(BARS):
        sec = section_of(bar)
        if sec in ("verse1", "verse2", "outro"):
            mel, gain = VERSE_MELODY[bar % 8], 0.28
            if sec == "outro" and bar >= 60:
                gain = 0.28 * (64 - bar) / 5.0
            if sec == "verse1" and bar < 16:
                gain = 0.24
        elif sec in ("chorus1", "chorus2"):
            mel, gain = CHORUS_MELODY[bar % 8], 0.3
        elif sec == "break" and bar >= 32:
            mel, gain = BREAK_MELODY[bar % 8], 0.2
        elif sec == "end" and bar == 64:
            mel, gain = [(0, 6, 69)], 0.2
        else:
            continue
        for beat, length, m in mel:
            dur = length * BEAT * 0.92
            x = lead_note(m, dur, vib_depth=0.009 if sec == "break" else 0.006,
                          bright=2000 if sec == "break" else 3200)
            t = bar_time(bar, beat)
            dry.add(x, t, gain, pan=-0.08)
            verb.add(x, t, gain * 0.5)
            echo.add(x, t, gain * 0.45)
            if sec == "chorus2":   # an octave below, softer, for the last chorus
                y = lead_note(m - 12, dur, bright=1800)
                dry.add(y, t, gain * 0.45, pan=0.2)
                verb.add(y, t, gain * 0.2)
            if sec == "verse2":    # a soft third above from the arpeggio's register
                pass


def apply_echo(bus, delay_s, feedback, taps=5):
    """Ping-pong echo of a send bus: dotted eighths alternating left and right."""
    d = int(round(delay_s * SR))
    outl = np.zeros(bus.n)
    outr = np.zeros(bus.n)
    src = fft_filter(0.5 * (bus.l + bus.r), lo=300, hi=4000)
    g = 1.0
    for k in range(1, taps + 1):
        g *= feedback
        shifted = np.zeros(bus.n)
        shifted[k * d:] = src[: bus.n - k * d]
        if k % 2:
            outl += g * shifted
        else:
            outr += g * shifted
    return outl, outr


def apply_reverb(bus, seconds=2.2):
    """Convolution with decaying, decorrelated noise: a plain hall for the send bus."""
    n = int(seconds * SR)
    t = np.arange(n) / SR
    env = np.exp(-t * 6.9 / seconds)
    pre = int(0.02 * SR)
    irs = []
    for _ in range(2):
        ir = RNG.standard_normal(n) * env
        ir = fft_filter(ir, lo=200, hi=6000)
        ir[:pre] = 0
        irs.append(ir / np.sqrt(np.sum(ir ** 2)))
    size = 1 << int(np.ceil(np.log2(bus.n + n)))
    out = []
    for x, ir in ((bus.l, irs[0]), (bus.r, irs[1])):
        y = np.fft.irfft(np.fft.rfft(x, size) * np.fft.rfft(ir, size), size)[: bus.n]
        out.append(y)
    return out


def render():
    dry, verb, echo = Bus(), Bus(), Bus()
    print("drums", flush=True)
    render_drums(dry, verb)
    print("bass", flush=True)
    render_bass(dry)
    print("pad", flush=True)
    render_pad(dry, verb)
    print("arpeggio", flush=True)
    render_arp(dry, verb)
    print("lead", flush=True)
    render_lead(dry, verb, echo)
    print("effects", flush=True)
    el, er = apply_echo(echo, 0.75 * BEAT, 0.45)
    echo.l[:] = 0
    echo.r[:] = 0
    echo.add_stereo(el, er, 0.0)
    rl, rr = apply_reverb(verb)
    left = dry.l + 0.35 * rl + 0.5 * el
    right = dry.r + 0.35 * rr + 0.5 * er
    # everything after the final chord's release fades to true silence
    t = np.arange(dry.n) / SR
    fade_start, fade_end = 64 * BAR + 2.5, BARS * BAR
    fade = np.clip((fade_end - t) / (fade_end - fade_start), 0, 1) ** 2
    left *= fade
    right *= fade
    # the asymmetric kick and bass leave a little DC and sub-sonic drift
    left = fft_filter(left, lo=18)
    right = fft_filter(right, lo=18)
    # soft limiting, then normalise to -1 dBFS
    peak = max(np.max(np.abs(left)), np.max(np.abs(right)))
    left, right = np.tanh(1.2 * left / peak), np.tanh(1.2 * right / peak)
    peak = max(np.max(np.abs(left)), np.max(np.abs(right)))
    scale = 10 ** (-1.0 / 20) / peak
    return left * scale, right * scale


def write_wav(path, left, right):
    pcm = np.empty(2 * len(left), dtype="<i2")
    pcm[0::2] = np.round(np.clip(left, -1, 1) * 32767)
    pcm[1::2] = np.round(np.clip(right, -1, 1) * 32767)
    with wave.open(path, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(SR)
        w.writeframes(pcm.tobytes())


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    res = os.path.dirname(here)
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--wav", default="/tmp/tavoy-music.wav",
                    help="where to write the intermediate WAV")
    ap.add_argument("--mp3", default=os.path.join(res, "Quelf - Tavoy Rip.mp3"))
    ap.add_argument("--no-mp3", action="store_true", help="stop after the WAV")
    args = ap.parse_args()
    left, right = render()
    write_wav(args.wav, left, right)
    print("wrote %s: %.3f s" % (args.wav, len(left) / SR))
    if not args.no_mp3:
        # --noreplaygain keeps the bytes reproducible; -q 2 is lame's high quality
        cmd = ["lame", "--quiet", "-b", "192", "-q", "2", "--noreplaygain", args.wav, args.mp3]
        if subprocess.call(cmd) != 0:
            sys.exit("make_music: lame failed")
        print("wrote %s" % args.mp3)


if __name__ == "__main__":
    main()
