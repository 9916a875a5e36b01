#!/usr/bin/python3
"""Writes res/src/show.tracks, the fourteen tracks of the bundled show as text.

The show is described here scene by scene on the music's bar grid (120 BPM:
one beat is 10 rows, one bar 40 rows), which keeps every key on a beat; the
text it writes is then compiled with

    build-assets/tools/demotool track build res/src/show.tracks res

Sections of the music (rows):  intro 0-320, verse 320-960, chorus 960-1280,
break 1280-1600, verse 1600-1920, chorus 1920-2240, outro 2240-2560, final
chord 2560-2640.  The music lasts 132.1 s (2642 rows) and falls silent at row
2640, where "control" becomes 777.

The scroll keys come from the scroll line itself: this script reads its pieces
from src/render/ScrollText.cpp and measures them with the bold outline font's
advances (Liberation Sans Bold, the face the engine uses), so that the word
"Welcome." and the closing phrase stop in the middle of the screen.

Usage: /usr/bin/python3 res/src/make_tracks.py [OUT]   (default res/src/show.tracks)
"""

import math
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

BEAT = 10
BAR = 40
END_ROW = 2640          # the last sound has died away: 132.0 s
SECTIONS = [            # name, first bar, bar after the last
    ("intro", 0, 8), ("verse1", 8, 24), ("chorus1", 24, 32), ("break", 32, 40),
    ("verse2", 40, 48), ("chorus2", 48, 56), ("outro", 56, 64), ("end", 64, 66),
]

# Text units at depth 1: the view spans about +-7.36 of them across (16:9), and
# the line's first character starts at 7.4 - scroll.x.
HALF_VIEW = 7.36
TEXT_ORIGIN = 7.4


def bar(b, beat=0):
    return b * BAR + beat * BEAT


class Track:
    def __init__(self, name):
        self.name = name
        self.keys = []

    def key(self, row, value, kind="linear"):
        # scenes add keys section by section, so order them here; two keys on
        # one row would be a mistake in the description
        row = int(row)
        if any(k[0] == row for k in self.keys):
            raise ValueError("%s: two keys on row %d" % (self.name, row))
        self.keys.append((row, float(value), kind))
        self.keys.sort()

    def text(self):
        lines = ["track %s" % self.name]
        for row, value, kind in self.keys:
            v = ("%.4f" % value).rstrip("0").rstrip(".")
            if v in ("-0", ""):
                v = "0"
            lines.append("  %-6d %-10s %s" % (row, v, kind))
        return "\n".join(lines)


# ---------------------------------------------------------------- the scroll line


def scroll_pieces():
    """(text, spaces after) for each piece of the scroll line, from its source."""
    src = open(os.path.join(ROOT, "src", "render", "ScrollText.cpp")).read()
    body = src[src.index("Pieces[] = {"):]
    body = body[:body.index("};")]
    pieces = []
    for m in re.finditer(r'\{((?:\s*"(?:[^"\\]|\\.)*")+)\s*,\s*(\d+)\s*\}', body):
        parts = re.findall(r'"((?:[^"\\]|\\.)*)"', m.group(1))
        pieces.append(("".join(p.replace('\\"', '"') for p in parts), int(m.group(2))))
    if sum(len(t) + n for t, n in pieces) != 1295:
        sys.exit("make_tracks: could not read the 1295-character scroll line")
    return pieces


def advance_table():
    """Advance of each character in em units, from the bold outline face."""
    from PIL import ImageFont
    path = "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf"
    font = ImageFont.truetype(path, 2048)
    return lambda c: font.getlength(c) / 2048.0


def piece_layout():
    """Start offset and width of each piece along the line, in text units."""
    adv = advance_table()
    at, out = 0.0, []
    for text, spaces in scroll_pieces():
        w = sum(adv(c) for c in text)
        out.append((text, at, w))
        at += w + spaces * adv(" ")
    return out, at


def centred(start, width):
    """scroll.x that puts a piece in the middle of the view."""
    return TEXT_ORIGIN + start + width / 2


