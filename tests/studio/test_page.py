#!/usr/bin/env python3
"""The studio page in a real browser (headless Chromium through Debian's chromedriver).

Against the demo when STUDIO_URL gives its studio address (http://127.0.0.1:PORT/#token=T)
and STUDIO_FILE the track text it edits, else against tests/studio/fake_studio_server.py
working on a copy of res/src/show.tracks. It types a key and sees it reach the server and
the grid, undoes it, scrubs on the waveform and sees the seek, sees a change made by
another client arrive as a `show` event, sees a stale edit refused and told, sees a save
from outside named and undone, edits tempo lines and marks into the file, keeps a mark's
rename under way across another client's change, and sees a wrong token refused; against
the fake it also sees the music lane wait as long as a 503's Retry-After asks. Exit 77
(skipped) without chromium, its driver or selenium.

  test_page.py                       the test
  test_page.py --screenshot FILE     the page at 1600x900, for the docs
  test_page.py --frame-time          the page's frame rate while playing 10,000 keys
"""
import json
import os
import re
import shutil
import statistics
import sys
import tempfile
import time
import urllib.error

from studio_client import DEADLINE, StudioClient, debian_python_or_skip, start_fake, stop_fake

CHROMIUM, DRIVER = "/usr/bin/chromium", "/usr/bin/chromedriver"
HERE = os.path.dirname(os.path.abspath(__file__))

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError:
    debian_python_or_skip("test_page", "python3-selenium")


class Studio(StudioClient):
    """The API as a second client: what the server holds, and changes from outside the page."""

    def status(self, path):
        """The HTTP status of a GET, waiting out the 503s of music still being read."""
        end = time.monotonic() + DEADLINE
        while True:
            try:
                self.call(path)
                return 200
            except urllib.error.HTTPError as e:
                if e.code != 503 or time.monotonic() > end:
                    return e.code
            time.sleep(0.2)

    def key(self, track, row):
        for t in self.call("/api/show")["tracks"]:
            if t["name"] == track:
                return next((k for k in t["keys"] if k["row"] == row), None)
        return None

    def free_row(self, track, rows):
        """A row without a key in track, so that a new key is a new line of the text."""
        keys = {k["row"] for t in self.call("/api/show")["tracks"] if t["name"] == track for k in t["keys"]}
        return next(r for r in rows if r not in keys)


def browser(width=1600, height=900):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                f"--window-size={width},{height}", "--disable-background-timer-throttling"):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(DRIVER), options=options)
    driver.set_page_load_timeout(DEADLINE * 3)
    # The window's size includes its frame; the page itself gets exactly this.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
    return driver


def wait(what, test, seconds=DEADLINE):
    end = time.monotonic() + seconds
    while True:
        try:
            value = test()
        except (urllib.error.URLError, LookupError):
            value = None
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError(f"after {seconds:.0f} s still not: {what}")
        time.sleep(0.05)


def cell(driver, track, row):
    """The grid cell of a track index and a row, scrolled into sight."""
    driver.execute_script("studio.grid.setCursor(arguments[0], arguments[1])", track, row)
    return driver.find_element(By.CSS_SELECTOR, f'.grid-row[data-row="{row}"] > .c:nth-child({track + 2})')


def read(path):
    with open(path, encoding="utf-8", newline="") as f:
        return f.read()


def save_from_outside(path, track, row, value):
    """What a text editor does: the key's value rewritten in place, the rest as it was."""
    text = read(path)
    lines = text.splitlines(keepends=True)
    inside = False
    for i, line in enumerate(lines):
        words = line.split("#", 1)[0].split()
        if words[:1] == ["track"]:
            inside = words[1:2] == [track]
        elif inside and words[:1] == [str(row)]:
            lines[i] = re.sub(r"^(\s*\d+\s+)\S+", lambda m: m.group(1) + value, line, count=1)
            break
    else:
        raise AssertionError(f"no key {track} {row} in {path}")
    # Written whole and renamed over the file, as editors that keep a backup do, so that
    # the watcher never sees it half written and the save is one change.
    with open(path + ".saving", "w", encoding="utf-8", newline="") as f:
        f.write("".join(lines))
    os.replace(path + ".saving", path)
    return text


