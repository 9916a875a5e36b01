"""Headless Firefox driven over WebDriver BiDi, which Firefox speaks itself: no driver
program, nothing fetched. Firefox listens on a WebSocket of its own once started with
--remote-debugging-port; this module starts it on a fresh profile, speaks the protocol
with python3-websocket, keeps the browser's log entries, and cleans up after itself.

  with Firefox("/usr/bin/firefox-esr", width=1600, height=900) as fx:
      fx.navigate(url)
      fx.value("document.title")
"""
import ctypes
import json
import os
import signal
import shutil
import subprocess
import tempfile
import threading
import time

import websocket

DEADLINE = 10.0  # seconds for anything the browser should answer at once
START_DEADLINE = 40.0  # a cold start of Firefox on a busy machine

# Firefox on a test profile: no first-run pages, no updates, no network chatter that
# could stall on a machine without a network. The remote agent adds its own
# recommended automation prefs on top of these.
PREFS = {
    "remote.active-protocols": 1,  # WebDriver BiDi only
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.homepage_override.mstone": "ignore",
    "browser.startup.page": 0,
    "datareporting.policy.dataSubmissionEnabled": False,
    "toolkit.telemetry.reportingpolicy.firstRun": False,
    "app.update.disabledForTesting": True,
    "app.normandy.enabled": False,
    "extensions.update.enabled": False,
    "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False,
    "browser.safebrowsing.malware.enabled": False,
    "browser.safebrowsing.phishing.enabled": False,
    "services.settings.server": "http://127.0.0.1:1/",
    "toolkit.startup.max_resumed_crashes": -1,
}

# WebDriver's code points for the keys that are not characters.
KEYS = {"Enter": "\ue007", "Control": "\ue009", "Shift": "\ue008", "Alt": "\ue00a",
        "Delete": "\ue017", "Backspace": "\ue003", "Escape": "\ue00c", "End": "\ue010",
        "ArrowLeft": "\ue012", "ArrowUp": "\ue013", "ArrowRight": "\ue014", "ArrowDown": "\ue015"}


class BidiError(Exception):
    pass


def die_with_parent():
    # Firefox goes when the test goes, even when the test is killed outright (a
    # ctest timeout) and cannot clean up; its content processes follow their parent.
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


