#!/usr/bin/env python3
"""A stand-in for the studio API of `demo --edit`, for developing and testing the page.

It keeps a show in memory (the track names and keys of res/src/show.tracks, or
as many keys as --keys asks for), answers the calls the page makes with the
same JSON shapes, checks the token, and sends the events. Playback is a clock
at 20 rows a second; the music is a made-up waveform of --music-seconds.
With --file it works on a copy of a track text as the demo does: every change
is written there, and a save from outside is taken up as a change of its own
(`change: "file"` with the keys it changed), which undo takes back. The file is
written in a plain layout of its own, not the demo's line-preserving one.
Test support only: the demo's own server is the real one.

  fake_studio_server.py [--port N] [--token T] [--file F] [--keys N] [--music-seconds S]
                        [--music-wait S] [--retry-after TEXT] [--detected] [--state-rate HZ]

Prints `studio: http://127.0.0.1:PORT/#token=TOKEN` on stdout once it listens.
Beyond the demo's API, `GET /api/log` answers the calls it has had so far, each
{method, path, at} (at: seconds on its monotonic clock), so that a test can see
how often and how far apart the page asked.
"""
import argparse
import copy
import json
import math
import os
import queue
import re
import secrets
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PAGE = os.path.join(ROOT, "src", "studio", "page")
ROWS_PER_SECOND = 20
KINDS = {"step": 0, "linear": 1, "smooth": 2, "ramp": 3}
KIND_NAMES = {v: k for k, v in KINDS.items()}
CONTROLS = [
    (0, "no plane"), (1, "A grlsch.png in"), (2, "A grlsch.png out"), (3, "C nightbacon.gif in"),
    (4, "C nightbacon.gif out"), (5, "B atari_st_bee.gif in"), (6, "B atari_st_bee.gif out"),
    (7, "C vorn.gif in"), (8, "C vorn.gif out"), (9, "A poubell.gif in"), (10, "A poubell.gif out"),
    (11, "B poubell.gif in"), (777, "the end of the show"),
]
TYPES = {".html": "text/html; charset=utf-8", ".js": "text/javascript; charset=utf-8",
         ".css": "text/css; charset=utf-8", ".png": "image/png", ".svg": "image/svg+xml"}


def read_tracks(path):
    """Track names in order with their keys, tempo lines and marks (rows)."""
    tracks, tempo, marks, current = [], [], [], None
    for line in open(path, encoding="utf-8"):
        words = line.split("#", 1)[0].split()
        if not words:
            continue
        if words[0] == "track":
            current = {"name": words[1], "keys": []}
            tracks.append(current)
        elif words[0] == "tempo":
            at = parse_time(words[3]) if len(words) > 3 else 0.0
            tempo.append({"bpm": float(words[1]), "at": at})
        elif words[0] == "mark":
            marks.append({"row": parse_time(words[1]), "name": " ".join(words[2:])})
        elif current is not None:
            kind = KINDS.get(words[2], None) if len(words) > 2 else 0
            current["keys"].append([int(words[0]), float(words[1]), int(words[2]) if kind is None else kind])
    return tracks, tempo, marks


def parse_time(text):
    if text.startswith("r"):
        return float(text[1:])
    seconds = 0.0
    for part in text.split(":"):
        seconds = seconds * 60 + float(part)
    return seconds * ROWS_PER_SECOND


def value_at(keys, row):
    """The demo's evaluation (src/sync/Tracks.cpp): hold before the first key and after the last."""
    if not keys:
        return 0.0
    lo, hi = 0, len(keys)
    while lo < hi:
        mid = (lo + hi) // 2
        if keys[mid][0] <= math.floor(row):
            lo = mid + 1
        else:
            hi = mid
    i = lo - 1
    if i < 0:
        return keys[0][1]
    if i >= len(keys) - 1:
        return keys[-1][1]
    (ra, va, kind), (rb, vb, _) = keys[i], keys[i + 1]
    t = (row - ra) / (rb - ra)
    if kind == 0:
        return va
    if kind == 1:
        return va + t * (vb - va)
    if kind == 2:
        return va + (3 - 2 * t) * t * t * (vb - va)
    if kind == 3:
        return va + t * t * (vb - va)
    return 0.0