def page_errors(driver):
    """The page's own errors; refused calls the test asked for are the network's."""
    return [e["message"] for e in driver.get_log("browser") if e["level"] == "SEVERE" and e["source"] != "network"]


def check_music(driver, studio):
    """The music's lane draws the peaks and beats the demo gives, once it has read the music."""
    if studio.status("/api/waveform?from=0&to=10&columns=10") == 200:
        wait("the waveform's peaks drawn", lambda: driver.execute_script("return studio.wave.peaks?.values.length"))
    if studio.status("/api/beats") == 200 and studio.call("/api/beats")["beats"]:
        wait("the beats drawn", lambda: driver.execute_script("return studio.wave.beats.length"))


def check_no_music(driver, url):
    """Without music the lane says why, as the demo does, and nothing is asked again."""
    driver.get(url)
    wait("the lane's reason", lambda: "no music" in driver.find_element(By.CSS_SELECTOR, "#wave .lane-message").text)


# The page's own arithmetic for tempo lines and marks: (expression, expected JSON).
MODEL_CASES = [
    ("withTempo([], 200, 128, false)", [{"bpm": 128, "at": 0}]),
    ("withTempo([], 200, 128, true)", [{"bpm": 128, "at": 200}]),
    ("withTempo([{bpm: 120, at: 0}, {bpm: 90, at: 400}], 500, 100, false)", [{"bpm": 120, "at": 0}, {"bpm": 100, "at": 400}]),
    ("withTempo([{bpm: 120, at: 10}], 0, 100, false)", [{"bpm": 100, "at": 10}]),
    ("withTempo([{bpm: 120, at: 0}, {bpm: 90, at: 400}], 200, 100, true)",
     [{"bpm": 120, "at": 0}, {"bpm": 100, "at": 200}, {"bpm": 90, "at": 400}]),
    ("withTempo([{bpm: 120, at: 0}, {bpm: 90, at: 400.3}], 400, 100, true)", [{"bpm": 120, "at": 0}, {"bpm": 100, "at": 400}]),
    ("[parseBpm('128'), parseBpm(' 128.5 '), parseBpm('128,5'), parseBpm('.5')]", [128, 128.5, 128.5, 0.5]),
    ("[parseBpm('0'), parseBpm('-120'), parseBpm('1e3'), parseBpm('fast'), parseBpm(''), parseBpm('Infinity')]",
     [None] * 6),
    ("[markNameProblem('verse two'), !!markNameProblem(' '), !!markNameProblem('a # b'), !!markNameProblem('a\\nb')]",
     [None, True, True, True]),
    ("markOps([{row: 320, name: 'verse'}], 320, 'chorus')",
     [{"mark": {"row": 320, "name": "verse", "delete": True}}, {"mark": {"row": 320, "name": "chorus"}}]),
    ("markOps([{row: 320, name: 'verse'}], 321, 'x')", [{"mark": {"row": 321, "name": "x"}}]),
]


# How long the music lane waits before asking again after a 503, by its Retry-After
# (null: none): (expression, expected ms).
RETRY_CASES = [
    ("[retryDelay('1'), retryDelay(' 2 '), retryDelay('0.5'), retryDelay('3.25')]", [1000, 2000, 500, 3250]),
    ("[retryDelay('0'), retryDelay('0.01')]", [200, 200]),
    ("[retryDelay('60'), retryDelay('99999999999999999999999')]", [10000, 10000]),
    ("[retryDelay(null), retryDelay(''), retryDelay('soon'), retryDelay('-1'), retryDelay('1e3'), retryDelay('1,5')]",
     [500] * 6),
    ("retryDelay('Wed, 21 Oct 2015 07:28:00 GMT')", 500),
]


def check_module(driver, module, cases):
    """Each expression evaluated with the page module's exports in scope."""
    got = driver.execute_async_script("""
        const done = arguments[arguments.length - 1];
        import(arguments[1]).then((m) => done(arguments[0].map((e) =>
            JSON.stringify(new Function(...Object.keys(m), `return ${e}`)(...Object.values(m))))),
          (e) => done(String(e)));""", [e for e, _ in cases], module)
    assert isinstance(got, list), f"{module} did not load: {got}"
    wrong = [f"{e} = {g}, not {json.dumps(x)}" for (e, x), g in zip(cases, got) if json.loads(g) != x]
    assert not wrong, "\n".join(wrong)


