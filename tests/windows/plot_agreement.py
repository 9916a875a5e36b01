#!/usr/bin/env python3
"""demotool.exe track plot under Wine against the Linux demotool on the same show.

  plot_agreement.py LINUX_DEMOTOOL WINDOWS_DEMOTOOL WINE_RUN PREFIX [--keep DIR]

Both draw the bundled show (its folder, and its track text with tempo and mark
lines added, over part of the show) as SVG and as PNG. They must agree:
  - exit status and stdout alike;
  - SVG: the same size, and every element but the curves the same, text and
    positions exactly (ticks, labels, names, key marks, beats, marks); curve
    points within a hundredth of a pixel;
  - PNG: the same size, and the curves within a pixel: in each lane and each
    column, the middle of the curve-coloured pixels lies at most 1 row apart
    between the two (cairo anti-aliases, GDI+ under Wine does not, so the
    edges differ; columns near a key mark or a line drawn over the curve are
    left out, as those are drawn a little differently).
The PNGs are decoded with the Linux demotool's own decoder (demotool png).
Exit status 0 when everything agrees, 1 with what differs on stderr, 77
(skipped) without a Linux demotool to compare with. --keep DIR leaves the
pictures there, to look at.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SVG = "{http://www.w3.org/2000/svg}"
KEY_MARGIN = 6  # pixels either side of a key mark where the curve is not compared


def run(command, cwd):
    done = subprocess.run(command, cwd=cwd, capture_output=True, timeout=240)
    return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")


def svg_elements(path):
    root = ET.parse(path).getroot()
    items = [(el.tag.replace(SVG, ""), dict(el.attrib), el.text or "") for el in root]
    return root.attrib.get("width"), root.attrib.get("height"), items


def points(text):
    return [tuple(float(v) for v in p.split(",")) for p in text.split()]


def compare_svg(linux, windows):
    problems = []
    lw, lh, litems = svg_elements(linux)
    ww, wh, witems = svg_elements(windows)
    if (lw, lh) != (ww, wh):
        return [f"SVG size {lw}x{lh} on Linux, {ww}x{wh} on Windows"]
    if len(litems) != len(witems):
        return [f"SVG has {len(litems)} elements on Linux, {len(witems)} on Windows"]
    worst = 0.0
    for (ltag, lattr, ltext), (wtag, wattr, wtext) in zip(litems, witems):
        if lattr.get("class") == "curve" and wattr.get("class") == "curve":
            lp, wp = points(lattr.pop("points")), points(wattr.pop("points"))
            if len(lp) != len(wp):
                problems.append(f"a curve has {len(lp)} points on Linux, {len(wp)} on Windows")
                continue
            worst = max([worst] + [max(abs(a[0] - b[0]), abs(a[1] - b[1])) for a, b in zip(lp, wp)])
        if (ltag, lattr, ltext) != (wtag, wattr, wtext):
            problems.append(f"<{ltag} {lattr}>{ltext} on Linux, <{wtag} {wattr}>{wtext} on Windows")
    if worst > 0.01:
        problems.append(f"curve points differ by up to {worst:.3f} px")
    return problems[:10]


def decode_png(linux_tool, path, work):
    with open(path, "rb") as f:
        head = f.read(24)
    width, height = struct.unpack(">II", head[16:24])
    raw = os.path.join(work, "decoded.rgba")
    status, _, err = run([linux_tool, "png", path, "-o", raw], work)
    if status != 0:
        raise RuntimeError(f"cannot decode {path}: {err}")
    with open(raw, "rb") as f:
        return width, height, f.read()


def is_curve(pixels, i):
    r, g, b = pixels[i], pixels[i + 1], pixels[i + 2]
    # The curve's blue at half coverage or more; the teal of marks, the
    # grey-blue of the grid and the keys' colours all fall outside.
    return b >= r + 80 and b >= g + 50


def lanes_and_keys(svg_path):
    """Each lane's top and bottom, and the x of what is drawn over its curve
    (key marks, the end line, mark lines, the control lane's label lines),
    from the SVG."""
    _, _, items = svg_elements(svg_path)
    across = [points(attr["points"])[0][0] for tag, attr, _ in items if attr.get("class") in ("end", "mark", "code-label")
              and tag == "polyline"]
    lanes = []
    for tag, attr, _ in items:
        if attr.get("class") == "frame":
            ys = [p[1] for p in points(attr["points"])]
            lanes.append([min(ys), max(ys), list(across)])
    for tag, attr, _ in items:
        if attr.get("class") != "key":
            continue
        if tag == "circle":
            x, y = float(attr["cx"]), float(attr["cy"])
        else:
            ps = points(attr["points"])
            x, y = sum(p[0] for p in ps) / len(ps), sum(p[1] for p in ps) / len(ps)
        for lane in lanes:
            if lane[0] <= y <= lane[1]:
                lane[2].append(x)
    return lanes


def compare_png(linux_tool, linux, windows, svg_path, work):
    lw, lh, lp = decode_png(linux_tool, linux, work)
    ww, wh, wp = decode_png(linux_tool, windows, work)
    if (lw, lh) != (ww, wh):
        return [f"PNG size {lw}x{lh} on Linux, {ww}x{wh} on Windows"], 0
    problems, compared = [], 0
    for top, bottom, keys in lanes_and_keys(svg_path):
        top, bottom = int(top) + 2, int(bottom) - 1  # inside the frame
        for x in range(lw):
            if any(abs(x - k) <= KEY_MARGIN for k in keys):
                continue
            lrows = [y for y in range(top, bottom) if is_curve(lp, (y * lw + x) * 4)]
            wrows = [y for y in range(top, bottom) if is_curve(wp, (y * lw + x) * 4)]
            if not lrows and not wrows:
                continue
            compared += 1
            # The middle of the column's curve pixels: a 1.5 px line drawn
            # without anti-aliasing covers more rows where it is steep, but
            # lies in the same place.
            if not lrows or not wrows or abs((lrows[0] + lrows[-1]) - (wrows[0] + wrows[-1])) > 2:
                problems.append(f"column {x}, lane at {top}: curve rows {lrows[:1]}..{lrows[-1:]} on Linux, "
                                f"{wrows[:1]}..{wrows[-1:]} on Windows")
    return problems, compared


def main():
    args = sys.argv[1:]
    keep = None
    if "--keep" in args:
        keep = args[args.index("--keep") + 1]
        del args[args.index("--keep"):args.index("--keep") + 2]
    if len(args) != 4 or args[0] in ("-h", "--help"):
        print(__doc__.strip(), file=sys.stderr if len(args) != 4 else sys.stdout)
        return 0 if args[:1] in (["-h"], ["--help"]) else 2
    linux, windows, wine_run, prefix = (os.path.abspath(a) for a in args)
    if not os.access(linux, os.X_OK):
        print(f"plot_agreement: no Linux demotool at {linux}; build it first", file=sys.stderr)
        return 77
    source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    work = tempfile.mkdtemp(prefix="plot-agreement.")
    try:
        shutil.copy(windows, os.path.join(work, "demotool.exe"))
        shutil.copytree(os.path.join(source, "res"), os.path.join(work, "res"),
                        ignore=shutil.ignore_patterns("*.mp3", "*.gif", "*.jpg", "*.png", "windows"))
        with open(os.path.join(source, "res", "src", "show.tracks"), encoding="utf-8") as f:
            text = f.read()
        with open(os.path.join(work, "notes.tracks"), "w", encoding="utf-8") as f:
            f.write(text + "\ntempo 132\ntempo 90 at 0:40\nmark 0:16 verse\nmark 1:00 drop & <fade>\n")
        cases = [
            ("res", ["res"]),
            ("notes", ["notes.tracks", "--to", "1:20"]),
            ("verse", ["notes.tracks", "--from", "0:16", "--to", "0:32", "--tracks", "control,back.n,back.x"]),
        ]
        failures = []
        compared_columns = 0
        for name, plot_args in cases:
            for ext in ("svg", "png"):
                outputs = {}
                results = {}
                for system in ("linux", "windows"):
                    out = f"{name}.{system}.{ext}"
                    if system == "linux":
                        command = [linux, "track", "plot"] + plot_args + ["-o", out]
                    else:
                        command = ["bash", wine_run, prefix, "demotool.exe", "track", "plot"] + plot_args + ["-o", out]
                    status, stdout, stderr = run(command, work)
                    if system == "windows" and status == 0 and not stdout:
                        # Wine has been seen, once in many runs, to lose a
                        # program's whole stdout; a second run tells that
                        # from a fault of demotool.exe.
                        print(f"plot_agreement: {name}.{ext}: no stdout under Wine; once more", file=sys.stderr)
                        status, stdout, stderr = run(command, work)
                    results[system] = (status, stdout.replace(out, "OUT"))
                    outputs[system] = os.path.join(work, out)
                    if status != 0:
                        failures.append(f"{name}.{ext}: {system} exit status {status}: {stderr.strip()}")
                if results["linux"] != results["windows"]:
                    failures.append(f"{name}.{ext}: Linux {results['linux']}, Windows {results['windows']}")
                if not all(os.path.exists(p) for p in outputs.values()):
                    continue
                if ext == "svg":
                    failures += [f"{name}.svg: {p}" for p in compare_svg(outputs["linux"], outputs["windows"])]
                else:
                    problems, compared = compare_png(linux, outputs["linux"], outputs["windows"],
                                                     os.path.join(work, f"{name}.linux.svg"), work)
                    compared_columns += compared
                    if compared < 300:
                        problems.append(f"only {compared} columns of curve found to compare")
                    failures += [f"{name}.png: {p}" for p in problems[:10]]
        # A format neither draws is refused alike, and leaves nothing behind.
        for system, command in (("linux", [linux]), ("windows", ["bash", wine_run, prefix, "demotool.exe"])):
            status, _, stderr = run(command + ["track", "plot", "res", "-o", f"refused.{system}.jpg"], work)
            if status != 2 or ".png or .svg" not in stderr or os.path.exists(os.path.join(work, f"refused.{system}.jpg")):
                failures.append(f"{system}: .jpg gave exit status {status}: {stderr.strip()}")
        if keep:
            os.makedirs(keep, exist_ok=True)
            for f in os.listdir(work):
                if f.endswith((".svg", ".png")):
                    shutil.copy(os.path.join(work, f), keep)
        for f in failures[:30]:
            print("DIFFERS:", f, file=sys.stderr)
        print(f"plot_agreement: {len(cases)} plots as SVG and PNG, {compared_columns} curve columns compared, "
              f"{len(failures)} differences")
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
