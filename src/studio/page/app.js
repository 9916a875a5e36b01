// The studio page: the show from the demo in a key grid, curve lanes and the
// music's lane, kept live by the demo's events. Every change goes to the demo
// as an edit of the show's current version; the demo writes the track text
// and tells every page, this one included, what the show is now.

import { Api, tokenFromHash } from "./api.js";
import { KeyGrid, cellId } from "./grid.js";
import { CurveLanes } from "./curves.js";
import { Waveform } from "./waveform.js";
import {
  ShowModel, TimelineView, beatLength, describeChanges, formatTime, formatValue, markNameProblem, markOps,
  nextKind, parseBpm, parseTime, tempoIndexAt, withTempo,
} from "./model.js";

const $ = (id) => document.getElementById(id);

// What the keys do, by the modifiers held; the status line shows the set in force.
const HINTS = {
  "": "Space play/pause · ←/→ 1 s · ↓/↑ 10 s · Home start · a number sets the key · K kind · Del removes · Ins inserts a row · M marks the playing row",
  Control: "Ctrl: Z undo · Shift+Z redo · A select all · C copy · V paste at the playing row · arrows move the cursor · Del deletes the row · click adds a key",
  Shift: "Shift: drag on the music sets the loop, a click clears it · a dragged curve key snaps to beats (or not, with snap on) · Ins inserts a beat of rows · click adds a key",
  Alt: "Alt: ↑/↓ move the selected keys a row (Shift: a beat)",
  "Control+Shift": "Ctrl+Shift: Z redo",
  "Alt+Shift": "Alt+Shift: ↑/↓ move the selected keys a beat",
};

class Studio {
  constructor() {
    this.api = new Api(tokenFromHash(location.hash));
    this.model = null;
    this.state = null;
    this.stateAt = 0;
    this.inFlight = 0;
    this.heldShow = null;
    this.clipboard = null;
    this.seeking = false;
    this.nextSeek = null;
    this.lastRow = -1;
    this.edits = Promise.resolve();
    this.view = new TimelineView();
    const limit = () => this.lastViewRow();

    this.grid = new KeyGrid($("grid"), {
      seek: (row) => this.seek(row),
      moveKeys: (delta) => this.moveKeys(delta),
      enterValue: (track, row, text) => this.enterValue(track, row, text),
      cursorMoved: () => this.showCursor(),
    });
    this.wave = new Waveform($("wave"), this.api, this.view, {
      seek: (row) => this.seek(row),
      setLoop: (loop) => this.transport({ loop }),
      beats: (beats) => this.setBeats(beats),
      limit,
    });
    this.curves = new CurveLanes($("chips"), $("lanes"), this.api, this.view, {
      edit: (ops, what) => this.edit(ops, what),
      seek: (row) => this.seek(row),
      snap: () => $("snap").checked,
      limit,
    });
    this.bindControls();
    this.bindKeys();
    this.modifiers({});
  }

  async start() {
    if (!this.api.token) return this.refuse("The page's address carries no token.");
    try {
      this.setShow(await this.api.show(), "load");
    } catch (e) {
      if (e.status === 403) return this.refuse("The demo refused this page's token.");
      this.say(`The demo does not answer: ${e.message}`, "error");
      return;
    }
    this.api.state().then((s) => this.setState(s), () => {});
    this.events = this.api.events({
      show: (show) => this.showEvent(show),
      state: (state) => this.setState(state),
      errors: (errors) => this.setErrors(errors),
      open: () => this.connection(true),
      lost: () => this.connection(false),
    });
    this.grid.root.focus({ preventScroll: true });
    const frame = (now) => {
      this.frame(now);
      requestAnimationFrame(frame);
    };
    requestAnimationFrame(frame);
  }

  refuse(why) {
    $("refusal-why").textContent = why;
    $("refusal").hidden = false;
    document.body.classList.add("refused");
  }

  connection(live) {
    $("conn").textContent = live ? "live" : "reconnecting…";
    $("conn").className = live ? "live" : "lost";
  }

  // Shows arrive as answers to this page's calls ("mine", "load", "stale")
  // and as events, which may be anyone's. An event that comes while an edit
  // of ours is under way waits for its answer, so that our own edit is never
  // reported as a change from outside.
  showEvent(show) {
    if (this.inFlight) this.heldShow = show;
    else if (!this.model || show.version !== this.model.version) this.setShow(show, "event");
  }

