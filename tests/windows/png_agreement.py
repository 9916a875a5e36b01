#!/usr/bin/env python3
"""Whether two PNG stills agree: the same size, and at least PERCENT of the
pixels within TOLERANCE (of 255) in every channel.
  png_agreement.py A.png B.png [PERCENT [TOLERANCE]]
Prints the share that agrees; exit status 1 when it is too small or the files
are not comparable. Reads 8-bit RGB and RGBA PNGs, as both platforms' stills
are (the standard library has no image reader)."""
import struct
import sys
import zlib


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path} is not a PNG file")
    pos, idat, header = 8, [], None
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    channels = {2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace:
        raise ValueError(f"{path}: only 8-bit RGB or RGBA without interlacing is read here")
    raw = zlib.decompress(b"".join(idat))
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, row = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for x in range(stride):
            left = row[x - channels] if x >= channels else 0
            up = previous[x]
            up_left = previous[x - channels] if x >= channels else 0
            if kind == 1:
                row[x] = (row[x] + left) & 255
            elif kind == 2:
                row[x] = (row[x] + up) & 255
            elif kind == 3:
                row[x] = (row[x] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - up_left
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - up_left)
                row[x] = (row[x] + (left if pa <= pb and pa <= pc else up if pb <= pc else up_left)) & 255
        rows.append(bytes(row))
        previous = row
    if channels == 3:  # opaque: compare as RGBA
        rows = [b"".join(r[i:i + 3] + b"\xff" for i in range(0, len(r), 3)) for r in rows]
    return width, height, b"".join(rows)


def main():
    if len(sys.argv) < 3 or sys.argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if len(sys.argv) > 1 else 2
    percent = float(sys.argv[3]) if len(sys.argv) > 3 else 99.0
    tolerance = int(sys.argv[4]) if len(sys.argv) > 4 else 8
    try:
        a, b = read_png(sys.argv[1]), read_png(sys.argv[2])
    except (OSError, ValueError, zlib.error) as error:
        print(f"png_agreement: {error}", file=sys.stderr)
        return 1
    if a[:2] != b[:2]:
        print(f"png_agreement: sizes differ: {a[0]}x{a[1]} and {b[0]}x{b[1]}", file=sys.stderr)
        return 1
    pixels, agree = a[0] * a[1], 0
    pa, pb = a[2], b[2]
    for i in range(0, pixels * 4, 4):
        if all(abs(pa[i + k] - pb[i + k]) <= tolerance for k in range(4)):
            agree += 1
    share = 100.0 * agree / pixels
    print(f"{share:.2f} % of {pixels} pixels agree within {tolerance}/255")
    return 0 if share >= percent else 1


if __name__ == "__main__":
    sys.exit(main())