def check_retry_after(driver):
    """While the music is read, the lane asks again when the demo's Retry-After says, not sooner."""
    wait_s, retry_s = 3.0, 2.0
    server, url = start_fake("--music-wait", str(wait_s), "--retry-after", f"{retry_s:g}")
    try:
        studio = Studio(url)
        driver.get(url)
        wait("the peaks once the music is read", lambda: driver.execute_script("return studio.wave.peaks?.values.length"),
             wait_s + retry_s + DEADLINE)
        calls = studio.call("/api/log")["calls"]
    finally:
        stop_fake(server)
    first = min(c["at"] for c in calls if c["path"] in ("/api/waveform", "/api/beats"))
    for path in ("/api/waveform", "/api/beats"):
        asked = [c["at"] - first for c in calls if c["path"] == path]
        # The first moments may bring an ask or two of the view settling; after that every
        # ask while the music was still being read is a retry.
        soon = [(a, b) for a, b in zip(asked, asked[1:]) if b > 1.0 and a < wait_s and b - a < retry_s * 0.9]
        assert not soon, f"{path} asked again sooner than Retry-After: {retry_s:g} s: {asked}"
        assert len(asked) >= 2, f"{path} was not asked again after the 503: {asked}"


def check_outside_save(driver, studio, path, names):
    """A save from a text editor wins, the page names the keys it changed, and Undo takes it back."""
    track, row = "back.n", 320
    old = studio.key(track, row)["value"]
    new = "2.75" if old != 2.75 else "3.5"
    before = save_from_outside(path, track, row, new)
    wait("the saved key on the server", lambda: (studio.key(track, row) or {}).get("value") == float(new))
    wait("the saved key in the grid", lambda: cell(driver, names.index(track), row).text.startswith(new))
    message = driver.find_element(By.ID, "message").text
    assert "from outside" in message and f"{track}:{row}" in message, f"the save is not named: {message!r}"
    driver.find_element(By.ID, "grid").click()
    ActionChains(driver).key_down(Keys.CONTROL).send_keys("z").key_up(Keys.CONTROL).perform()
    wait("the key as before the save", lambda: studio.key(track, row)["value"] == old)
    wait("the file as before the save", lambda: read(path) == before)

    # A save that does not compile: the page shows the error, and refuses to write over it.
    broken = before + "  zz 1 step\n"
    with open(path + ".saving", "w", encoding="utf-8", newline="") as f:
        f.write(broken)
    os.replace(path + ".saving", path)
    wait("the error at the side", lambda: driver.find_elements(By.CSS_SELECTOR, "#problems li.error"))
    cell(driver, names.index("back.y"), 5).click()
    ActionChains(driver).send_keys("0.5", Keys.ENTER).perform()
    wait("the refusal said", lambda: "does not compile" in driver.find_element(By.ID, "message").text)
    assert read(path) == broken, "an edit wrote over a file that does not compile"
    with open(path + ".saving", "w", encoding="utf-8", newline="") as f:
        f.write(before)
    os.replace(path + ".saving", path)
    wait("the error gone", lambda: not driver.find_elements(By.CSS_SELECTOR, "#problems li.error"))


def mark_button(driver, name, label):
    """A part of the side panel's line for a mark (label: its class), scrolled into sight."""
    item = wait(f"the mark {name} listed", lambda: next(
        (li for li in driver.find_elements(By.CSS_SELECTOR, "#marks li") if name in li.get_attribute("textContent")),
        None))
    element = item.find_element(By.XPATH, f".//*[contains(@class, '{label}')]")
    driver.execute_script("arguments[0].scrollIntoView({block: 'nearest'})", element)
    return element