  setShow(show, source) {
    const before = this.model;
    const model = new ShowModel(show);
    this.model = model;
    if (source === "event" && before) {
      // A save from the text editor names the keys it changed; another page's
      // edit is found by comparing.
      let { text, changed } = describeChanges(before, model);
      if (show.change === "file" && Array.isArray(show.changed)) {
        changed = show.changed.map((k) => `${k.track}:${k.row}`);
        text = `${show.file} was saved from outside; keys changed: ${changed.slice(0, 8).join(", ") || "none"}` +
          `${changed.length > 8 ? ` and ${changed.length - 8} more` : ""}`;
      } else if (text) {
        text = `Changed outside this page: ${text}`;
      }
      if (text) {
        this.say(`${text}. Ctrl+Z takes it back.`, "warn");
        this.grid.changed = new Set(changed);
        clearTimeout(this.changedTimer);
        this.changedTimer = setTimeout(() => {
          this.grid.changed.clear();
          this.grid.render(true);
        }, 4000);
      }
    }
    if (!before) this.view.set(0, this.lastViewRow(), this.lastViewRow());
    $("file").textContent = show.file || "";
    $("version").textContent = `version ${show.version} · ${model.keyCount} keys`;
    this.grid.setShow(model);
    this.wave.setShow(model);
    this.curves.setShow(model);
    this.renderControls();
    this.renderTempo();
    this.renderMarks();
    this.renderProblems();
    this.showCursor();
    this.refresh = true; // the next frame marks the control in force anew
  }

  lastViewRow() {
    return this.model ? Math.max(this.model.show.endRow ?? 0, this.model.lastKeyRow + 40) : 2640;
  }

  setState(state) {
    this.state = state;
    this.stateAt = performance.now();
    $("play").textContent = state.paused || state.held ? "▶" : "❚❚";
    $("play").title = state.paused ? "play (Space)" : "pause (Space)";
    $("scrub-audio").checked = !!state.scrubAudio;
    $("clear-loop").disabled = !state.loop;
    const label = this.model?.controls.get(state.code);
    $("code").textContent = `code ${state.code}${label ? `: ${label}` : ""}`;
    $("fps").textContent = state.fps ? `${Math.round(state.fps)} fps` : "";
    this.wave.setLoop(state.loop || null);
    this.curves.setLoop(state.loop || null);
  }

  // The playing row now: the last state moved on by the time since, while playing.
  playRow(now = performance.now()) {
    const s = this.state;
    if (!s) return 0;
    if (s.paused || s.held) return s.row;
    let row = s.row + ((now - this.stateAt) / 1000) * this.model.rowsPerSecond;
    if (s.loop && row >= s.loop[1]) row = s.loop[0] + ((row - s.loop[0]) % Math.max(1, s.loop[1] - s.loop[0]));
    if (this.model.show.endRow != null) row = Math.min(row, this.model.show.endRow);
    return row;
  }

  frame(now) {
    if (!this.model || !this.state) return;
    const row = this.playRow(now);
    const moved = row !== this.lastRow;
    if (!moved && !this.refresh) return;
    this.lastRow = row;
    this.refresh = false;
    // Only a moving playhead scrolls the grid: an edit elsewhere while paused stays in sight.
    this.grid.setPlayRow(row, $("follow").checked && moved);
    this.wave.setPlayRow(row);
    this.curves.setPlayRow(row);
    const rps = this.model.rowsPerSecond;
    $("clock").textContent = formatTime(row, rps);
    $("rowno").textContent = `r${Math.floor(row)}`;
    // While playing, the lanes page along when the playhead leaves them.
    const span = this.view.to - this.view.from;
    if (!this.state.paused && (row < this.view.from || row > this.view.to)) this.view.set(row - span * 0.05, row + span * 0.95, this.lastViewRow());
    this.markControl(row);
  }

  // Transport: every command answers with the state.
  transport(command) {
    return this.api.transport(command).then((s) => this.setState(s), (e) => this.say(`Transport: ${e.message}`, "error"));
  }

