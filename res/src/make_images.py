#!/usr/bin/python3
"""Draws the show's seven images into res/.

    vorn.gif          slot 0  the TAVOY logo over a striped retro sun
    dravel.jpg        slot 1  a plasma ring around a black (see-through) hole
    tile.jpg          slot 2  glazed eight-point star tiles
    grlsch.png        slot 3  a glowing star-flower with a soft, partial alpha halo
    nightbacon.gif    slot 4  a night skyline under a crescent moon
    atari_st_bee.gif  slot 5  a pixel-art bee
    poubell.gif       slot 6  a pixel-art dustbin

GIF and JPEG pictures are stretched into a square texture by the engine and
every pixel whose green and blue are both 0 becomes transparent there: black
is the see-through colour of the GIFs (they also carry a transparent palette
index), and no opaque pixel is allowed to be black or pure red.  grlsch.png is
RGBA with a real alpha channel, written here by our own PNG encoder with Adam7
interlacing, so the engine's decoder runs its full path on it at every start.

Usage: /usr/bin/python3 res/src/make_images.py [OUTDIR]   (default: res/)
Needs numpy and PIL.  Deterministic.
"""

import os
import struct
import sys
import zlib

import numpy as np
from PIL import Image

# ---------------------------------------------------------------- lettering
# Our own 5 x 7 capitals, just the ones the pictures spell.
GLYPHS = {
    "T": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."],
    "A": [".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"],
    "V": ["#...#", "#...#", "#...#", "#...#", ".#.#.", ".#.#.", "..#.."],
    "O": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "Y": ["#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."],
    "B": ["####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."],
    "Z": ["#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"],
}


def text_mask(text, cell):
    """Boolean mask of text in the 5 x 7 font, each font pixel cell x cell."""
    cols = 6 * len(text) - 1
    m = np.zeros((7, cols), bool)
    for i, ch in enumerate(text):
        g = GLYPHS[ch]
        for y in range(7):
            for x in range(5):
                m[y, 6 * i + x] = g[y][x] == "#"
    return np.kron(m, np.ones((cell, cell), bool))


def dilate(mask, r):
    out = mask.copy()
    for dy in range(-r, r + 1):
        for dx in range(-r, r + 1):
            if dx * dx + dy * dy <= r * r:
                out |= np.roll(np.roll(mask, dy, 0), dx, 1)
    return out


def paste_mask(dst_mask, m, x0, y0):
    h, w = m.shape
    dst_mask[y0:y0 + h, x0:x0 + w] |= m


def lerp_colors(stops, t):
    """Piecewise-linear colour ramp: stops is [(t, (r, g, b)), ...], t an array in 0..1."""
    t = np.clip(t, 0, 1)
    out = np.zeros(t.shape + (3,))
    ts = [s[0] for s in stops]
    for c in range(3):
        out[..., c] = np.interp(t, ts, [s[1][c] for s in stops])
    return out


# ---------------------------------------------------------------- GIF writing


def save_keyed_gif(path, rgb, transparent, colors=255, dither=False):
    """Saves an RGB array as a GIF whose transparent pixels are black and use
    the transparent palette index; opaque pixels are kept off the colour key."""
    rgb = np.clip(np.round(rgb), 0, 255).astype(np.uint8)
    opaque = rgb.copy()
    opaque[transparent] = opaque[~transparent].mean(axis=0).astype(np.uint8)
    img = Image.fromarray(opaque, "RGB")
    q = img.quantize(colors=colors, method=Image.Quantize.MEDIANCUT,
                     dither=Image.Dither.FLOYDSTEINBERG if dither else Image.Dither.NONE)
    idx = np.array(q)
    pal = q.getpalette()[: 3 * 256]
    pal += [0] * (768 - len(pal))
    for i in range(256):
        r, g, b = pal[3 * i:3 * i + 3]
        if g == 0 and b == 0:           # would be keyed out: nudge blue up
            pal[3 * i + 2] = 8
    key = 255
    idx[transparent] = key
    pal[3 * key:3 * key + 3] = [0, 0, 0]
    out = Image.fromarray(idx.astype(np.uint8), "P")
    out.putpalette(pal)
    out.save(path, transparency=key, optimize=False)


def save_jpeg(path, rgb):
    rgb = np.clip(np.round(rgb), 0, 255).astype(np.uint8)
    Image.fromarray(rgb, "RGB").save(path, quality=92, subsampling=0, optimize=True)