class Firefox:
    def __init__(self, binary, width=1600, height=900):
        self.binary, self.width, self.height = binary, width, height
        self.process = self.socket = None
        self.profile = None
        self.logs = []  # log.entryAdded parameters, in the order they came
        self.stderr = []  # Firefox's own last lines, for a failure's message
        self.next_id = 0

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def start(self):
        self.profile = tempfile.mkdtemp(prefix="studio-firefox-")
        with open(os.path.join(self.profile, "user.js"), "w", encoding="utf-8") as f:
            for name, value in PREFS.items():
                f.write(f"user_pref({json.dumps(name)}, {json.dumps(value)});\n")
        env = dict(os.environ, MOZ_HEADLESS="1", MOZ_CRASHREPORTER_DISABLE="1")
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        self.process = subprocess.Popen(
            [self.binary, "--headless", "--no-remote", "--profile", self.profile,
             "--remote-debugging-port", "0", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env,
            start_new_session=True, preexec_fn=die_with_parent)
        found = threading.Event()
        address = []

        def drain():  # also keeps the pipe from filling up and stalling Firefox
            for raw in self.process.stderr:
                line = raw.decode("utf-8", "replace").rstrip()
                self.stderr = (self.stderr + [line])[-20:]
                if not found.is_set() and "WebDriver BiDi listening on " in line:
                    address.append(line.split("listening on ", 1)[1].strip())
                    found.set()
            found.set()

        threading.Thread(target=drain, daemon=True).start()
        if not found.wait(START_DEADLINE) or not address:
            raise BidiError(f"after {START_DEADLINE:.0f} s Firefox still does not say where WebDriver BiDi "
                            f"listens; its last words: {self.stderr[-5:]}")
        # Firefox refuses a WebSocket handshake that carries an Origin it was not told of.
        self.socket = websocket.create_connection(address[0] + "/session", timeout=DEADLINE, suppress_origin=True)
        self.call("session.new", {"capabilities": {}})
        self.call("session.subscribe", {"events": ["log.entryAdded"]})
        self.context = self.call("browsingContext.getTree", {})["contexts"][0]["context"]
        self.call("browsingContext.setViewport",
                  {"context": self.context, "viewport": {"width": self.width, "height": self.height}})

    def close(self):
        if self.socket:
            try:
                self.socket.settimeout(2)
                self.call("browser.close", {}, seconds=2)
            except Exception:
                pass  # it is killed below either way
            self.socket.close()
            self.socket = None
        if self.process:
            if self.process.poll() is None:
                try:
                    os.killpg(self.process.pid, signal.SIGKILL)  # Firefox and its content processes
                except ProcessLookupError:
                    pass
            self.process.wait()
            self.process = None
        if self.profile:
            shutil.rmtree(self.profile, ignore_errors=True)
            self.profile = None

    # The protocol.
    def call(self, method, params, seconds=DEADLINE):
        self.next_id += 1
        mine = self.next_id
        self.socket.send(json.dumps({"id": mine, "method": method, "params": params}))
        end = time.monotonic() + seconds
        while True:
            left = end - time.monotonic()
            if left <= 0:
                raise BidiError(f"after {seconds:.0f} s no answer from Firefox to {method}")
            self.socket.settimeout(left)
            try:
                message = json.loads(self.socket.recv())
            except websocket.WebSocketTimeoutException:
                continue
            if message.get("type") == "event":
                if message.get("method") == "log.entryAdded":
                    self.logs.append(message["params"])
            elif message.get("id") == mine:
                if message.get("type") == "error":
                    raise BidiError(f"{method}: {message.get('error')}: {message.get('message')}")
                return message["result"]

    def errors(self):
        """The browser's log entries of level error: uncaught exceptions and console.error."""
        return [f"{e.get('type')}: {e.get('text')}" for e in self.logs if e.get("level") == "error"]

    def navigate(self, url):
        self.call("browsingContext.navigate", {"context": self.context, "url": url, "wait": "complete"},
                  seconds=DEADLINE * 3)

    def value(self, expression):
        """The value of a page expression (awaited when a promise), through JSON."""
        result = self.call("script.evaluate", {
            "expression": f"(async () => JSON.stringify(await ({expression})))()",
            "target": {"context": self.context}, "awaitPromise": True, "resultOwnership": "none"})
        if result["type"] == "exception":
            details = result["exceptionDetails"]
            raise BidiError(f"{expression}: {details.get('text')}")
        remote = result["result"]
        return json.loads(remote["value"]) if remote.get("type") == "string" else None

    def wait(self, what, expression, seconds=DEADLINE):
        """Polls a page expression until it is truthy; fails saying what it waited for."""
        end = time.monotonic() + seconds
        while True:
            got = self.value(expression)
            if got:
                return got
            if time.monotonic() > end:
                raise AssertionError(f"after {seconds:.0f} s still not: {what} ({expression} is {got!r})")
            time.sleep(0.05)

    # Input, as the user's devices give it.
    def act(self, *sources):
        self.call("input.performActions", {"context": self.context, "actions": list(sources)})
        self.release()

    def hold(self, *names):
        """Presses keys of KEYS and keeps them down until release()."""
        self.call("input.performActions", {"context": self.context, "actions": [
            {"type": "key", "id": "keyboard", "actions": [{"type": "keyDown", "value": KEYS[n]} for n in names]}]})

    def release(self):
        self.call("input.releaseActions", {"context": self.context})

    def keys(self, *strokes):
        """Types each stroke: text character by character, a name of KEYS as that key, and
        "Control+z" style chords with the modifiers held around the last key."""
        actions = []
        for stroke in strokes:
            if "+" in stroke and len(stroke) > 1:
                *held, last = stroke.split("+")
                held = [KEYS[h] for h in held]
                last = KEYS.get(last, last)
                actions += [{"type": "keyDown", "value": k} for k in held]
                actions += [{"type": "keyDown", "value": last}, {"type": "keyUp", "value": last}]
                actions += [{"type": "keyUp", "value": k} for k in reversed(held)]
            else:
                for char in ([KEYS[stroke]] if stroke in KEYS else stroke):
                    actions += [{"type": "keyDown", "value": char}, {"type": "keyUp", "value": char}]
        self.act({"type": "key", "id": "keyboard", "actions": actions})

    def drag(self, points, step_ms=50):
        """The mouse pressed at the first viewport point, moved through the rest, let go;
        a single point is a click."""
        (x, y), rest = points[0], points[1:]
        actions = [{"type": "pointerMove", "x": round(x), "y": round(y), "origin": "viewport"},
                   {"type": "pointerDown", "button": 0}]
        actions += [{"type": "pointerMove", "x": round(px), "y": round(py), "origin": "viewport",
                     "duration": step_ms} for px, py in rest]
        actions.append({"type": "pointerUp", "button": 0})
        self.act({"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"}, "actions": actions})

    def double_click(self, x, y):
        """Two presses at a viewport point in one sequence, as fast as a person's double-click."""
        press = [{"type": "pointerDown", "button": 0}, {"type": "pointerUp", "button": 0}]
        self.act({"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
                  "actions": [{"type": "pointerMove", "x": round(x), "y": round(y), "origin": "viewport"}, *press, *press]})

    def centre(self, selector_expression):
        """The viewport point at the middle of an element given by a page expression."""
        box = self.value(f"(() => {{ const r = ({selector_expression}).getBoundingClientRect();"
                         f" return [r.left, r.top, r.width, r.height]; }})()")
        return box[0] + box[2] / 2, box[1] + box[3] / 2, box[2], box[3]