  // Scrubbing sends seeks one at a time; rows asked for meanwhile collapse
  // into the latest, so a fast drag never queues up a backlog.
  seek(row) {
    const end = this.model?.show.endRow;
    row = Math.max(0, end != null ? Math.min(row, end) : row);
    if (this.state) {
      this.state = { ...this.state, row };
      this.stateAt = performance.now();
    }
    if (this.seeking) {
      this.nextSeek = row;
      return;
    }
    this.seeking = true;
    this.api.transport({ seek: row }).then((s) => {
      if (this.nextSeek === null) this.setState(s);
    }, (e) => this.say(`Seek: ${e.message}`, "error")).finally(() => {
      this.seeking = false;
      if (this.nextSeek !== null) {
        const next = this.nextSeek;
        this.nextSeek = null;
        this.seek(next);
      }
    });
  }

  // Edits go one after the other, each against the version the last one left.
  edit(ops, what) {
    if (!ops.length) return Promise.resolve(false);
    this.edits = this.edits.then(() => this.sendEdit(ops, what));
    return this.edits;
  }

  async sendEdit(ops, what) {
    this.inFlight++;
    let done = false;
    try {
      this.setShow(await this.api.edit(this.model.version, ops), "mine");
      this.say(what);
      done = true;
    } catch (e) {
      if (e.status === 409 && e.data && e.data.tracks && e.data.errors?.length) {
        // The file on disk does not compile: an edit now would write over the user's text.
        this.setShow(e.data, "stale");
        if (Array.isArray(e.data.errors)) this.setErrors(e.data.errors);
        this.say(`Not done: ${what}: ${e.data.file || "the file"} on disk does not compile; ` +
          "the studio waits for a save that does (errors at the side).", "error");
      } else if (e.status === 409 && e.data && e.data.tracks) {
        this.setShow(e.data, "stale");
        this.say(`The show had changed before this edit arrived (now version ${e.data.version}): ` +
          `it is shown as it is, and “${what}” was not made.`, "warn");
      } else {
        this.say(`Not done: ${what}: ${e.message}`, "error");
      }
    } finally {
      this.inFlight--;
      const held = this.heldShow;
      this.heldShow = null;
      if (held && !this.inFlight && held.version > this.model.version) this.setShow(held, "event");
    }
    return done;
  }

  history(redo) {
    this.inFlight++;
    (redo ? this.api.redo() : this.api.undo())
      .then((show) => { this.setShow(show, "mine"); this.say(redo ? "Redone." : "Undone."); },
        (e) => this.say(`${redo ? "Redo" : "Undo"}: ${e.message}`, "error"))
      .finally(() => { this.inFlight--; });
  }

  name(track) {
    return this.model.tracks[track].name;
  }

  enterValue(track, row, text) {
    const value = Number(text.replace(",", "."));
    if (text.trim() === "" || !Number.isFinite(value)) {
      this.say(`“${text}” is not a number.`, "error");
      return;
    }
    // Left out, the kind stays (or, for a new key, is that of the key before it).
    this.edit([{ track: this.name(track), row, value }], `${this.name(track)} ${row}: ${formatValue(value)}`);
  }

  cycleKinds() {
    const keys = this.grid.selectedKeys();
    const ops = keys.map(({ track, row, key }) => ({ track: this.name(track), row, value: key.value, kind: nextKind(key.kind) }));
    this.edit(ops, keys.length === 1 ? `${this.name(keys[0].track)} ${keys[0].row}: ${ops[0].kind}` : `${keys.length} keys: next kind`);
  }

  deleteKeys() {
    const keys = this.grid.selectedKeys();
    this.edit(keys.map(({ track, row }) => ({ track: this.name(track), row, delete: true })),
      `${keys.length} key${keys.length === 1 ? "" : "s"} removed`);
  }

  // The selected keys, all of them delta rows on, as one step of undo: every
  // old key goes first, so keys moving onto each other's rows do not clash.
  async moveKeys(delta) {
    const keys = this.grid.selectedKeys();
    if (!keys.length) return;
    if (keys.some((k) => k.row + delta < 0)) {
      this.say("Keys cannot move above row 0.", "error");
      return;
    }
    const ops = keys.map(({ track, row }) => ({ track: this.name(track), row, delete: true }));
    for (const { track, row, key } of keys) ops.push({ track: this.name(track), row: row + delta, value: key.value, kind: key.kind });
    if (await this.edit(ops, `${keys.length} key${keys.length === 1 ? "" : "s"} moved ${delta > 0 ? "+" : ""}${delta} rows`)) {
      this.grid.selection = new Set(keys.map(({ track, row }) => cellId(track, row + delta)));
      this.grid.cursor.row = Math.max(0, this.grid.cursor.row + delta);
      this.grid.scrollToRow(this.grid.cursor.row);
      this.grid.render(true);
    }
  }