class Refused(Exception):
    def __init__(self, status, message):
        super().__init__(message)
        self.status = status


def format_time(row):
    """m:ss.ss when that is the row exactly, rROW otherwise, as the demo writes times."""
    hundredths = row * 100 / ROWS_PER_SECOND
    if abs(hundredths - round(hundredths)) < 1e-9:
        h = int(round(hundredths))
        return f"{h // 6000}:{h % 6000 // 100:02d}.{h % 100:02d}"
    return f"r{row:g}"


def format_number(value):
    text = repr(float(value))
    return text[:-2] if text.endswith(".0") else text


def write_tracks(path, order, tracks, tempo, marks):
    lines = []
    for t in tempo:
        lines.append(f"tempo {format_number(t['bpm'])}" + (f" at {format_time(t['at'])}" if t["at"] else ""))
    for m in marks:
        lines.append(f"mark {format_time(m['row'])} {m['name']}")
    for name in order:
        lines.append("")
        lines.append(f"track {name}")
        for row, value, kind in tracks[name]:
            lines.append(f"  {row:<6} {format_number(value):<10} {KIND_NAMES.get(kind, kind)}")
    temporary = path + ".fake-tmp"
    with open(temporary, "w", encoding="utf-8") as f:
        f.write("\n".join(lines).lstrip("\n") + "\n")
    os.replace(temporary, path)


def stamp(path):
    try:
        st = os.stat(path)
        return (st.st_mtime_ns, st.st_size, st.st_ino)
    except OSError:
        return None


def changed_keys(before, after):
    """[{track, row}] of every key added, removed or changed between two {name: keys}."""
    out = []
    for name in sorted(set(before) | set(after)):
        old = {r: (v, k) for r, v, k in before.get(name, [])}
        new = {r: (v, k) for r, v, k in after.get(name, [])}
        out += [{"track": name, "row": r} for r in sorted(set(old) | set(new)) if old.get(r) != new.get(r)]
    return out


