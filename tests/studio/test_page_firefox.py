#!/usr/bin/env python3
"""The studio page in headless Firefox, driven over WebDriver BiDi (tests/studio/bidi.py).

A lean smoke test of what could break in another engine than Chromium's: the page's
modules load, EventSource brings the show and later changes, the canvases draw and
follow a resize (ResizeObserver), real keyboard and pointer input edits and scrubs, and a
mark's rename under way outlives another client's change.
It works against tests/studio/fake_studio_server.py on a temporary copy of
res/src/show.tracks, and fails on any error the browser logs (an uncaught exception, a
console.error). Needs no display. Exit 77 (skipped) without firefox-esr or
python3-websocket.

  test_page_firefox.py            the test
  test_page_firefox.py --help     this text
"""
import json
import os
import re
import shutil
import signal
import sys
import tempfile
import time

from studio_client import DEADLINE, StudioClient, debian_python_or_skip, start_fake, stop_fake

FIREFOX = "/usr/bin/firefox-esr"
HERE = os.path.dirname(os.path.abspath(__file__))

if "-h" in sys.argv[1:] or "--help" in sys.argv[1:]:
    print(__doc__.strip())
    sys.exit(0)

if not os.path.exists(FIREFOX):
    print(f"test_page_firefox: skipped: {FIREFOX} is missing (firefox-esr, scripts/install-deps.sh)")
    sys.exit(77)

try:
    import bidi
except ImportError:
    debian_python_or_skip("test_page_firefox", "python3-websocket")


class Fake(StudioClient):
    """The fake demo, on a file of its own, and its API as a second client."""

    def __init__(self, path):
        self.process, url = start_fake("--file", path, preexec_fn=bidi.die_with_parent)
        super().__init__(url)

    def stop(self):
        stop_fake(self.process)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def key_lines(path, track):
    """{row: value} of a track as the file on disk has it."""
    keys, inside = {}, False
    for line in read(path).decode().splitlines():
        words = line.split("#", 1)[0].split()
        if words[:1] == ["track"]:
            inside = words[1:2] == [track]
        elif inside and len(words) >= 2 and words[0].isdigit():
            keys[int(words[0])] = float(words[1])
    return keys


def wait_for(what, test, seconds=DEADLINE):
    end = time.monotonic() + seconds
    while not (got := test()):
        if time.monotonic() > end:
            raise AssertionError(f"after {seconds:.0f} s still not: {what}")
        time.sleep(0.05)
    return got


def cell(fx, track, row):
    """The viewport centre of a grid cell, scrolled into sight first."""
    fx.value(f"studio.grid.setCursor({track}, {row})")
    return fx.centre(f"document.querySelector('.grid-row[data-row=\"{row}\"] > .c:nth-child({track + 2})')")[:2]


def cell_text(track, row):
    return f"(document.querySelector('.grid-row[data-row=\"{row}\"] > .c:nth-child({track + 2})')?.textContent ?? '')"


# How many colours the music lane's canvas holds: a blank or merely filled lane has a
# few, one with its peaks and beat lines drawn many more.
DRAWN = """(() => { const c = document.querySelector('#wave canvas');
  const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
  const seen = new Set(); for (let i = 0; i < d.length; i += 16) seen.add(d[i] << 16 | d[i + 1] << 8 | d[i + 2]);
  return seen.size; })()"""


# The first curve lane's key nearest the lane's middle, away from its neighbours: the
# track, the row, and the key's place in the viewport.
CURVE_KEY = """(() => { const lane = studio.curves.lanes[0], s = lane.scale;
  const keys = studio.curves.keysInView(lane), r = lane.canvas.getBoundingClientRect();
  const x = (k) => studio.view.x(k.row, s.width);
  const free = keys.filter((k, i) => (i === 0 || x(k) - x(keys[i - 1]) > 20) && (i === keys.length - 1 || x(keys[i + 1]) - x(k) > 60));
  const k = free[Math.floor(free.length / 2)];
  return [lane.name, k.row, r.left + x(k), r.top + s.height - 3 - ((k.value - s.lo) / (s.hi - s.lo)) * (s.height - 6)]; })()"""