  copy() {
    const keys = this.grid.selectedKeys();
    if (!keys.length) return this.say("Nothing selected to copy.");
    const base = Math.min(...keys.map((k) => k.row));
    this.clipboard = keys.map(({ track, row, key }) => ({ track: this.name(track), offset: row - base, value: key.value, kind: key.kind }));
    this.say(`Copied ${keys.length} key${keys.length === 1 ? "" : "s"}.`);
  }

  async paste() {
    if (!this.clipboard) return this.say("Nothing copied yet.");
    const base = Math.round(this.playRow());
    const ops = this.clipboard.map((k) => ({ track: k.track, row: base + k.offset, value: k.value, kind: k.kind }));
    if (await this.edit(ops, `${ops.length} key${ops.length === 1 ? "" : "s"} pasted at row ${base}`)) {
      this.grid.selection = new Set(ops.map((o) => cellId(this.model.trackIndex.get(o.track), o.row)));
      this.grid.render(true);
    }
  }

  shiftRows(by) {
    const from = this.grid.cursor.row;
    this.edit([{ shift: { from, by } }], by > 0 ? `${by} row${by > 1 ? "s" : ""} inserted at ${from}` : `${-by} row${by < -1 ? "s" : ""} deleted at ${from}`);
  }

  beat() {
    return beatLength(this.model.tempo, this.model.rowsPerSecond, this.grid.cursor.row);
  }

  jump(text) {
    const row = parseTime(text, this.model.rowsPerSecond);
    $("jump").classList.toggle("bad", row === null);
    if (row === null) return this.say(`“${text}” is no time: write 1:05.2, 65 or r1230.`, "error");
    this.seek(row);
    this.grid.setCursor(this.grid.cursor.track, Math.round(row));
  }

  showCursor() {
    const { track, row } = this.grid.cursor;
    const key = this.model.key(track, row);
    $("cursor").textContent = `${this.name(track)} ${row} (${formatTime(row, this.model.rowsPerSecond)})` +
      (key ? `: ${formatValue(key.value)} ${key.kind}` : "");
  }

  // --- Tempo and marks -------------------------------------------------

  renderTempo() {
    const rps = this.model.rowsPerSecond;
    const tempo = this.model.tempo;
    $("tempos").replaceChildren(...tempo.map((t, i) => {
      const li = lineItem(formatTime(t.at, rps), `${formatValue(t.bpm)} BPM`, () => this.seek(t.at));
      li.title = `a beat every ${formatValue(60 / t.bpm)} s from row ${formatValue(t.at)}`;
      li.append(smallButton("×", "remove this tempo line", () => {
        const rest = tempo.filter((_, j) => j !== i).map(({ bpm, at }) => ({ bpm, at }));
        this.edit([{ tempo: rest }], `tempo ${formatValue(t.bpm)} at ${formatTime(t.at, rps)} removed`);
      }));
      return li;
    }));
    if (!tempo.length) $("tempos").replaceChildren(note("No tempo lines: no beat grid."));
    this.renderDetected();
  }

  // The tempo found in the music, when the demo found one, offered as the text's.
  setBeats(beats) {
    this.beats = beats;
    if (this.model) this.renderDetected();
  }

  renderDetected() {
    const b = this.beats;
    const button = $("take-detected");
    const bpm = b?.detectedTempo?.bpm ?? b?.bpm;
    button.hidden = !(b && b.detected && bpm > 0 && b.beats?.length);
    if (button.hidden) return;
    const rps = this.model.rowsPerSecond;
    const at = Math.round(b.beats[0] * rps * 1000) / 1000;
    this.detected = [{ bpm: Number(bpm.toFixed(3)), at }];
    const same = this.model.tempo.length === 1 && Math.abs(this.model.tempo[0].bpm - this.detected[0].bpm) < 0.0005 &&
      Math.abs(this.model.tempo[0].at - at) < 0.0005;
    button.textContent = `take the music's ${formatValue(this.detected[0].bpm)} BPM, first beat ${formatTime(at, rps)}`;
    button.disabled = same;
    button.title = same ? "the text's tempo is the one found in the music" : "replaces the text's tempo lines";
  }