# ---------------------------------------------------------------- PNG writing
# Our own encoder: 8-bit RGBA, Adam7 interlacing, a filter chosen per scanline
# by the smallest sum of absolute filtered bytes, IDAT split over several chunks.

ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4),
         (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]   # x0, y0, dx, dy


def paeth(a, b, c):
    p = a.astype(np.int16) + b - c
    pa, pb, pc = np.abs(p - a), np.abs(p - b), np.abs(p - c)
    return np.where((pa <= pb) & (pa <= pc), a, np.where(pb <= pc, b, c)).astype(np.uint8)


def filter_rows(img, bpp=4):
    """Filters a (h, w*bpp) uint8 image: returns bytes with one filter byte per row."""
    out = bytearray()
    prev = np.zeros(img.shape[1], np.uint8)
    for row in img:
        left = np.concatenate([np.zeros(bpp, np.uint8), row[:-bpp]])
        upleft = np.concatenate([np.zeros(bpp, np.uint8), prev[:-bpp]])
        cands = [
            row,
            row - left,
            row - prev,
            row - ((left.astype(np.uint16) + prev) // 2).astype(np.uint8),
            row - paeth(left, prev, upleft),
        ]
        # signed magnitude heuristic: bytes near 0 or 256 cost little
        costs = [np.sum(np.minimum(c, 256 - c.astype(np.uint16))) for c in cands]
        f = int(np.argmin(costs))
        out.append(f)
        out += cands[f].astype(np.uint8).tobytes()
        prev = row
    return bytes(out)


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png_rgba_adam7(path, rgba):
    h, w, _ = rgba.shape
    raw = bytearray()
    for x0, y0, dx, dy in ADAM7:
        sub = rgba[y0::dy, x0::dx]
        if sub.shape[0] == 0 or sub.shape[1] == 0:
            continue                    # empty passes contribute no bytes at all
        raw += filter_rows(np.ascontiguousarray(sub).reshape(sub.shape[0], -1))
    z = zlib.compress(bytes(raw), 9)
    out = b"\x89PNG\r\n\x1a\n"
    out += png_chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 1))
    for i in range(0, len(z), 8192):
        out += png_chunk(b"IDAT", z[i:i + 8192])
    out += png_chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(out)
    # read it back with an independent decoder: it must give the same pixels
    back = np.array(Image.open(path).convert("RGBA"))
    if not np.array_equal(back, rgba):
        sys.exit("make_images: %s does not read back identically" % path)


# ---------------------------------------------------------------- the pictures


def grid(n):
    y, x = np.mgrid[0:n, 0:n].astype(float)
    return x, y