# Modifiers held and how the status line then begins.
HINTS = [(["Shift"], "Shift:"), (["Control"], "Ctrl:"), (["Alt"], "Alt:"), (["Control", "Shift"], "Ctrl+Shift:"),
         (["Alt", "Shift"], "Alt+Shift:")]


def mark_name(name):
    """A page expression: the side panel's name of a mark, scrolled into sight."""
    return (f"(() => {{ const e = [...document.querySelectorAll('#marks li .what')].find((e) => e.textContent === "
            f"{json.dumps(name)}); e?.scrollIntoView({{block: 'nearest'}}); return e; }})()")


RENAMING = """(() => { const f = document.querySelector('#marks input.rename');
  return f && [f.value, f.selectionStart, f.selectionEnd, document.activeElement === f]; })()"""


def check_rename_across_redraw(fx, fake):
    """Another client's change redraws the marks while a name is typed: the field lives on with
    its text, caret and focus, and goes only when that mark itself is removed. Firefox does
    not blur a field as it leaves the page, unlike Chromium: the two reach a redraw differently."""
    row = 1510
    for what, ops, kept in [
        ("a key set elsewhere", [{"track": "back.y", "row": 7, "value": 0.125}], True),
        ("the mark removed", [{"mark": {"row": row, "name": "rename me", "delete": True}}], False),
    ]:
        version = fake.call("/api/edit", {"version": fake.call("/api/show")["version"],
                                          "ops": [{"mark": {"row": row, "name": "rename me"}}]})["version"]
        fx.wait("the mark listed", f"studio.model.version === {version} && !!({mark_name('rename me')})")
        x, y, _, _ = fx.centre(mark_name("rename me"))
        fx.double_click(x, y)
        fx.keys("End", "Backspace", "Backspace", "you", "ArrowLeft")
        fx.wait(f"{what}: the name typed", f"JSON.stringify({RENAMING}) === '[\"rename you\",9,9,true]'")
        version = fake.call("/api/edit", {"version": version, "ops": ops})["version"]
        fx.wait(f"{what}: the page at version {version}", f"studio.model.version === {version}")
        field = fx.value(RENAMING)
        if kept:
            assert field == ["rename you", 9, 9, True], f"{what}: the rename under way became {field}"
            fx.keys("r", "Enter")
            wait_for(f"{what}: the rename typed on in the show", lambda: {"row": row, "name": "rename yoru"}
                     in fake.call("/api/show")["marks"])
        else:
            assert field is None, f"{what}: a rename of a mark no longer there is still open: {field}"
        fake.call("/api/edit", {"version": fake.call("/api/show")["version"],
                                "ops": [{"mark": {"row": row, "name": "rename yoru", "delete": True}}]})


