"""What the page tests and bench/studio_latency.py share: the studio's API as a
second client beside the page, the fake demo (fake_studio_server.py) started on a
port of its own, and the way to Debian's python3 when a browser driver's module
is missing. Standard library only, so that it loads before any of those.
"""
import json
import os
import select
import subprocess
import sys
import urllib.request
from urllib.parse import urlsplit

HERE = os.path.dirname(os.path.abspath(__file__))
DEADLINE = 10.0  # seconds for anything the server should answer at once


class StudioClient:
    """The API at a studio address (http://127.0.0.1:PORT/#token=T), with its token."""

    def __init__(self, url, timeout=DEADLINE):
        parts = urlsplit(url)
        self.base = f"{parts.scheme}://{parts.netloc}"
        self.token = dict(p.split("=", 1) for p in parts.fragment.split("&") if "=" in p).get("token", "")
        self.url = url
        self.timeout = timeout

    def call(self, path, body=None):
        """A GET, or a POST of body as JSON; the answer's JSON. A refusal raises HTTPError."""
        request = urllib.request.Request(self.base + path, method="POST" if body is not None else "GET",
                                         data=json.dumps(body).encode() if body is not None else None,
                                         headers={"Authorization": f"Bearer {self.token}",
                                                  "Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=self.timeout) as response:
            return json.load(response)


def start_fake(*extra, preexec_fn=None):
    """fake_studio_server.py on a free port with the options in extra: (the process, its address).
    A server that says nothing for DEADLINE seconds, or not its address, is stopped and refused."""
    process = subprocess.Popen([sys.executable, os.path.join(HERE, "fake_studio_server.py"), "--port", "0", *extra],
                               stdout=subprocess.PIPE, text=True, preexec_fn=preexec_fn)
    ready, _, _ = select.select([process.stdout], [], [], DEADLINE)
    line = process.stdout.readline() if ready else "(nothing)"
    if not line.startswith("studio: "):
        stop_fake(process)
        raise AssertionError(f"the fake server did not start: {line!r}")
    return process, line.split(" ", 1)[1].strip()


def stop_fake(process):
    process.kill()
    process.wait()


def debian_python_or_skip(test, package):
    """For a module that Debian installs for its own python3 only: run the test again under
    /usr/bin/python3 when another python3 came first in PATH, else exit 77 (skipped)."""
    if os.path.exists("/usr/bin/python3") and os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3", *sys.argv])
    print(f"{test}: skipped: {package} is not installed (scripts/install-deps.sh)")
    sys.exit(77)