def check_tempo_and_marks(driver, studio, path):
    """Tempo lines and marks typed into the side panel reach the file; bad input changes nothing."""
    def type_into(field, text, *then):
        element = driver.find_element(By.ID, field)
        element.clear()
        element.send_keys(text, *(then or [Keys.ENTER]))

    def at(row):
        studio.call("/api/transport", {"pause": True, "seek": row})
        wait(f"the page at row {row}", lambda: driver.execute_script("return studio.playRow()") == row)

    def rename(old, new):
        ActionChains(driver).double_click(mark_button(driver, old, "what")).perform()
        ActionChains(driver).send_keys(Keys.END, Keys.BACKSPACE * len(old), new, Keys.ENTER).perform()

    def tempo(show):
        return [(t["bpm"], t["at"]) for t in show["tempo"]]

    def marks(show):
        return [(m["row"], m["name"]) for m in show["marks"]]

    first = studio.call("/api/show")
    # (what, action, what the show holds then, a line the file must hold, one it must not)
    cases = []
    beats = studio.call("/api/beats") if studio.status("/api/beats") == 200 else {}
    if beats.get("detected"):
        # Offered while the text has no tempo lines of its own.
        bpm = round(beats.get("detectedTempo", beats)["bpm"], 3)
        cases.append(("the music's tempo taken", lambda: driver.find_element(By.ID, "take-detected").click(),
                      lambda s: [b for b, _ in tempo(s)] == [bpm], rf"^tempo {bpm:g} at ", None))
    cases += [
        ("a tempo set", lambda: (at(200), type_into("bpm", "128")),
         lambda s: tempo(s)[0][0] == 128, r"^tempo 128( at \S+)?\s*$", None),
        ("a tempo change here", lambda: (type_into("bpm", "140", ""), driver.find_element(By.ID, "tempo-here").click()),
         lambda s: (140, 200) in tempo(s), r"^tempo 140 at 0:10(\.00)?\s*$", None),
        ("a tempo that is no number", lambda: type_into("bpm", "fast"),
         lambda s: "no tempo" in driver.find_element(By.ID, "message").text, None, r"fast"),
        ("a mark at the playing row", lambda: (at(320), driver.find_element(By.ID, "grid").click(),
                                               ActionChains(driver).send_keys("m").perform(),
                                               ActionChains(driver).send_keys("verse two", Keys.ENTER).perform()),
         lambda s: (320, "verse two") in marks(s), r"^mark 0:16(\.00)? verse two\s*$", None),
        ("a mark's name with a comment sign", lambda: type_into("mark-name", "a # b"),
         lambda s: "“#”" in driver.find_element(By.ID, "message").text, None, r"a # b"),
        ("a mark renamed", lambda: rename("verse two", "chorus"),
         lambda s: marks(s).count((320, "chorus")) == 1 and (320, "verse two") not in marks(s),
         r"^mark 0:16(\.00)? chorus\s*$", r"verse two"),
        ("a mark removed", lambda: mark_button(driver, "chorus", "small").click(),
         lambda s: (320, "chorus") not in marks(s), None, r"^mark .*chorus"),
    ]
    for what, action, holds, must, must_not in cases:
        action()
        wait(f"{what}: the show", lambda: holds(studio.call("/api/show")))
        if must:
            wait(f"{what}: the file has /{must}/", lambda: re.search(must, read(path), re.M))
        if must_not:
            assert not re.search(must_not, read(path), re.M), f"{what}: the file has /{must_not}/"
    # Undo goes back through all of it, one step an edit, to the tempo and marks of the start.
    for _ in range(len(cases)):
        if tempo(studio.call("/api/show")) == tempo(first) and marks(studio.call("/api/show")) == marks(first):
            break
        driver.find_element(By.ID, "undo").click()
        time.sleep(0.3)
    show = studio.call("/api/show")
    assert (tempo(show), marks(show)) == (tempo(first), marks(first)), f"undo left {tempo(show)} {marks(show)}"


def outside_edit(studio, driver, ops):
    """Ops made by another client; waits until the page has the show they made."""
    version = studio.call("/api/edit", {"version": studio.call("/api/show")["version"], "ops": ops})["version"]
    wait(f"the page at version {version}", lambda: driver.execute_script("return studio.model.version") == version)