  takeDetected() {
    if (this.detected) this.edit([{ tempo: this.detected }], `tempo from the music: ${formatValue(this.detected[0].bpm)} BPM`);
  }

  setTempo(here) {
    const bpm = parseBpm($("bpm").value);
    if (bpm === null) {
      $("bpm").classList.add("bad");
      return this.say(`“${$("bpm").value}” is no tempo: write the beats per minute, a number above 0 (120, 128.5).`, "error");
    }
    $("bpm").classList.remove("bad");
    const row = Math.round(this.playRow());
    const tempo = withTempo(this.model.tempo, row, bpm, here);
    const rps = this.model.rowsPerSecond;
    const at = tempo[Math.max(0, tempoIndexAt(tempo, row))].at;
    this.edit([{ tempo }], `tempo ${formatValue(bpm)} BPM from ${formatTime(at, rps)}`).then((done) => {
      if (done) $("bpm").value = "";
    });
  }

  // A show from anyone redraws the list; a rename under way there lives on in
  // the new list (its text, its caret, the focus) as long as its mark is
  // still there under the same name. A mark removed or renamed meanwhile takes
  // the rename with it: it would otherwise bring back a name someone dropped.
  renderMarks() {
    const rps = this.model.rowsPerSecond;
    const marks = this.model.show.marks || [];
    const renaming = this.renaming;
    const typed = renaming && {
      value: renaming.input.value,
      start: renaming.input.selectionStart,
      end: renaming.input.selectionEnd,
      direction: renaming.input.selectionDirection,
      focused: document.activeElement === renaming.input,
    };
    let reopen = null;
    const items = marks.map((m) => {
      const li = lineItem(formatTime(m.row, rps), m.name, () => this.seek(m.row));
      li.title = `row ${formatValue(m.row)}; double-click the name to rename`;
      li.querySelector(".what").addEventListener("dblclick", (e) => this.renameMark(m, e.target));
      li.append(smallButton("×", "remove this mark", () =>
        this.edit([{ mark: { row: m.row, name: m.name, delete: true } }], `mark “${m.name}” removed`)));
      if (renaming && m.row === renaming.mark.row && m.name === renaming.mark.name) reopen = { mark: m, li };
      return li;
    });
    // Some engines blur a focused field as it leaves the page; that blur is
    // the redraw's, not the user leaving the field.
    this.renaming = null;
    this.redrawingMarks = true;
    try {
      $("marks").replaceChildren(...items);
      if (!marks.length) $("marks").replaceChildren(note("No marks yet."));
    } finally {
      this.redrawingMarks = false;
    }
    renaming?.drop();
    if (reopen) {
      this.renameMark(reopen.mark, reopen.li.querySelector(".what"), typed);
    } else if (renaming) {
      this.say(`The mark “${renaming.mark.name}” was renamed or removed outside this page; the rename here is dropped.`, "warn");
      if (typed.focused) this.grid.root.focus({ preventScroll: true });
    }
  }

  addMark() {
    const name = $("mark-name").value.trim();
    const problem = markNameProblem(name);
    $("mark-name").classList.toggle("bad", !!problem);
    if (problem) return this.say(problem, "error");
    const row = Math.round(this.playRow());
    this.edit(markOps(this.model.show.marks || [], row, name), `mark “${name}” at ${formatTime(row, this.model.rowsPerSecond)}`)
      .then((done) => {
        if (!done) return;
        $("mark-name").value = "";
        this.grid.root.focus({ preventScroll: true });
      });
  }