def check(fx, fake, path):
    show = fake.call("/api/show")
    names = [t["name"] for t in show["tracks"]]
    track = names.index("back.y")
    taken = {k["row"] for k in show["tracks"][track]["keys"]}
    row = next(r for r in range(3, 40) if r not in taken)

    # The file in the fake's own layout, so that an undo can give it back byte for byte.
    fake.call("/api/edit", {"version": show["version"], "ops": [{"track": "back.y", "row": row, "value": 1}]})
    fake.call("/api/undo", {})
    before = read(path)

    fx.navigate(fake.url)
    # Modules and EventSource: the show arrives and fills the grid with the show's tracks.
    fx.wait("the grid shows keys", "document.querySelectorAll('.grid-row .c.key').length")
    heads = fx.value("[...document.querySelectorAll('.grid-th')].map((h) => h.textContent)")
    assert heads == names, f"the grid's tracks are {heads}, the show's {names}"
    fx.wait("the music lane drawn", f"{DRAWN} > 3")

    # A number typed on a cell sets a key, and the key reaches the file; Ctrl+Z gives the file back.
    fx.drag([cell(fx, track, row)])
    fx.keys("0.25", "Enter")
    wait_for(f"back.y {row} 0.25 in the file", lambda: key_lines(path, "back.y").get(row) == 0.25)
    fx.wait("the typed key in the grid", f"{cell_text(track, row)}.startsWith('0.25')")
    fx.keys("Control+z")
    wait_for("the file as it was, byte for byte", lambda: read(path) == before)
    fx.wait("the key gone from the grid", f"{cell_text(track, row)} === ''")

    # A drag on the music lane seeks: the demo is where the drag let go.
    x, y, width, _ = fx.centre("document.querySelector('#wave canvas')")
    fx.drag([(x - width / 4, y), (x - width / 8, y), (x, y)])
    start, end = fx.value("[studio.view.from, studio.view.to]")
    middle = (start + end) / 2
    wait_for(f"a seek near row {middle:.0f}",
             lambda: abs(fake.call("/api/state")["row"] - middle) < (end - start) / 50)

    # A curve key dragged to the right moves in the file: the lane finds the key under the
    # pointer from the event's offset in the canvas, which engines have computed differently.
    lane, row, x, y = fx.value(CURVE_KEY)
    old = key_lines(path, lane)
    fx.drag([(x, y), (x + 20, y), (x + 40, y)])
    wait_for(f"{lane} {row} moved right in the file",
             lambda: row not in key_lines(path, lane) and any(r > row for r in set(key_lines(path, lane)) - set(old)))

    # The status line follows the modifiers held, from the keys' own events.
    hints = fx.value("document.getElementById('hints').textContent")
    for held, says in HINTS:
        fx.hold(*held)
        fx.wait(f"the hints for {'+'.join(held)} held", f"document.getElementById('hints').textContent.startsWith({json.dumps(says)})")
        fx.release()
        fx.wait(f"the hints back after {'+'.join(held)}", f"document.getElementById('hints').textContent === {json.dumps(hints)}")

    # A save from outside reaches the page as a show event, and is named.
    text = read(path).decode()
    lines = text.split("\n")
    first = next(i for i, line in enumerate(lines) if line.split()[:2] == ["track", "back.y"]) + 1
    saved_row = int(lines[first].split()[0])
    lines[first] = re.sub(r"^(\s*\d+\s+)\S+", r"\g<1>2.75", lines[first])
    with open(path + ".saving", "w", encoding="utf-8", newline="") as f:
        f.write("\n".join(lines))
    os.replace(path + ".saving", path)
    fx.wait("the saved key in the grid", f"(studio.grid.setCursor({track}, {saved_row}), "
                                         f"{cell_text(track, saved_row)}.startsWith('2.75'))")
    fx.wait("the save named", "document.getElementById('message').textContent.includes('from outside')")

    check_rename_across_redraw(fx, fake)

    # ResizeObserver: a narrower window redraws the lane at its new width.
    wide = fx.value("document.querySelector('#wave canvas').width")
    fx.call("browsingContext.setViewport", {"context": fx.context, "viewport": {"width": 1000, "height": 700}})
    fx.wait("the music lane redrawn narrower", f"document.querySelector('#wave canvas').width < {wide}")
    fx.wait("the music lane drawn again", f"{DRAWN} > 3")


def main():
    # A polite kill (ctest's, Ctrl+C) still runs the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("test_page_firefox: stopped by SIGTERM"))
    scratch = tempfile.mkdtemp(prefix="studio-page-firefox-")
    fake = None
    try:
        path = os.path.join(scratch, "show.tracks")
        shutil.copyfile(os.path.join(HERE, "..", "..", "res", "src", "show.tracks"), path)
        fake = Fake(path)
        started = time.monotonic()
        with bidi.Firefox(FIREFOX) as fx:
            try:
                check(fx, fake, path)
            except BaseException:
                if fx.errors():
                    print(f"test_page_firefox: the browser logged errors: {fx.errors()}", file=sys.stderr)
                raise
            errors = fx.errors()
            assert not errors, f"the browser logged errors: {errors}"
        print(f"test_page_firefox: the page passed in Firefox in {time.monotonic() - started:.1f} s")
    finally:
        if fake:
            fake.stop()
        shutil.rmtree(scratch, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