# A rename under way while another client changes the show: (what, the change, whether the
# field lives on). The mark being renamed is "rename me" at RENAME_ROW.
RENAME_ROW = 1510
RENAME_CASES = [
    ("a key set elsewhere", lambda row: [{"track": "back.y", "row": row, "value": 0.125}], True),
    ("another mark added", lambda row: [{"mark": {"row": RENAME_ROW + 40, "name": "neighbour"}}], True),
    ("the mark removed", lambda row: [{"mark": {"row": RENAME_ROW, "name": "rename me", "delete": True}}], False),
    ("the mark renamed", lambda row: [{"mark": {"row": RENAME_ROW, "name": "rename me", "delete": True}},
                                      {"mark": {"row": RENAME_ROW, "name": "taken elsewhere"}}], False),
]


def check_rename_across_redraw(driver, studio):
    """A show event redraws the marks while a name is being typed: the field, its text, its
    caret and the focus live on, unless the event took that very mark away."""
    def marks():
        return {(m["row"], m["name"]) for m in studio.call("/api/show")["marks"]}

    start = marks()
    for what, ops, kept in RENAME_CASES:
        outside_edit(studio, driver, [{"mark": {"row": RENAME_ROW, "name": "rename me"}}])
        ActionChains(driver).double_click(mark_button(driver, "rename me", "what")).perform()
        # "rename me" becomes "rename yo|u", the caret before the last letter.
        ActionChains(driver).send_keys(Keys.END, Keys.BACKSPACE * 2, "you", Keys.ARROW_LEFT).perform()
        wait(f"{what}: the name typed", lambda: driver.execute_script(
            "const f = document.querySelector('#marks input.rename'); return f && f.value === 'rename you'"))
        key_row = studio.free_row("back.y", range(3, 60))
        outside_edit(studio, driver, ops(key_row))
        field = driver.execute_script("""const f = document.querySelector('#marks input.rename');
            return f && [f.value, f.selectionStart, f.selectionEnd, document.activeElement === f]""")
        if kept:
            assert field == ["rename you", 9, 9, True], f"{what}: the rename under way became {field}"
            # Typed on at the caret, so before the "u".
            ActionChains(driver).send_keys("r", Keys.ENTER).perform()
            wait(f"{what}: the rename typed on reaches the show",
                 lambda: (RENAME_ROW, "rename yoru") in marks() and (RENAME_ROW, "rename me") not in marks())
        else:
            assert field is None, f"{what}: a rename of a mark no longer there is still open: {field}"
            assert "dropped" in driver.find_element(By.ID, "message").text, f"{what}: the dropped rename is not told"
        # As it was before the case, by hand rather than by undo, which the outside edits share.
        outside_edit(studio, driver, [{"mark": {"row": r, "name": n, "delete": True}} for r, n in marks() - start] +
                     ([{"track": "back.y", "row": key_row, "delete": True}] if studio.key("back.y", key_row) else []))