  // The name turns into a field; Enter renames, Escape or leaving it keeps the name.
  // typed: what a field open before a redraw held ({value, start, end, direction, focused}).
  renameMark(mark, where, typed = null) {
    this.renaming?.drop();
    const input = document.createElement("input");
    input.type = "text";
    input.value = typed ? typed.value : mark.name;
    input.className = "rename";
    input.setAttribute("aria-label", "new name");
    where.replaceChildren(input);
    if (!typed) {
      input.focus();
      input.select();
    } else if (typed.focused) {
      input.focus({ preventScroll: true });
      input.setSelectionRange(typed.start, typed.end, typed.direction || "none");
    }
    let done = false;
    this.renaming = { mark, input, drop: () => { done = true; } };
    const finish = (commit) => {
      if (done || this.redrawingMarks) return;
      done = true;
      this.renaming = null;
      const name = input.value.trim();
      if (commit && name !== mark.name) {
        const problem = markNameProblem(name);
        if (problem) this.say(problem, "error");
        else this.edit(markOps(this.model.show.marks || [], mark.row, name), `mark “${mark.name}” renamed “${name}”`);
      }
      this.renderMarks();
      this.grid.root.focus({ preventScroll: true });
    };
    input.addEventListener("keydown", (e) => {
      e.stopPropagation();
      if (e.key === "Enter") finish(true);
      else if (e.key === "Escape") finish(false);
    });
    input.addEventListener("blur", () => finish(false));
  }

  renderControls() {
    const rps = this.model.rowsPerSecond;
    this.controlEvents = this.model.controlEvents();
    $("controls").replaceChildren(...this.controlEvents.map((ev) => {
      const li = document.createElement("li");
      const time = document.createElement("span");
      time.className = "when";
      time.textContent = formatTime(ev.row, rps);
      li.append(time, document.createTextNode(ev.text));
      li.title = `row ${ev.row}`;
      li.addEventListener("click", () => this.seek(ev.row));
      return li;
    }));
    this.activeControl = -2;
  }

  markControl(row) {
    const events = this.controlEvents || [];
    let i = -1;
    while (i + 1 < events.length && events[i + 1].row <= row) i++;
    if (i === this.activeControl) return;
    const items = $("controls").children;
    items[this.activeControl]?.classList.remove("now");
    items[i]?.classList.add("now");
    this.activeControl = i;
  }

  setErrors(errors) {
    this.errors = Array.isArray(errors) ? errors : errors?.errors || [];
    this.renderProblems();
  }

  renderProblems() {
    const list = [
      ...(this.errors || []).map((e) => ["error", typeof e === "string" ? e : e.message || JSON.stringify(e)]),
      ...(this.model?.show.warnings || []).map((w) => ["warn", typeof w === "string" ? w : w.message || JSON.stringify(w)]),
    ];
    $("problems").replaceChildren(...list.map(([cls, text]) => {
      const li = document.createElement("li");
      li.className = cls;
      li.textContent = text;
      return li;
    }));
    $("problems-title").textContent = (this.errors || []).length
      ? "Errors: the demo plays the last text that compiled" : "Errors and warnings";
    if (!list.length) $("problems").innerHTML = '<li class="ok">The text compiles cleanly.</li>';
  }

  say(text, level = "info") {
    const m = $("message");
    m.textContent = text;
    m.className = level;
  }

  bindControls() {
    const button = (id, fn) => {
      $(id).addEventListener("mousedown", (e) => e.preventDefault()); // keep the keys for the grid
      $(id).addEventListener("click", fn);
    };
    button("play", () => this.togglePlay());
    button("undo", () => this.history(false));
    button("redo", () => this.history(true));
    button("clear-loop", () => this.transport({ loop: null }));
    button("insert-row", () => this.shiftRows(1));
    button("delete-row", () => this.shiftRows(-1));
    button("whole", () => this.view.set(0, this.lastViewRow(), this.lastViewRow()));
    $("tempo-form").addEventListener("submit", (e) => { e.preventDefault(); this.setTempo(false); });
    button("tempo-here", () => this.setTempo(true));
    button("take-detected", () => this.takeDetected());
    $("mark-form").addEventListener("submit", (e) => { e.preventDefault(); this.addMark(); });
    for (const id of ["bpm", "mark-name"]) {
      $(id).addEventListener("keydown", (e) => {
        e.stopPropagation();
        if (e.key === "Escape") this.grid.root.focus({ preventScroll: true });
      });
    }
    $("scrub-audio").addEventListener("change", (e) => { this.transport({ scrubAudio: e.target.checked }); e.target.blur(); });
    for (const id of ["follow", "snap"]) $(id).addEventListener("change", (e) => e.target.blur());
    $("jump").addEventListener("keydown", (e) => {
      e.stopPropagation();
      if (e.key === "Enter") {
        this.jump(e.target.value);
        this.grid.root.focus({ preventScroll: true });
      } else if (e.key === "Escape") {
        this.grid.root.focus({ preventScroll: true });
      }
    });
  }

