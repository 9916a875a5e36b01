#!/usr/bin/env python3
"""The studio's timings against a running `demo --edit`, from its frame log.

The demo, started with DEMO_STUDIO_FRAME_LOG=1, writes a line on stderr for each
frame it presents: "demo: studio: frame v=VERSION row=ROW t=SECONDS", t by the
steady clock, which is time.monotonic()'s on Linux. This reads that log while it
drives the studio's API, and prints:

  - an edit's response to the first presented frame that shows it (its version),
    median and 95th percentile, beside the median frame time of the same run;
  - a seek while paused to the first frame at that row;
  - `state` events a second while playing, and how far they trail the picture;
  - how far the page's playhead (headless Chromium) trails the demo's picture.

  studio_latency.py --url URL --log DEMO_STDERR [--edits N] [--seeks N] [--seconds S]

bench/studio_latency.sh starts the demo under Xvfb and runs this.
"""
import argparse
import json
import os
import random
import re
import socket
import statistics
import sys
import threading
import time
from urllib.parse import urlsplit

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "studio"))
from studio_client import StudioClient  # noqa: E402 (found through the path above)

FRAME = re.compile(r"^demo: studio: frame v=(\d+) row=([-0-9.]+) t=([0-9.]+)$")
ROWS_PER_SECOND = 20


class FrameLog:
    """The demo's frame lines as they are written: (t, version, row), in order."""

    def __init__(self, path):
        self.path = path
        self.frames = []
        self.offset = 0
        self.partial = ""

    def poll(self):
        with open(self.path, encoding="utf-8", errors="replace") as f:
            f.seek(self.offset)
            data = f.read()
            self.offset = f.tell()
        lines = (self.partial + data).split("\n")
        self.partial = lines.pop()
        for line in lines:
            m = FRAME.match(line)
            if m:
                self.frames.append((float(m.group(3)), int(m.group(1)), float(m.group(2))))

    def first(self, test, after, seconds=3.0):
        """The first frame after time `after` that passes test; None when none comes in time."""
        end = time.monotonic() + seconds
        start = 0
        while True:
            self.poll()
            for i in range(start, len(self.frames)):
                frame = self.frames[i]
                if frame[0] > after and test(frame):
                    return frame
            start = max(0, len(self.frames) - 1)
            if time.monotonic() > end:
                return None
            time.sleep(0.002)

    def row_at(self, t):
        """The row the picture showed at time t: the last frame before it."""
        best = None
        for frame in reversed(self.frames):
            if frame[0] <= t:
                best = frame
                break
        return best


def spread(values):
    values = sorted(values)
    return statistics.median(values), values[min(len(values) - 1, int(len(values) * 0.95))]


def frame_time(frames, since, until):
    times = [t for t, _, _ in frames if since <= t <= until]
    gaps = [b - a for a, b in zip(times, times[1:])]
    return statistics.median(gaps) * 1000 if gaps else float("nan")


def time_to_frames(log, count, send, shown):
    """count requests, each send(i) -> what it asked for, and for each the first presented
    frame that shown(frame, asked) accepts: the ms from the response and from the request
    to that frame, the median frame time meanwhile, and how many never showed."""
    from_response, from_request, missed = [], [], 0
    started = time.monotonic()
    for i in range(count):
        sent = time.monotonic()
        asked = send(i)
        answered = time.monotonic()
        frame = log.first(lambda f: shown(f, asked), sent)
        if frame is None:
            missed += 1
            continue
        from_response.append((frame[0] - answered) * 1000)
        from_request.append((frame[0] - sent) * 1000)
        # Requests at no fixed phase of the frame loop.
        time.sleep(random.uniform(0.02, 0.06))
    return from_response, from_request, frame_time(log.frames, started, time.monotonic()), missed


def measure_edits(api, log, count):
    """Edits of one key while playing, each waited for on screen by the version it made."""
    api.call("/api/transport", {"seek": 0, "play": True})
    version = api.call("/api/show")["version"]

    def edit(i):
        nonlocal version
        version = api.call("/api/edit", {"version": version, "ops": [
            {"track": "back.y", "row": 7, "value": 0.25 + (i % 2) * 0.5}]})["version"]
        return version

    figures = time_to_frames(log, count, edit, lambda frame, made: frame[1] >= made)
    api.call("/api/transport", {"pause": True})
    return figures


def measure_seeks(api, log, count):
    """Seeks while paused, each waited for on screen by its row."""
    api.call("/api/transport", {"pause": True, "scrubAudio": False})
    time.sleep(0.2)

    def seek(i):
        api.call("/api/transport", {"seek": 100 + 37 * i})
        return 100 + 37 * i

    return time_to_frames(log, count, seek, lambda frame, row: abs(frame[2] - row) < 0.5)