def check(driver, studio, path=None):
    names = [t["name"] for t in studio.call("/api/show")["tracks"]]
    # Paused at the start, so that the grid does not scroll under the clicks.
    studio.call("/api/transport", {"pause": True})
    studio.call("/api/transport", {"seek": 0})
    driver.get(studio.url)
    wait("the grid shows keys", lambda: driver.find_elements(By.CSS_SELECTOR, ".grid-row .c.key"))

    # A number typed into an empty cell is a new key, on the server and in the grid.
    track = names.index("back.y")
    row = studio.free_row("back.y", range(3, 40))
    target = cell(driver, track, row)
    target.click()
    ActionChains(driver).send_keys("0.25", Keys.ENTER).perform()
    wait("the typed key on the server", lambda: (studio.key("back.y", row) or {}).get("value") == 0.25)
    wait("the typed key in the grid", lambda: cell(driver, track, row).text.startswith("0.25"))

    # Ctrl+Z takes it back, on the server and in the grid.
    ActionChains(driver).key_down(Keys.CONTROL).send_keys("z").key_up(Keys.CONTROL).perform()
    wait("the key undone on the server", lambda: studio.key("back.y", row) is None)
    wait("the key undone in the grid", lambda: cell(driver, track, row).text == "")

    # K cycles a key's kind, Alt+Down moves it a row, Ctrl+C and Ctrl+V copy it to the
    # playing row, and Delete removes the copy, which the paste left selected.
    kinds = ["step", "linear", "smooth", "ramp"]
    row = studio.free_row("back.y", range(3, 40))
    cell(driver, track, row).click()
    ActionChains(driver).send_keys("2", Keys.ENTER).perform()
    kind = wait("a new key", lambda: studio.key("back.y", row))["kind"]
    wait("the new key in the grid", lambda: f"k-{kind}" in cell(driver, track, row).get_attribute("class"))
    ActionChains(driver).send_keys("k").perform()
    kind = kinds[(kinds.index(kind) + 1) % 4]
    wait("the next kind", lambda: studio.key("back.y", row)["kind"] == kind)
    wait("the next kind in the grid", lambda: f"k-{kind}" in cell(driver, track, row).get_attribute("class"))
    if studio.key("back.y", row + 1) is None:
        ActionChains(driver).key_down(Keys.ALT).send_keys(Keys.ARROW_DOWN).key_up(Keys.ALT).perform()
        wait("the key a row down", lambda: studio.key("back.y", row) is None and studio.key("back.y", row + 1))
        row += 1
    paste = studio.free_row("back.y", range(60, 120))
    studio.call("/api/transport", {"pause": True})
    studio.call("/api/transport", {"seek": paste})
    wait("the page at the playing row", lambda: driver.execute_script("return studio.playRow()") == paste)
    for key in ("c", "v"):
        ActionChains(driver).key_down(Keys.CONTROL).send_keys(key).key_up(Keys.CONTROL).perform()
    wait("the pasted key", lambda: (studio.key("back.y", paste) or {}).get("value") == 2)
    wait("the pasted key selected", lambda: "sel" in cell(driver, track, paste).get_attribute("class").split())
    assert studio.key("back.y", row)["value"] == 2, "the copied key went away"
    ActionChains(driver).send_keys(Keys.DELETE).perform()
    wait("the pasted key removed", lambda: studio.key("back.y", paste) is None)

    # A drag on the waveform scrubs: the demo is where the drag let go.
    wave = driver.find_element(By.CSS_SELECTOR, "#wave canvas")
    width = wave.size["width"]
    ActionChains(driver).move_to_element_with_offset(wave, -width // 4, 0).click_and_hold() \
        .move_by_offset(width // 8, 0).move_by_offset(width // 8, 0).release().perform()
    view = driver.execute_script("return [studio.view.from, studio.view.to]")
    middle = (view[0] + view[1]) / 2
    wait(f"a seek near row {middle:.0f}", lambda: abs(studio.call("/api/state")["row"] - middle) < (view[1] - view[0]) / 50)

    # A change by another client arrives as an event, is shown and is named.
    other = names.index("back.g")
    row = studio.free_row("back.g", range(3, 40))
    show = studio.call("/api/show")
    studio.call("/api/edit", {"version": show["version"], "ops": [{"track": "back.g", "row": row, "value": 0.375}]})
    wait("the outside key in the grid", lambda: cell(driver, other, row).text.startswith("0.375"))
    wait("the outside change named", lambda: "back.g" in driver.find_element(By.ID, "message").text)

    # An edit against an old version is refused; the page says so and writes nothing.
    row = studio.free_row("back.y", range(3, 40))
    driver.execute_script("studio.model.version -= 1")
    cell(driver, track, row).click()
    ActionChains(driver).send_keys("0.5", Keys.ENTER).perform()
    wait("the stale edit told", lambda: "had changed" in driver.find_element(By.ID, "message").text)
    assert studio.key("back.y", row) is None, "a stale edit was written"
    assert driver.execute_script("return studio.model.version") == studio.call("/api/show")["version"]

    check_music(driver, studio)
    check_module(driver, "/page/model.js", MODEL_CASES)
    check_module(driver, "/page/waveform.js", RETRY_CASES)
    if path:
        check_outside_save(driver, studio, path, names)
        check_tempo_and_marks(driver, studio, path)

    check_rename_across_redraw(driver, studio)

    errors = page_errors(driver)
    assert not errors, f"the page logged errors: {errors}"

    # A wrong token: the page says it was refused.
    driver.get(studio.url.split("#")[0] + "#token=wrong" + studio.token[:4])
    wait("the refusal shown", lambda: driver.find_element(By.ID, "refusal").is_displayed())
    assert "refused" in driver.find_element(By.ID, "refusal").text


def screenshot(driver, studio, path):
    driver.get(studio.url)
    wait("the grid shows keys", lambda: driver.find_elements(By.CSS_SELECTOR, ".grid-row .c.key"))
    studio.call("/api/transport", {"loop": [1240, 1320]})
    studio.call("/api/transport", {"seek": 1283})
    driver.execute_script("studio.grid.setCursor(1, 1290); studio.grid.selection = new Set(['1:1280', '1:1320', '2:1280']);"
                          "studio.grid.render(true); studio.view.set(800, 2000, 2640);"
                          "studio.enterValue(1, 1290, '0.8')")
    time.sleep(1.5)
    driver.save_screenshot(path)


def frame_time(driver, studio, seconds=5.0):
    """Frame intervals from requestAnimationFrame while the show plays."""
    driver.get(studio.url)
    wait("the grid shows keys", lambda: driver.find_elements(By.CSS_SELECTOR, ".grid-row .c.key"))
    keys = driver.execute_script("return studio.model.keyCount")
    studio.call("/api/transport", {"seek": 0})
    studio.call("/api/transport", {"play": True})
    time.sleep(1.0)
    stamps, long_tasks = driver.execute_async_script("""
        const done = arguments[arguments.length - 1], stamps = [], end = performance.now() + arguments[0] * 1000;
        let long = 0;
        new PerformanceObserver((list) => { long += list.getEntries().length; }).observe({ entryTypes: ["longtask"] });
        const tick = (t) => { stamps.push(t); if (t < end) requestAnimationFrame(tick); else done([stamps, long]); };
        requestAnimationFrame(tick);""", seconds)
    row = studio.call("/api/state")["row"]
    gaps = sorted(b - a for a, b in zip(stamps, stamps[1:]))
    median = statistics.median(gaps)
    p95 = gaps[int(len(gaps) * 0.95)]
    fps = (len(stamps) - 1) / ((stamps[-1] - stamps[0]) / 1000)
    print(f"frame time while playing, {keys} keys, {seconds:.0f} s (to row {row:.0f}): "
          f"{fps:.1f} frames/s, median {median:.1f} ms, p95 {p95:.1f} ms, worst {gaps[-1]:.1f} ms, "
          f"{long_tasks} tasks over 50 ms")
    return fps


def main():
    args = sys.argv[1:]
    for path in (CHROMIUM, DRIVER):
        if not os.path.exists(path):
            print(f"test_page: skipped: {path} is missing (chromium and chromium-driver, scripts/install-deps.sh)")
            return 77
    server = None
    url = os.environ.get("STUDIO_URL")
    path = os.environ.get("STUDIO_FILE") if url else None
    scratch = tempfile.mkdtemp(prefix="studio-page-")
    if not url or "--frame-time" in args:
        extra = ["--keys", "10000", "--state-rate", "25"] if "--frame-time" in args else []
        if "--frame-time" not in args and "--screenshot" not in args:
            # A copy of the bundled show to work on, music that takes a moment to read, beats found in it.
            path = os.path.join(scratch, "show.tracks")
            shutil.copyfile(os.path.join(HERE, "..", "..", "res", "src", "show.tracks"), path)
            extra = ["--file", path, "--music-wait", "1", "--detected"]
        server, url = start_fake(*extra)
    driver = browser()
    try:
        studio = Studio(url)
        if "--screenshot" in args:
            screenshot(driver, studio, args[args.index("--screenshot") + 1])
        elif "--frame-time" in args:
            frame_time(driver, studio)
        else:
            started = time.monotonic()
            check(driver, studio, path)
            if server:
                silent, silent_url = start_fake("--music-seconds", "0")
                try:
                    check_no_music(driver, silent_url)
                finally:
                    stop_fake(silent)
                check_retry_after(driver)
            print(f"test_page: the page passed against {studio.base} in {time.monotonic() - started:.1f} s")
    finally:
        driver.quit()
        if server:
            stop_fake(server)
        shutil.rmtree(scratch, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