class Studio:
    def __init__(self, args):
        self.file = args.file
        tracks, tempo, marks = read_tracks(args.file or args.tracks)
        self.tracks = {t["name"]: t["keys"] for t in tracks}
        self.order = [t["name"] for t in tracks]
        if args.file:
            self.tempo, self.marks = tempo, marks  # the file's, however few
        else:
            self.tempo = tempo or [{"bpm": 120.0, "at": 0.0}]
            self.marks = marks or [{"row": 320.0, "name": "verse"}, {"row": 960.0, "name": "chorus"},
                                   {"row": 1280.0, "name": "break"}, {"row": 2240.0, "name": "outro"}]
        self.pad_keys(args.keys)
        self.music_seconds = args.music_seconds or None
        self.music_wait, self.music_ready = args.music_wait, None  # counted from the first ask
        self.retry_after = args.retry_after
        self.detected = args.detected
        self.version = 1
        self.change = "start"
        self.changed_list = []
        self.seen = stamp(self.file) if self.file else None
        self.undo, self.redo = [], []
        self.lock = threading.RLock()
        self.listeners = []
        self.row, self.paused, self.loop, self.scrub_audio = 0.0, True, None, False
        self.clock = time.monotonic()
        self.errors = []
        self.log = []

    def pad_keys(self, wanted):
        """Adds keys every few rows to tracks in turn until the show holds `wanted` keys."""
        total = sum(len(k) for k in self.tracks.values())
        names = [n for n in self.order if n != "control"]
        i = 0
        while total < wanted:
            keys = self.tracks[names[i % len(names)]]
            row = (keys[-1][0] + 3) if keys else 0
            keys.append([row, round(math.sin(row * 0.05) * 2, 3), 2])
            total += 1
            i += 1

    # The show and the state as the API gives them.
    def end_row(self):
        return round(self.music_seconds * ROWS_PER_SECOND) if self.music_seconds else None

    def show_json(self):
        return {
            "version": self.version, "file": "show.tracks", "rowsPerSecond": ROWS_PER_SECOND,
            "musicSeconds": self.music_seconds, "endRow": self.end_row(),
            "tempo": self.tempo, "marks": self.marks,
            "controls": [{"code": c, "label": l} for c, l in CONTROLS],
            "tracks": [{"name": n, "keys": [{"row": r, "value": v, "kind": KIND_NAMES.get(k, k)}
                                            for r, v, k in self.tracks[n]]} for n in self.order],
            "warnings": self.warnings(), "change": self.change, "changed": self.changed_list,
        }

    def warnings(self):
        out = []
        for r, v, k in self.tracks.get("control", []):
            if k != 0:
                out.append(f"control: row {r}: a {KIND_NAMES.get(k, k)} key plays every code on the way")
            if int(v) not in dict(CONTROLS):
                out.append(f"control: row {r}: code {int(v)} is not one the show knows")
        return out

    def current_row(self):
        if not self.paused:
            now = time.monotonic()
            self.row += (now - self.clock) * ROWS_PER_SECOND
            self.clock = now
            if self.loop and self.row >= self.loop[1]:
                self.row = self.loop[0] + (self.row - self.loop[0]) % max(1, self.loop[1] - self.loop[0])
            end = self.end_row()
            if end is not None and self.row >= end:
                self.row, self.paused = float(end), True
        return self.row

    def state_json(self):
        row = self.current_row()
        end = self.end_row()
        return {"row": row, "seconds": row / ROWS_PER_SECOND, "paused": self.paused,
                "held": end is not None and row >= end, "code": int(value_at(self.tracks["control"], row)),
                "fps": 60.0, "loop": self.loop, "scrubAudio": self.scrub_audio, "version": self.version}

    # Events.
    def publish(self, name, data):
        message = f"event: {name}\ndata: {json.dumps(data)}\n\n".encode()
        for q in list(self.listeners):
            q.put(message)

    def changed(self, change, before_tracks):
        self.change = change
        self.changed_list = changed_keys(before_tracks, self.tracks)
        if self.file and change != "file":
            write_tracks(self.file, self.order, self.tracks, self.tempo, self.marks)
            self.seen = stamp(self.file)
        self.publish("show", self.show_json())
        self.publish("state", self.state_json())

    # Edits.
    def snapshot(self):
        return copy.deepcopy((self.tracks, self.tempo, self.marks))

    def edit(self, body):
        if not isinstance(body, dict) or not isinstance(body.get("ops"), list):
            raise Refused(400, "an edit is {version, ops: [...]}")
        if body.get("version") != self.version:
            raise Refused(409, "stale version")
        if self.errors:
            raise Refused(409, "the file on disk does not compile; the studio waits for a save that does")
        before = self.snapshot()
        try:
            for op in body["ops"]:
                self.apply(op)
        except (KeyError, TypeError, ValueError) as e:
            self.tracks, self.tempo, self.marks = before
            raise Refused(400, f"malformed edit: {e!r}")
        except Refused:
            self.tracks, self.tempo, self.marks = before
            raise
        self.undo.append(before)
        self.redo.clear()
        self.version += 1
        self.changed("edit", before[0])

    def apply(self, op):
        if "shift" in op:
            start, by = int(op["shift"]["from"]), int(op["shift"]["by"])
            for name, keys in self.tracks.items():
                kept = []
                for r, v, k in keys:
                    if r < start:
                        kept.append([r, v, k])
                    elif by >= 0 or r >= start - by:
                        kept.append([r + by, v, k])
                self.tracks[name] = kept
            return
        if "tempo" in op:
            self.tempo = op["tempo"]
            return
        if "mark" in op:
            mark = op["mark"]
            if mark.get("delete"):
                self.marks = [m for m in self.marks if m["row"] != mark["row"]]
            else:
                self.marks = sorted(self.marks + [{"row": mark["row"], "name": mark["name"]}], key=lambda m: m["row"])
            return
        name = op.get("track")
        if name not in self.tracks:
            raise Refused(400, f"unknown track {name!r}")
        keys, row = self.tracks[name], op.get("row")
        if not isinstance(row, int):
            raise Refused(400, "a key's row is a whole number")
        at = next((i for i, key in enumerate(keys) if key[0] == row), None)
        if op.get("delete"):
            if at is None:
                raise Refused(400, f"track {name} has no key at row {row}")
            del keys[at]
            return
        value = op.get("value", keys[at][1] if at is not None else None)
        if not isinstance(value, (int, float)) or not math.isfinite(value):
            raise Refused(400, "a key's value is a finite number")
        kind = op.get("kind")
        if kind is None:
            before = [k for k in keys if k[0] <= row]
            kind = before[-1][2] if before else 0
        kind = KINDS[kind] if kind in KINDS else kind
        if not isinstance(kind, int) or not -128 <= kind <= 127:
            raise Refused(400, f"no kind {kind!r}")
        if at is not None:
            keys[at] = [row, float(value), kind]
        else:
            keys.append([row, float(value), kind])
            keys.sort(key=lambda k: k[0])

    def step(self, back):
        source, target = (self.undo, self.redo) if back else (self.redo, self.undo)
        if not source:
            raise Refused(409, "nothing to " + ("undo" if back else "redo"))
        now = self.snapshot()
        target.append(now)
        self.tracks, self.tempo, self.marks = source.pop()
        self.version += 1
        self.changed("undo" if back else "redo", now[0])

    def look(self):
        """A save from outside: the file wins, and is one step of undo."""
        current = stamp(self.file)
        if current is None or current == self.seen:
            return
        self.seen = current
        try:
            tracks, tempo, marks = read_tracks(self.file)
            new = {t["name"]: t["keys"] for t in tracks}
            unknown = [n for n in new if n not in self.tracks]
            if unknown:
                raise ValueError(f"track '{unknown[0]}' is none of the show's tracks")
        except (ValueError, IndexError, OSError) as e:
            errors = [f"{os.path.basename(self.file)}: {e}"]
            if errors != self.errors:
                self.errors = errors
                self.publish("errors", {"errors": self.errors})
            return
        if self.errors:
            self.errors = []
            self.publish("errors", {"errors": self.errors})
        before = self.snapshot()
        self.undo.append(before)
        self.redo.clear()
        self.tracks = {n: new.get(n, []) for n in self.order}
        self.tempo, self.marks = tempo, marks
        self.version += 1
        self.changed("file", before[0])

    def transport(self, body):
        self.current_row()
        if body.get("play"):
            self.paused, self.clock = False, time.monotonic()
        if body.get("pause"):
            self.paused = True
        if "seek" in body:
            row = body["seek"]
            if not isinstance(row, (int, float)) or not math.isfinite(row):
                raise Refused(400, "seek takes a row")
            self.row, self.clock = max(0.0, float(row)), time.monotonic()
        if "loop" in body:
            self.loop = body["loop"]
        if "scrubAudio" in body:
            self.scrub_audio = bool(body["scrubAudio"])
        state = self.state_json()
        self.publish("state", state)
        return state

    def waveform(self, start, end, columns):
        """Peaks of a made-up piece: a kick on every beat at 120 BPM over a hum."""
        peaks = []
        for c in range(columns):
            t = start + (end - start) * (c + 0.5) / columns
            if t < 0 or t > self.music_seconds:
                peaks.append([0.0, 0.0])
                continue
            beat = (t * 2) % 1
            level = 0.25 + 0.15 * math.sin(t * 0.7) + 0.55 * math.exp(-beat * 8)
            level *= min(1.0, t / 2, (self.music_seconds - t) / 3 + 0.05)
            peaks.append([round(-level * 0.9, 4), round(level, 4)])
        return peaks

    def beats(self):
        """As the demo answers: the text's tempo lines lay the beats; without them, those
        found in the music (--detected) when the build can find them."""
        found = {"bpm": 120.03, "at": 0.26 * ROWS_PER_SECOND}
        detected = self.detected and not self.tempo
        lines = [found] if detected else self.tempo
        beats = []
        for i, t in enumerate(lines):
            start, step = t["at"] / ROWS_PER_SECOND, 60.0 / t["bpm"]
            end = lines[i + 1]["at"] / ROWS_PER_SECOND if i + 1 < len(lines) else self.music_seconds
            n = 0
            while start + n * step < end - 1e-9:
                beats.append(round(start + n * step, 4))
                n += 1
        answer = {"bpm": lines[0]["bpm"] if lines else None, "beats": beats, "detected": detected}
        if detected:
            answer["detectedTempo"] = found
        return answer


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    studio = None
    token = ""

    def log_message(self, *args):
        pass

    def handle(self):
        try:
            super().handle()
        except (BrokenPipeError, ConnectionResetError):
            pass  # the page went away, or dropped a fetch it no longer needs

    def send_json(self, status, data, headers=()):
        body = json.dumps(data).encode()
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(body)

    def allowed(self, query):
        """The demo's rules: its own Host and Origin, and the token."""
        port = self.server.server_address[1]
        if self.headers.get("Host") not in (f"127.0.0.1:{port}", f"localhost:{port}"):
            return False
        origin = self.headers.get("Origin")
        if origin and origin not in (f"http://127.0.0.1:{port}", f"http://localhost:{port}"):
            return False
        given = self.headers.get("Authorization", "")
        if given.startswith("Bearer ") and secrets.compare_digest(given[7:], self.token):
            return True
        return self.path.startswith("/api/events") and secrets.compare_digest(query.get("token", [""])[0], self.token)

    def do_GET(self):
        url = urlsplit(self.path)
        if not url.path.startswith("/api/"):
            return self.serve_page(url.path)
        query = parse_qs(url.query)
        if not self.allowed(query):
            return self.send_json(403, {"error": "wrong or missing token"})
        studio = self.studio
        with studio.lock:
            if url.path == "/api/log":
                return self.send_json(200, {"calls": studio.log})
            studio.log.append({"method": "GET", "path": url.path, "at": time.monotonic()})
            if url.path == "/api/show":
                return self.send_json(200, studio.show_json())
            if url.path == "/api/state":
                return self.send_json(200, studio.state_json())
            if url.path == "/api/errors":
                return self.send_json(200, {"errors": studio.errors})
            if url.path == "/api/curve":
                keys = studio.tracks.get(query.get("track", [""])[0])
                if keys is None:
                    return self.send_json(400, {"error": "unknown track"})
                start, end = float(query["from"][0]), float(query["to"][0])
                step = max(float(query.get("step", ["1"])[0]), (end - start) / 20000)
                count = int((end - start) / step) + 1
                return self.send_json(200, {"values": [value_at(keys, start + i * step) for i in range(count)]})
            if url.path in ("/api/waveform", "/api/beats"):
                if not studio.music_seconds:
                    return self.send_json(404, {"error": "the show has no music"})
                if studio.music_ready is None:
                    studio.music_ready = time.monotonic() + studio.music_wait
                if time.monotonic() < studio.music_ready:
                    retry = [("Retry-After", studio.retry_after)] if studio.retry_after else []
                    return self.send_json(503, {"error": "the music is still being read"}, retry)
                if url.path == "/api/beats":
                    return self.send_json(200, studio.beats())
                columns = min(int(query.get("columns", ["1000"])[0]), 20000)
                return self.send_json(200, {"peaks": studio.waveform(float(query["from"][0]), float(query["to"][0]), columns)})
        if url.path == "/api/events":
            return self.events()
        self.send_json(404, {"error": "no such call"})

    def do_POST(self):
        url = urlsplit(self.path)
        length = int(self.headers.get("Content-Length") or 0)
        raw = self.rfile.read(length) if length else b""
        if not self.allowed({}):
            return self.send_json(403, {"error": "wrong or missing token"})
        try:
            body = json.loads(raw or b"{}")
        except ValueError as e:
            return self.send_json(400, {"error": f"bad JSON: {e}"})
        studio = self.studio
        with studio.lock:
            studio.log.append({"method": "POST", "path": url.path, "body": body, "at": time.monotonic()})
            try:
                if url.path == "/api/edit":
                    studio.edit(body)
                    return self.send_json(200, studio.show_json())
                if url.path in ("/api/undo", "/api/redo"):
                    studio.step(url.path == "/api/undo")
                    return self.send_json(200, studio.show_json())
                if url.path == "/api/transport":
                    return self.send_json(200, studio.transport(body))
            except Refused as e:
                if e.status == 409 and url.path == "/api/edit":
                    # As the demo: the current show, with why and the file's errors.
                    return self.send_json(409, {**studio.show_json(), "error": str(e), "errors": studio.errors})
                return self.send_json(e.status, {"error": str(e)})
        self.send_json(404, {"error": "no such call"})

    def events(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/event-stream")
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.close_connection = True
        q = queue.Queue()
        studio = self.studio
        with studio.lock:
            for name, data in (("show", studio.show_json()), ("state", studio.state_json()),
                               ("errors", {"errors": studio.errors})):
                q.put(f"event: {name}\ndata: {json.dumps(data)}\n\n".encode())
            studio.listeners.append(q)
        try:
            while True:
                try:
                    self.wfile.write(q.get(timeout=15))
                except queue.Empty:
                    self.wfile.write(b": still here\n\n")
                self.wfile.flush()
        except OSError:
            pass
        finally:
            with studio.lock:
                studio.listeners.remove(q)

    def serve_page(self, path):
        """As the demo serves the page: index.html at /, every file under /page/."""
        if path != "/" and not path.startswith("/page/"):
            return self.send_json(404, {"error": f"nothing at {path}"})
        name = "index.html" if path == "/" else path[len("/page/"):]
        full = os.path.realpath(os.path.join(PAGE, name))
        if not re.fullmatch(r"[a-z0-9_-]+\.[a-z]+", name) or not os.path.isfile(full):
            return self.send_json(404, {"error": "no such file"})
        body = open(full, "rb").read()
        self.send_response(200)
        self.send_header("Content-Type", TYPES.get(os.path.splitext(name)[1], "application/octet-stream"))
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(body)


def ticker(studio, rate):
    """`state` while playing, as often as the demo sends it; and the file watched."""
    while True:
        time.sleep(1.0 / rate)
        with studio.lock:
            if studio.file:
                studio.look()
            if not studio.paused and studio.listeners:
                studio.publish("state", studio.state_json())


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--token", default=secrets.token_hex(16))
    parser.add_argument("--tracks", default=os.path.join(ROOT, "res", "src", "show.tracks"))
    parser.add_argument("--file", help="a track text to work on, written on every change and watched for saves")
    parser.add_argument("--music-wait", type=float, default=0.0,
                        help="answer 503 for the waveform and beats for this long from the first ask, as while reading the music")
    parser.add_argument("--retry-after", default="1",
                        help="the Retry-After of those 503s, as the demo's (\"\": none; any text, to try the page)")
    parser.add_argument("--detected", action="store_true", help="beats found in the music, as a build with aubio")
    parser.add_argument("--keys", type=int, default=0, help="pad the show to this many keys")
    parser.add_argument("--music-seconds", type=float, default=132.0, help="0: a show without music")
    parser.add_argument("--state-rate", type=float, default=25.0)
    parser.add_argument("--play", action="store_true", help="start playing")
    args = parser.parse_args()

    studio = Studio(args)
    studio.paused = not args.play
    Handler.studio, Handler.token = studio, args.token
    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    server.daemon_threads = True
    threading.Thread(target=ticker, args=(studio, args.state_rate), daemon=True).start()
    print(f"studio: http://127.0.0.1:{server.server_address[1]}/#token={args.token}", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