def vorn(n=320):
    """The logo: TAVOY in gradient capitals over a striped retro sun."""
    x, y = grid(n)
    rgb = np.zeros((n, n, 3))
    clear = np.ones((n, n), bool)
    # the sun: upper disc, horizontal gaps that widen towards its lower edge
    cx, cy, r = n / 2, n * 0.42, n * 0.36
    d = np.hypot(x - cx, y - cy)
    sun = d < r
    v = (y - (cy - r)) / (2 * r)
    band = ((y - (cy - r * 0.1)) % (n * 0.07))
    gap = (y > cy - r * 0.1) & (band < (v - 0.45) * n * 0.09)
    sun &= ~gap
    sun &= y < cy + r * 0.72
    sun_col = lerp_colors([(0, (255, 236, 120)), (0.45, (255, 150, 60)), (1, (230, 40, 140))], v)
    rgb[sun] = sun_col[sun]
    clear &= ~sun
    # a thin ring around the sun
    ring = (np.abs(d - r * 1.08) < n * 0.008) & (y < cy + r * 0.72)
    rgb[ring] = (120, 220, 255)
    clear &= ~ring
    # the lettering with a deep blue outline and a drop shadow
    cell = n // 36
    m = text_mask("TAVOY", cell)
    th, tw = m.shape
    x0, y0 = (n - tw) // 2, int(n * 0.70)
    letters = np.zeros((n, n), bool)
    paste_mask(letters, m, x0, y0)
    shadow = np.roll(np.roll(dilate(letters, cell // 2 + 1), cell // 2 + 2, 0), cell // 2 + 2, 1)
    outline = dilate(letters, cell // 2 + 1)
    rgb[shadow] = (40, 12, 70)
    rgb[outline] = (20, 30, 110)
    tv = (y - y0) / th
    fill = lerp_colors([(0, (210, 255, 255)), (0.45, (90, 200, 255)), (0.55, (255, 255, 255)),
                        (1, (255, 110, 220))], tv)
    rgb[letters] = fill[letters]
    clear &= ~(shadow | outline | letters)
    rgb[clear] = 0
    return rgb, clear


def dravel(n=384):
    """A plasma ring around a black hole that the colour key makes see-through."""
    x, y = grid(n)
    u, v = x / n * 2 - 1, y / n * 2 - 1
    p = (np.sin(u * 7.0) + np.sin(v * 5.0 + 1.3) + np.sin((u + v) * 6.0)
         + np.sin(np.hypot(u * 3 + 0.5, v * 3 - 0.8) * 4.0)) / 4.0
    col = lerp_colors([(0, (40, 10, 90)), (0.3, (140, 30, 160)), (0.55, (250, 110, 60)),
                       (0.75, (255, 220, 110)), (1, (120, 240, 255))], p * 0.5 + 0.5)
    r = np.hypot(u, v)
    # a bright rim around the hole and a darker rim at the edge
    rim = np.exp(-((r - 0.42) / 0.03) ** 2)
    col = col * (1 - rim[..., None]) + np.array([255, 250, 230]) * rim[..., None]
    col *= np.clip(1.25 - 0.35 * r, 0.5, 1)[..., None]
    col = np.maximum(col, 6)       # keep the ring itself opaque
    col[r < 0.38] = 0
    return col


def tile(n=384, tiles=4):
    """Glazed ceramic tiles, each with an eight-point star and a rosette."""
    x, y = grid(n)
    s = n / tiles
    u = (x % s) / s * 2 - 1
    v = (y % s) / s * 2 - 1
    r = np.hypot(u, v)
    a = np.arctan2(v, u)
    star_r = 0.62 + 0.22 * np.cos(8 * a) ** 2 * 0 + 0.2 * np.abs(np.cos(4 * a))
    star = r < star_r * 0.85
    rosette = r < 0.22 + 0.06 * np.cos(8 * a)
    base = lerp_colors([(0, (236, 226, 196)), (1, (214, 198, 160))], r / 1.4)
    col = base.copy()
    glaze = lerp_colors([(0, (20, 120, 140)), (1, (30, 70, 120))], r)
    col[star] = glaze[star]
    col[rosette] = lerp_colors([(0, (250, 200, 80)), (1, (200, 120, 40))], r / 0.3)[rosette]
    corner = np.minimum(np.abs(np.abs(u) - 1), np.abs(np.abs(v) - 1))
    corner_mark = (np.abs(u) > 0.78) & (np.abs(v) > 0.78) & (np.hypot(np.abs(u) - 1, np.abs(v) - 1) < 0.2)
    col[corner_mark] = (180, 60, 50)
    grout = corner < 0.035
    col[grout] = (90, 86, 80)
    # a little glaze sheen from the upper left
    sheen = np.clip(1.08 - 0.12 * (u + v), 0.85, 1.15)
    return np.clip(col * sheen[..., None], 1, 255)


def grlsch(n=256):
    """A glowing star-flower: opaque core, petals fading out, a soft halo."""
    x, y = grid(n)
    u, v = (x + 0.5) / n * 2 - 1, (y + 0.5) / n * 2 - 1
    r = np.hypot(u, v)
    a = np.arctan2(v, u)
    petal = 0.55 + 0.30 * np.cos(6 * a) ** 2
    inside = np.clip((petal - r) / 0.08, 0, 1)
    t = np.clip(r / petal, 0, 1)
    col = lerp_colors([(0, (255, 255, 230)), (0.25, (255, 220, 90)), (0.6, (250, 90, 170)),
                       (1, (120, 60, 230))], t)
    halo = np.clip(1 - r, 0, 1) ** 2 * 0.85
    alpha = np.maximum(inside, halo)
    halo_col = np.array([150, 110, 255], float)
    col = col * inside[..., None] + halo_col * (1 - inside[..., None])
    # petal veins
    vein = (np.abs(np.sin(6 * a / 2)) < 0.05) & (r < petal) & (r > 0.12)
    col[vein] = col[vein] * 0.75
    rgba = np.zeros((n, n, 4), np.uint8)
    rgba[..., :3] = np.clip(np.round(col), 0, 255)
    rgba[..., 3] = np.clip(np.round(alpha * 255), 0, 255)
    return rgba


def nightbacon(n=320):
    """A night skyline: crescent moon and stars; the sky itself is see-through."""
    rng = np.random.default_rng(4)
    x, y = grid(n)
    rgb = np.zeros((n, n, 3))
    clear = np.ones((n, n), bool)
    # stars
    for _ in range(70):
        sx, sy = rng.integers(0, n), rng.integers(0, int(n * 0.6))
        b = rng.integers(150, 256)
        if rng.random() < 0.75:
            star = (np.abs(x - sx) < 1.5) & (np.abs(y - sy) < 1.5)
        else:   # a bigger twinkle: a small cross
            star = ((np.abs(x - sx) < 1.5) & (np.abs(y - sy) < 4.5)) | ((np.abs(x - sx) < 4.5) & (np.abs(y - sy) < 1.5))
        rgb[star] = (b, b, min(255, b + 30))
        clear &= ~star
    # crescent moon
    mx, my, mr = n * 0.72, n * 0.22, n * 0.11
    moon = (np.hypot(x - mx, y - my) < mr) & (np.hypot(x - mx - mr * 0.45, y - my + mr * 0.2) > mr * 0.85)
    rgb[moon] = lerp_colors([(0, (255, 250, 200)), (1, (240, 200, 120))], (y - my + mr) / (2 * mr))[moon]
    clear &= ~moon
    # buildings
    xpos = 0
    while xpos < n:
        w = int(rng.integers(n // 12, n // 6))
        h = int(rng.integers(n // 5, int(n * 0.55)))
        top = n - h
        shade = rng.uniform(0.8, 1.2)
        body = (x >= xpos) & (x < xpos + w) & (y >= top)
        rgb[body] = np.array([28, 26, 64]) * shade
        clear &= ~body
        # lit windows on a grid
        for wy in range(top + 6, n - 4, 10):
            for wx in range(xpos + 4, xpos + w - 5, 8):
                if rng.random() < 0.45:
                    warm = rng.random() < 0.7
                    rgb[wy:wy + 5, wx:wx + 4] = (255, 205, 90) if warm else (150, 220, 255)
        # a rooftop light
        if rng.random() < 0.4:
            rgb[top - 4:top, xpos + w // 2 - 1:xpos + w // 2 + 1] = (240, 40, 60)
            clear[top - 4:top, xpos + w // 2 - 1:xpos + w // 2 + 1] = False
        xpos += w + int(rng.integers(0, 6))
    rgb[clear] = 0
    return rgb, clear


def upscale(rgb, clear, k):
    return np.kron(rgb, np.ones((k, k, 1))), np.kron(clear, np.ones((k, k), bool))


def bee(g=32, k=8):
    """A bee drawn on a 32 x 32 grid, every cell k x k pixels."""
    x, y = grid(g)
    x, y = x + 0.5, y + 0.5
    rgb = np.zeros((g, g, 3))
    clear = np.ones((g, g), bool)

    def put(mask, color):
        rgb[mask] = color
        clear[mask] = False

    # wings behind the body, pale blue with a darker edge
    for wx, wy, rx, ry in ((13, 12.5, 5, 5), (19.5, 12, 4.5, 4.5)):
        e = ((x - wx) / rx) ** 2 + ((y - wy) / ry) ** 2
        put(e < 1.0, (110, 150, 230))
        put(e < 0.7, (205, 235, 255))
    # body: an ellipse with stripes, outlined dark violet
    e = ((x - 16.5) / 10) ** 2 + ((y - 19) / 6.5) ** 2
    put(e < 1.0, (48, 30, 70))
    body = e < 0.8
    stripe = ((x.astype(int) - 9) // 3) % 2 == 1
    put(body, (255, 205, 40))
    put(body & stripe & (x > 10), (48, 30, 70))
    put(body & ((y - 19) < -3.5) & ~stripe, (255, 240, 140))   # highlight
    # head, eye, smile, antennae
    h = np.hypot(x - 6.5, y - 17.5)
    put(h < 4.6, (48, 30, 70))
    put(h < 3.8, (255, 215, 70))
    put((np.abs(x - 5.5) < 0.9) & (np.abs(y - 16.5) < 0.9), (30, 20, 60))
    put((np.abs(x - 5) < 0.6) & (np.abs(y - 16) < 0.6), (255, 255, 255))
    put((np.abs(y - 19.5 - 0.15 * (x - 6) ** 2) < 0.5) & (np.abs(x - 6) < 1.6), (120, 40, 60))
    for ax in (4, 7):
        put((np.abs(x - (ax - (14 - y) * 0.35)) < 0.6) & (y > 9) & (y < 14), (48, 30, 70))
        put(np.hypot(x - (ax - 1.75), y - 9) < 1.1, (48, 30, 70))
    # stinger and legs
    put((x > 26) & (x < 29.5) & (np.abs(y - 19) < (29.5 - x) * 0.35 + 0.2), (48, 30, 70))
    for lx in (12, 16, 20):
        put((np.abs(x - lx - (y - 25) * 0.5) < 0.6) & (y > 24.5) & (y < 28), (48, 30, 70))
    # "BZZ" above, in the 5 x 7 capitals at one cell per font pixel
    m = text_mask("BZZ", 1)
    z = np.zeros((g, g), bool)
    paste_mask(z, m, 14, 0)
    put(z, (255, 255, 255))
    return upscale(rgb, clear, k)


def poubell(g=32, k=8):
    """A ribbed metal dustbin with its lid, three flies circling above."""
    x, y = grid(g)
    x, y = x + 0.5, y + 0.5
    rgb = np.zeros((g, g, 3))
    clear = np.ones((g, g), bool)

    def put(mask, color):
        rgb[mask] = color
        clear[mask] = False

    # body: a trapezoid narrowing towards the bottom
    top, bottom = 11, 30
    half = 10.5 - (y - top) / (bottom - top) * 2.5
    body = (y >= top) & (y < bottom) & (np.abs(x - 16) < half)
    put(body & (np.abs(x - 16) >= half - 1), (25, 60, 50))
    inner = body & (np.abs(x - 16) < half - 1)
    shade = lerp_colors([(0, (150, 220, 170)), (0.35, (70, 170, 120)), (1, (30, 90, 70))],
                        (x - 16 + half) / (2 * half))
    put(inner, 0)
    rgb[inner] = shade[inner]
    ribs = inner & (np.abs(((x - 16) / half * 3.5) % 1.0 - 0.5) < 0.12) & (y > top + 2) & (y < bottom - 2)
    put(ribs, (35, 100, 80))
    put((y >= bottom - 1) & (y < bottom) & (np.abs(x - 16) < half), (25, 60, 50))
    # lid with a handle
    lid = (y >= 8) & (y < 11) & (np.abs(x - 16) < 12)
    put(lid, (25, 60, 50))
    put(lid & (y >= 8.5) & (y < 10.5) & (np.abs(x - 16) < 11), (120, 200, 150))
    handle = (y >= 5) & (y < 8) & (np.abs(x - 16) < 3.5) & ~((y >= 6) & (np.abs(x - 16) < 2.5))
    put(handle, (25, 60, 50))
    # three flies with wings
    for fx, fy in ((6, 4), (24, 3), (27, 8)):
        put((np.abs(x - fx) < 0.6) & (np.abs(y - fy) < 0.6), (40, 30, 60))
        put((np.abs(x - fx + 0.9) < 0.6) & (np.abs(y - fy + 1) < 0.6), (200, 230, 255))
        put((np.abs(x - fx - 0.9) < 0.6) & (np.abs(y - fy + 1) < 0.6), (200, 230, 255))
    # a wavy stink line
    wav = (np.abs(x - 16 - 1.5 * np.sin(y * 1.3)) < 0.55) & (y < 4.5) & (y > 0.5)
    put(wav, (170, 220, 120))
    return upscale(rgb, clear, k)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(here)
    rgb, clear = vorn()
    save_keyed_gif(os.path.join(out, "vorn.gif"), rgb, clear, dither=True)
    save_jpeg(os.path.join(out, "dravel.jpg"), dravel())
    save_jpeg(os.path.join(out, "tile.jpg"), tile())
    write_png_rgba_adam7(os.path.join(out, "grlsch.png"), grlsch())
    rgb, clear = nightbacon()
    save_keyed_gif(os.path.join(out, "nightbacon.gif"), rgb, clear)
    rgb, clear = bee()
    save_keyed_gif(os.path.join(out, "atari_st_bee.gif"), rgb, clear)
    rgb, clear = poubell()
    save_keyed_gif(os.path.join(out, "poubell.gif"), rgb, clear)
    for name in ("vorn.gif", "dravel.jpg", "tile.jpg", "grlsch.png", "nightbacon.gif",
                 "atari_st_bee.gif", "poubell.gif"):
        p = os.path.join(out, name)
        im = Image.open(p)
        print("%-18s %4d x %-4d %-5s %6d bytes" % (name, im.size[0], im.size[1], im.mode, os.path.getsize(p)))


if __name__ == "__main__":
    main()