def measure_events(api, log, seconds):
    """`state` events a second while playing, and how far each trails the picture."""
    api.call("/api/transport", {"seek": 200, "play": True})
    arrivals = []
    stop = time.monotonic() + seconds

    def listen():
        # Straight from the socket: each chunk is stamped as it arrives, with no
        # reader's buffering between the demo and the clock.
        parts = urlsplit(api.base)
        with socket.create_connection((parts.hostname, parts.port), timeout=10) as sock:
            sock.sendall(f"GET /api/events?token={api.token} HTTP/1.1\r\nHost: {parts.netloc}\r\n\r\n".encode())
            pending, name = b"", None
            while time.monotonic() < stop:
                data = sock.recv(65536)
                if not data:
                    return
                now = time.monotonic()
                pending += data
                *lines, pending = pending.split(b"\n")
                for raw in lines:
                    line = raw.decode(errors="replace").rstrip("\r")
                    if line.startswith("event: "):
                        name = line[7:]
                    elif line.startswith("data: ") and name == "state":
                        arrivals.append((now, json.loads(line[6:])))

    thread = threading.Thread(target=listen, daemon=True)
    thread.start()
    thread.join(seconds + 5)
    log.poll()
    playing = [(t, s) for t, s in arrivals if not s["paused"]][1:]  # the first comes on connect
    if len(playing) < 2:
        return 0.0, 0.0, []
    rate = (len(playing) - 1) / (playing[-1][0] - playing[0][0])
    shown = [t for t, _, _ in log.frames if playing[0][0] <= t <= playing[-1][0]]
    frames = (len(shown) - 1) / (shown[-1] - shown[0]) if len(shown) > 1 else 0.0
    trail = []
    for t, s in playing:
        frame = log.row_at(t)
        if frame:
            trail.append((frame[2] + (t - frame[0]) * ROWS_PER_SECOND - s["row"]) / ROWS_PER_SECOND * 1000)
    return rate, frames, trail


def measure_page(api, log, seconds):
    """The page's playhead (studio.playRow()) against the demo's picture at the same moment."""
    try:
        import test_page
    except SystemExit:
        return None
    if not os.path.exists(test_page.DRIVER):
        return None
    driver = test_page.browser(1280, 800)
    try:
        driver.get(api.url)
        test_page.wait("the page's show", lambda: driver.execute_script("return !!(window.studio && studio.state)"))
        api.call("/api/transport", {"seek": 200, "play": True})
        time.sleep(1.0)
        trail = []
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            before = time.monotonic()
            row = driver.execute_script("return studio.playRow()")
            after = time.monotonic()
            log.first(lambda f: True, after, 1.0)  # a frame past the sample, so row_at sees the latest
            middle = (before + after) / 2
            frame = log.row_at(middle)
            if frame:
                demo_row = frame[2] + (middle - frame[0]) * ROWS_PER_SECOND
                trail.append((demo_row - row) / ROWS_PER_SECOND * 1000)
            time.sleep(random.uniform(0.03, 0.08))
        return trail
    finally:
        driver.quit()
        api.call("/api/transport", {"pause": True})


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--url", required=True, help="the studio's address, as the demo printed it")
    parser.add_argument("--log", required=True, help="the demo's stderr, with its frame lines")
    parser.add_argument("--edits", type=int, default=100)
    parser.add_argument("--seeks", type=int, default=50)
    parser.add_argument("--seconds", type=float, default=5.0, help="how long to count events and sample the page")
    args = parser.parse_args()

    api = StudioClient(args.url)
    log = FrameLog(args.log)
    if log.first(lambda f: True, 0, 10.0) is None:
        print("studio_latency: the demo writes no frame lines (is DEMO_STUDIO_FRAME_LOG set?)", file=sys.stderr)
        return 1

    response, request, frames_ms, missed = measure_edits(api, log, args.edits)
    if not response:
        print("studio_latency: no edit reached the screen", file=sys.stderr)
        return 1
    median, p95 = spread(response)
    print(f"edit response -> first frame showing it ({len(response)} edits{f', {missed} never shown' if missed else ''}): "
          f"median {median:.1f} ms, p95 {p95:.1f} ms; from the request: median {spread(request)[0]:.1f} ms, "
          f"p95 {spread(request)[1]:.1f} ms; median frame time {frames_ms:.1f} ms "
          f"(median {median / frames_ms:.2f} frames, p95 {p95 / frames_ms:.2f} frames)")

    response, request, seek_frames_ms, missed = measure_seeks(api, log, args.seeks)
    if response:
        print(f"seek while paused -> its frame ({len(response)} seeks{f', {missed} never shown' if missed else ''}): "
              f"median {spread(response)[0]:.1f} ms from the response, {spread(request)[0]:.1f} ms from the request "
              f"({spread(request)[0] / seek_frames_ms:.2f} frames of {seek_frames_ms:.1f} ms)")

    rate, frames, trail = measure_events(api, log, args.seconds)
    if trail:
        print(f"state events while playing: {rate:.1f} a second ({frames:.1f} frames a second meanwhile); "
              f"each trails the picture by median "
              f"{spread(trail)[0]:.1f} ms, p95 {spread(trail)[1]:.1f} ms")
    else:
        print("state events while playing: none arrived")

    trail = measure_page(api, log, args.seconds)
    if trail:
        print(f"page playhead behind the demo's picture ({len(trail)} samples): median {spread(trail)[0]:.1f} ms, "
              f"p95 {spread(trail)[1]:.1f} ms (negative: ahead)")
    elif trail is None:
        print("page playhead: skipped (no chromium, chromium-driver or python3-selenium)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