  togglePlay() {
    if (!this.state) return;
    this.transport(this.state.paused || this.state.held ? { play: true } : { pause: true });
  }

  modifiers(e) {
    const held = [e.ctrlKey || e.metaKey ? "Control" : "", e.altKey ? "Alt" : "", e.shiftKey ? "Shift" : ""].filter(Boolean);
    const key = held.join("+");
    $("hints").textContent = HINTS[key] ?? HINTS[held[0]] ?? HINTS[""];
  }

  bindKeys() {
    window.addEventListener("keyup", (e) => this.modifiers(e));
    window.addEventListener("blur", () => this.modifiers({}));
    window.addEventListener("keydown", (e) => {
      this.modifiers(e);
      if (!this.model || !$("refusal").hidden) return;
      const target = e.target;
      if (target instanceof HTMLInputElement && target.type === "text") return;
      if (this.key(e)) e.preventDefault();
    });
  }

  // One key press; true when the page used it.
  key(e) {
    const ctrl = e.ctrlKey || e.metaKey;
    const rps = this.model.rowsPerSecond;
    const k = e.key.length === 1 ? e.key.toLowerCase() : e.key;
    const { track, row } = this.grid.cursor;
    if (ctrl) {
      switch (k) {
        case "z": this.history(e.shiftKey); return true;
        case "y": this.history(true); return true;
        case "a": this.grid.selectAll(); return true;
        case "c": this.copy(); return true;
        case "v": this.paste(); return true;
        case "ArrowUp": this.grid.setCursor(track, row - 1); return true;
        case "ArrowDown": this.grid.setCursor(track, row + 1); return true;
        case "ArrowLeft": this.grid.setCursor(track - 1, row); return true;
        case "ArrowRight": this.grid.setCursor(track + 1, row); return true;
        case "Delete": this.shiftRows(-1); return true;
        default: return false;
      }
    }
    if (e.altKey) {
      if (k === "ArrowUp" || k === "ArrowDown") {
        const by = e.shiftKey ? this.beat() : 1;
        this.moveKeys(k === "ArrowUp" ? -by : by);
        return true;
      }
      return false;
    }
    switch (k) {
      case " ": this.togglePlay(); return true;
      case "ArrowLeft": this.seek(this.playRow() - rps); return true;
      case "ArrowRight": this.seek(this.playRow() + rps); return true;
      case "ArrowDown": this.seek(this.playRow() - 10 * rps); return true;
      case "ArrowUp": this.seek(this.playRow() + 10 * rps); return true;
      case "Home": this.seek(0); return true;
      case "k": this.cycleKinds(); return true;
      case "m": $("mark-name").focus(); return true;
      case "Delete": case "Backspace": this.deleteKeys(); return true;
      case "Insert": this.shiftRows(e.shiftKey ? this.beat() : 1); return true;
      case "Enter": this.grid.openEditor(this.grid.valueText(track, row)); return true;
      case "Escape": this.grid.selection.clear(); this.grid.render(true); return true;
      default:
        if (/^[0-9.\-]$/.test(k)) {
          this.grid.openEditor(k);
          return true;
        }
        return false;
    }
  }
}

// A line of the side panel: a time that seeks there, and what is there.
function lineItem(when, what, seek) {
  const li = document.createElement("li");
  const time = document.createElement("span");
  time.className = "when";
  time.textContent = when;
  const text = document.createElement("span");
  text.className = "what";
  text.textContent = what;
  li.append(time, text);
  time.addEventListener("click", seek);
  text.addEventListener("click", seek);
  return li;
}

function smallButton(text, title, fn) {
  const b = document.createElement("button");
  b.className = "small";
  b.type = "button";
  b.textContent = text;
  b.title = title;
  b.addEventListener("mousedown", (e) => e.preventDefault());
  b.addEventListener("click", (e) => { e.stopPropagation(); fn(); });
  return b;
}

function note(text) {
  const li = document.createElement("li");
  li.className = "none";
  li.textContent = text;
  return li;
}

// A new token pasted into the address bar only changes the hash: start over with it.
window.addEventListener("hashchange", () => location.reload());

const studio = new Studio();
window.studio = studio; // for a look from the browser's console
studio.start();