# ---------------------------------------------------------------- the show


def make_show():
    t = {name: Track(name) for name in (
        "back.n", "back.x", "back.y", "back.r", "back.g", "back.b", "back.scale",
        "back.rotx", "back.roty", "back.rotz", "scroll.x", "scroll.y", "scroll.r", "control")}

    # ---- control: which plane shows, fading in and out on the sections.
    # A fade takes 201 steps of one frame each (at most one per 0.1 row), about
    # 70 rows at 60 frames a second, so every fade gets 80 rows or more.
    c = t["control"]
    for row, code in [
        (0, 0),
        (bar(1), 7),     # intro: the logo's bands grow in
        (bar(5), 8),     #   and shrink away before the verse
        (bar(8), 1),     # verse 1: star-flower mosaic
        (bar(13), 2),
        (bar(16), 3),    # verse 1, second half: night skyline bands
        (bar(21), 4),
        (bar(24), 5),    # chorus 1: the bee swarm
        (bar(29), 6),
        (bar(33), 9),    # break: the dustbin mosaic
        (bar(38), 10),
        (bar(40), 1),    # verse 2: star-flowers again
        (bar(45), 2),
        (bar(48), 5),    # chorus 2: bees
        (bar(53), 6),
        (bar(56), 7),    # outro: the logo
        (bar(60), 8),
        (bar(62), 11),   # the dustbins swarm in and stay to the end
        (END_ROW, 777),
    ]:
        c.key(row, code, "step")

    # ---- back.n: every slot once, a new picture for each section
    n = t["back.n"]
    for row, slot in [(0, 1), (bar(8), 2), (bar(16), 0), (bar(24), 4), (bar(32), 3),
                      (bar(40), 5), (bar(48), 6), (bar(56), 2), (bar(62), 0)]:
        n.key(row, slot, "step")

    # ---- back.scale: grows out of nothing in the intro, breathes on the bars,
    # pulses on every beat in the choruses, large and slow in the break.
    s = t["back.scale"]
    s.key(0, -1.0, "smooth")
    s.key(bar(2), -1.0, "smooth")
    s.key(bar(6), 0.35, "smooth")
    s.key(bar(8) - 2, 0.35, "linear")
    s.key(bar(8), -0.4, "smooth")             # verse: a smaller tile
    for b in range(8, 24):
        s.key(bar(b) + 20, -0.25 if b % 2 else -0.45, "smooth")
        if b == 15:
            s.key(bar(16) - 2, -0.35, "linear")
            s.key(bar(16), -0.1, "smooth")     # the logo, a little larger
        elif b < 23:
            s.key(bar(b + 1), -0.35 if b < 15 else -0.1, "smooth")
    for sec_start in (24, 48):
        s.key(bar(sec_start) - 10, -0.1, "linear")
        for k in range(32):                    # a kick on every beat: pulse
            row = bar(sec_start) + k * BEAT
            s.key(row, 0.15, "linear")
            s.key(row + 6, -0.15, "linear")
        if sec_start == 24:
            s.key(bar(32), 0.2, "smooth")      # break: big and slow
            s.key(bar(36), 1.2, "smooth")
            s.key(bar(39), 1.0, "smooth")
            s.key(bar(40) - 2, -0.5, "linear")
            for b in range(40, 48):
                s.key(bar(b), -0.3, "smooth")
                s.key(bar(b) + 20, -0.5, "smooth")
    s.key(bar(56), -0.2, "smooth")
    s.key(bar(60), -0.45, "smooth")
    s.key(bar(62), -1.0, "smooth")             # gone, then the logo comes back
    s.key(bar(63), -0.2, "smooth")
    s.key(bar(64), -0.05, "smooth")
    s.key(END_ROW, 0.05, "linear")

    # ---- back.x / back.y: sideways sway on the bars, circles in the choruses
    x, y = t["back.x"], t["back.y"]
    x.key(0, 0.0, "smooth")
    y.key(0, 0.2, "smooth")
    y.key(bar(8) - 10, 0.3, "smooth")
    for b in range(8, 24):
        x.key(bar(b), 1.2 if b % 2 == 0 else -1.2, "smooth")
        y.key(bar(b), 0.3 if b % 2 == 0 else 0.5, "smooth")
    for sec_start in (24, 48):
        for k in range(33):   # one turn of a circle every bar, keyed on every beat
            row = bar(sec_start) + k * BEAT
            ang = k * math.pi / 2
            if sec_start == 48 and k == 32:
                break
            x.key(row, 1.4 * math.cos(ang), "smooth" if k % 2 else "linear")
            y.key(row, 0.2 + 0.7 * math.sin(ang), "smooth" if k % 2 == 0 else "linear")
    x.key(bar(33), 0.0, "smooth")
    y.key(bar(33), 0.0, "smooth")
    x.key(bar(39), 0.0, "smooth")
    y.key(bar(39), 0.0, "smooth")
    for b in range(40, 48):    # the bee hops from side to side on the beats
        for k in range(4):
            row = bar(b, k)
            x.key(row, -1.6 + 0.8 * ((b * 4 + k) % 5), "linear")
            y.key(row, 0.6, "smooth")
            y.key(row + 5, 0.9, "smooth")
    for b in range(56, 62):
        x.key(bar(b), 1.5 if b % 2 == 0 else -1.5, "smooth")
        y.key(bar(b), 0.4, "smooth")
    x.key(bar(62), 0.0, "smooth")     # the finale: the logo high, the last words under it
    y.key(bar(62), 0.75, "smooth")
    x.key(END_ROW, 0.0, "linear")
    y.key(END_ROW, 0.75, "linear")

    # ---- tint: a colour for each section, flashing on the beats of the choruses
    r, g, bl = t["back.r"], t["back.g"], t["back.b"]

    def tint(row, rgb, kind="linear"):
        r.key(row, rgb[0], kind)
        g.key(row, rgb[1], kind)
        bl.key(row, rgb[2], kind)

    tint(0, (1.0, 0.7, 1.0), "smooth")
    tint(bar(7), (1.0, 1.0, 1.0), "smooth")
    tint(bar(8), (0.9, 1.0, 0.8), "smooth")
    tint(bar(16) - 1, (0.6, 0.9, 1.0), "step")
    tint(bar(16), (1.0, 1.0, 1.0), "smooth")
    tint(bar(23), (1.0, 0.8, 0.9), "linear")
    for sec_start in (24, 48):
        base = (0.55, 0.6, 0.9) if sec_start == 24 else (0.9, 0.6, 0.5)
        for k in range(32):
            row = bar(sec_start) + k * BEAT
            tint(row, (1.0, 1.0, 1.0), "linear")
            tint(row + 7, base, "linear")
        if sec_start == 24:
            tint(bar(32), (1.0, 1.0, 1.0), "smooth")   # break: the flower glows,
            tint(bar(35), (0.7, 0.5, 1.0), "smooth")   # drifts to violet
            tint(bar(38), (1.0, 0.9, 0.6), "smooth")   # and warms up
            tint(bar(40), (1.0, 1.0, 1.0), "smooth")
            tint(bar(47), (1.0, 0.9, 0.7), "linear")
    tint(bar(56), (0.8, 0.9, 1.0), "smooth")
    tint(bar(62) - 1, (0.5, 0.6, 0.9), "step")
    tint(bar(62), (1.0, 1.0, 1.0), "smooth")
    tint(END_ROW, (0.9, 0.9, 1.0), "linear")

    # ---- rotations: a steady spin about z, tilts about x and y on the bars,
    # a half turn about y on each chorus and a whole one through the break.
    rx, ry, rz = t["back.rotx"], t["back.roty"], t["back.rotz"]
    rz.key(0, 0.0, "linear")
    rz.key(bar(8), 90.0, "linear")
    rz.key(bar(16), 30.0, "smooth")      # verse 1: the tile turns back
    rz.key(bar(16) + 1, 0.0, "smooth")   # the logo comes in upright
    rz.key(bar(24) - 1, 0.0, "linear")
    rz.key(bar(32), -180.0, "smooth")    # chorus 1: half a turn
    rz.key(bar(40), -180.0 - 45.0, "linear")
    rz.key(bar(48), -180.0 - 405.0, "linear")   # verse 2: spinning
    rz.key(bar(56), -180.0 - 765.0, "smooth")
    rz.key(bar(62), -180.0 - 900.0, "step")     # settle upright for the logo
    rz.key(bar(62) + 1, 0.0, "step")
    rz.key(END_ROW, 0.0, "linear")

    rx.key(0, 0.0, "smooth")
    for b in range(8, 24, 2):
        rx.key(bar(b), 0.0, "smooth")
        rx.key(bar(b + 1), 25.0, "smooth")
    rx.key(bar(24), 0.0, "smooth")
    rx.key(bar(32), 0.0, "smooth")
    rx.key(bar(36), 360.0, "smooth")     # break: one slow somersault
    rx.key(bar(40) - 1, 360.0, "step")
    rx.key(bar(40), 0.0, "smooth")
    for b in range(40, 48, 2):
        rx.key(bar(b) + 1, 0.0, "smooth")
        rx.key(bar(b + 1), -20.0, "smooth")
    rx.key(bar(48), 0.0, "smooth")
    rx.key(END_ROW, 0.0, "linear")

    ry.key(0, -60.0, "smooth")
    ry.key(bar(4), 0.0, "smooth")
    ry.key(bar(24), 0.0, "smooth")
    ry.key(bar(25), 180.0, "smooth")     # flip at the chorus
    ry.key(bar(31), 180.0, "smooth")
    ry.key(bar(32), 360.0, "step")
    ry.key(bar(32) + 1, 0.0, "smooth")
    ry.key(bar(48), 0.0, "smooth")
    ry.key(bar(49), -180.0, "smooth")
    ry.key(bar(55), -180.0, "smooth")
    ry.key(bar(56), -360.0, "step")
    ry.key(bar(56) + 1, 0.0, "smooth")
    ry.key(bar(62), 0.0, "smooth")
    ry.key(bar(64), 15.0, "smooth")
    ry.key(END_ROW, 0.0, "linear")

    # ---- scroll.x: the intro spells "W", "We", "Wel", "Welc" one at a time,
    # each gliding in and stopping in the middle on a bar; "Welcome." lands on
    # the verse's first beat and holds a bar; then the paragraphs crawl past at
    # one steady speed until the closing phrase slows down and stops in the
    # middle on the final chord.
    layout, total = piece_layout()
    sx = t["scroll.x"]
    sx.key(0, 0.0, "smooth")
    stops = [bar(1), bar(3), bar(4) + 20, bar(6)]
    for (text, start, width), row in zip(layout[:4], stops):
        sx.key(row, centred(start, width), "smooth")
        sx.key(row + 20, centred(start, width), "smooth")
    welcome = centred(layout[4][1], layout[4][2])
    sx.key(bar(8), welcome, "smooth")
    hold_end = bar(9)
    ramp_end = bar(10)
    closing = centred(layout[-1][1], layout[-1][2])
    stop_row = bar(64)
    ease_rows = 80
    # speed v: the ramp covers v * 40 / 2 rows' worth, the ease-out about v * 80 / 2
    v = (closing - welcome) / ((ramp_end - hold_end) / 2 + (stop_row - ease_rows - ramp_end) + ease_rows / 2)
    sx.key(hold_end, welcome, "ramp")   # t squared: starts still, ends at speed v
    at = welcome + v * (ramp_end - hold_end) / 2
    sx.key(ramp_end, at, "linear")
    cruise_end = stop_row - ease_rows
    at += v * (cruise_end - ramp_end)
    # ease out in linear pieces of falling speed, reaching the stop exactly
    steps = 8
    piece_rows = ease_rows // steps
    sx.key(cruise_end, at, "linear")
    for k in range(1, steps):
        speed = v * (1 - (k - 0.5) / steps)
        at += speed * piece_rows
        sx.key(cruise_end + k * piece_rows, at, "linear")
    sx.key(stop_row, closing, "linear")
    sx.key(END_ROW, closing, "step")
    gone = total + 2 * HALF_VIEW      # for the record: the whole line has passed
    assert gone > closing

    # ---- scroll.y: low in the picture; bounces on the beats of the choruses,
    # rises to the middle through the break, and under the logo for the closing phrase.
    sy = t["scroll.y"]
    sy.key(0, 0.0, "smooth")
    sy.key(bar(24) - 10, 0.0, "smooth")
    for sec_start in (24, 48):
        for k in range(32):
            row = bar(sec_start) + k * BEAT
            sy.key(row, 0.0, "smooth")
            sy.key(row + 5, 0.45, "smooth")
        if sec_start == 24:
            sy.key(bar(32), 0.0, "smooth")
            sy.key(bar(34), 2.8, "smooth")
            sy.key(bar(38), 2.8, "smooth")
            sy.key(bar(40), 0.0, "smooth")
            sy.key(bar(48) - 10, 0.0, "smooth")
    sy.key(bar(56), 0.0, "smooth")
    sy.key(bar(62), 0.0, "smooth")
    sy.key(bar(64), 1.3, "smooth")         # "See you soon." just under the logo
    sy.key(END_ROW, 1.3, "step")

    # ---- scroll.r: gentle rocking in the verses, harder in the choruses,
    # a full somersault of the line at the start of the break.
    sr = t["scroll.r"]
    sr.key(0, 0.0, "smooth")
    for b in range(8, 24):
        sr.key(bar(b), 12.0 if b % 2 == 0 else -12.0, "smooth")
    for sec_start in (24, 48):
        for k in range(16):
            sr.key(bar(sec_start) + k * 20, 25.0 if k % 2 == 0 else -25.0, "smooth")
        if sec_start == 24:
            sr.key(bar(32), 0.0, "smooth")
            sr.key(bar(34), -360.0, "smooth")   # one turn over two bars
            sr.key(bar(39), -360.0, "step")
            sr.key(bar(39) + 1, 0.0, "smooth")
            for b in range(40, 48):
                sr.key(bar(b), -12.0 if b % 2 == 0 else 12.0, "smooth")
    for b in range(56, 62):
        sr.key(bar(b), 10.0 if b % 2 == 0 else -10.0, "smooth")
    sr.key(bar(62), -70.0, "smooth")        # the closing phrase tips up into view
    sr.key(bar(64), 0.0, "smooth")
    sr.key(END_ROW, 0.0, "step")

    return t, layout, total, v


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "show.tracks")
    tracks, layout, total, v = make_show()
    head = [
        "# The bundled show: fourteen tracks at 20 rows per second of music.",
        "# Written by res/src/make_tracks.py; compile with",
        "#   demotool track build res/src/show.tracks res",
        "# 120 BPM: a beat every 10 rows, a bar every 40.  Sections: intro 0, verse 320,",
        "# chorus 960, break 1280, verse 1600, chorus 1920, outro 2240, final chord 2560;",
        "# control reaches 777 at row %d, where the music falls silent." % END_ROW,
        "# The scroll line is %.2f units long; it crawls at %.4f units a row." % (total, v),
        "",
    ]
    order = ["back.n", "back.x", "back.y", "back.r", "back.g", "back.b", "back.scale",
             "back.rotx", "back.roty", "back.rotz", "scroll.x", "scroll.y", "scroll.r", "control"]
    with open(out, "w") as f:
        f.write("\n".join(head) + "\n")
        f.write("\n\n".join(tracks[name].text() for name in order) + "\n")
    print("wrote %s: %d keys" % (out, sum(len(tr.keys) for tr in tracks.values())))


if __name__ == "__main__":
    main()
