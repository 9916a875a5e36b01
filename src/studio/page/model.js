// The show as the page works with it: the API's show plus indexes for looking
// keys up by row, the beat grid from the tempo lines, and the ways times are
// written (m:ss.ff, seconds, rROW), as the demo's --from takes them.

export const KINDS = ["step", "linear", "smooth", "ramp"];

// The next kind for the "cycle" key; any other kind byte goes back to step.
export function nextKind(kind) {
  const i = KINDS.indexOf(kind);
  return i < 0 ? "step" : KINDS[(i + 1) % KINDS.length];
}

export function kindLetter(kind) {
  const i = KINDS.indexOf(kind);
  return i < 0 ? String(kind) : ["S", "L", "~", "R"][i];
}

// A key's value written briefly: values are single-precision, so seven
// significant digits say all there is without float noise (0.1, not 0.100000001).
export function formatValue(v) {
  if (!Number.isFinite(v)) return String(v);
  return String(Number(v.toPrecision(7)));
}

export function formatTime(row, rowsPerSecond) {
  const total = Math.max(0, row) / rowsPerSecond;
  const minutes = Math.floor(total / 60);
  const seconds = total - minutes * 60;
  return `${minutes}:${seconds.toFixed(2).padStart(5, "0")}`;
}

// "1:05.2", "65", "65.5" or "r1230" to a row; null when it is none of these.
export function parseTime(text, rowsPerSecond) {
  const t = text.trim();
  let m = /^r(\d+(?:\.\d+)?)$/i.exec(t);
  if (m) return Number(m[1]);
  m = /^(?:(\d+):)?(\d+(?:\.\d*)?)$/.exec(t);
  if (!m) return null;
  if (m[1] !== undefined && Number(m[2]) >= 60) return null;
  const seconds = (m[1] ? Number(m[1]) * 60 : 0) + Number(m[2]);
  return Math.round(seconds * rowsPerSecond * 1000) / 1000;
}

// The beats from the tempo lines between two rows: each line lays a beat every
// 60/BPM seconds from its row on, the first on that row, up to the next line.
// Beat n lands on its rounded row (README, "On the beat"). Every fourth beat
// of a line starts a bar.
export function beatRows(tempo, rowsPerSecond, from, to) {
  const out = [];
  for (let i = 0; i < tempo.length; i++) {
    const { bpm, at } = tempo[i];
    const end = Math.min(to, i + 1 < tempo.length ? tempo[i + 1].at : Infinity);
    if (!(bpm > 0)) continue;
    const length = (rowsPerSecond * 60) / bpm;
    let n = Math.max(0, Math.floor((from - at) / length));
    for (; ; n++) {
      const row = at + n * length;
      if (row >= end) break;
      if (row >= from - 0.5) out.push({ row: Math.round(row), exact: row, bar: n % 4 === 0 });
    }
  }
  return out;
}

// The index of the tempo line in force at a row: the last one at or before
// it (the first when the row comes before them all); -1 without lines.
export function tempoIndexAt(tempo, row) {
  let index = tempo.length ? 0 : -1;
  tempo.forEach((t, i) => { if (t.at <= row) index = i; });
  return index;
}

// The tempo lines after setting BPM at a row. "here" makes a tempo change
// on that row (replacing one within half a row of it); otherwise the line in
// force there takes the new BPM, or, in a text without tempo lines, the
// first line starts the beats at 0:00. Lines stay in time order, as the text
// must have them.
export function withTempo(tempo, row, bpm, here) {
  const lines = tempo.map((t) => ({ bpm: t.bpm, at: t.at }));
  if (!lines.length) return [{ bpm, at: here ? row : 0 }];
  if (here) {
    const kept = lines.filter((t) => Math.abs(t.at - row) >= 0.5);
    kept.push({ bpm, at: row });
    return kept.sort((a, b) => a.at - b.at);
  }
  lines[tempoIndexAt(lines, row)].bpm = bpm;
  return lines;
}

// A BPM typed by the user, or null: a plain number above 0, as the text takes it.
export function parseBpm(text) {
  const t = text.trim().replace(",", ".");
  if (!/^\d+(\.\d*)?$|^\.\d+$/.test(t)) return null;
  const bpm = Number(t);
  return bpm > 0 && bpm < 100000 ? bpm : null;
}

// Why a mark's name cannot be written to the text, or null when it can: the
// name runs to the end of its line, and a "#" would start a comment there.
export function markNameProblem(name) {
  if (!name.trim()) return "A mark needs a name.";
  if (name.includes("#")) return "A mark's name cannot hold “#”, which starts a comment in the text.";
  if (/[\u0000-\u001f\u007f]/.test(name)) return "A mark's name is one line of plain text.";
  return null;
}

// The edit that names the mark at a row: a new mark, or the one already on
// that row renamed (removed and added back in one step of undo).
export function markOps(marks, row, name) {
  const ops = [];
  for (const m of marks) if (Math.abs(m.row - row) < 0.5) ops.push({ mark: { row: m.row, name: m.name, delete: true } });
  ops.push({ mark: { row, name } });
  return ops;
}

// The length in rows of a beat at a row (10 at 120 BPM), for moves "by a beat".
export function beatLength(tempo, rowsPerSecond, row) {
  let bpm = 120;
  for (const t of tempo) if (t.at <= row || t === tempo[0]) bpm = t.bpm;
  return Math.max(1, Math.round((rowsPerSecond * 60) / bpm));
}

// The show with per-track lookups. Keys are ascending by row in each track.
export class ShowModel {
  constructor(show) {
    this.show = show;
    this.version = show.version;
    this.rowsPerSecond = show.rowsPerSecond || 20;
    this.tracks = show.tracks.map((t) => ({
      name: t.name,
      keys: t.keys,
      rows: Int32Array.from(t.keys, (k) => k.row),
      byRow: new Map(t.keys.map((k) => [k.row, k])),
    }));
    this.trackIndex = new Map(this.tracks.map((t, i) => [t.name, i]));
    this.controls = new Map((show.controls || []).map((c) => [Number(c.code), c.label]));
    let last = 0;
    for (const t of this.tracks) if (t.rows.length) last = Math.max(last, t.rows[t.rows.length - 1]);
    this.lastKeyRow = last;
    this.tempo = (show.tempo && show.tempo.length ? show.tempo : []).slice().sort((a, b) => a.at - b.at);
  }

  get keyCount() {
    return this.tracks.reduce((n, t) => n + t.keys.length, 0);
  }

  // The rows the grid offers: past the music's end (or the last key) by a few bars.
  get rowCount() {
    return Math.max(this.show.endRow ?? 0, this.lastKeyRow) + 400;
  }

  key(track, row) {
    return this.tracks[track]?.byRow.get(row);
  }

  // The index of the last key at or before row, -1 when none.
  keyIndexAtOrBefore(track, row) {
    const rows = this.tracks[track].rows;
    let lo = 0;
    let hi = rows.length;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (rows[mid] <= row) lo = mid + 1;
      else hi = mid;
    }
    return lo - 1;
  }

  // The control track's keys as the events they cause: "7: C vorn.gif in".
  controlEvents() {
    const t = this.trackIndex.get("control");
    if (t === undefined) return [];
    return this.tracks[t].keys.map((k) => {
      const code = Math.trunc(k.value);
      const label = this.controls.get(code);
      // A code the demo names nothing for draws no plane (README, control codes).
      return { row: k.row, code, text: `${code}: ${label ?? "no plane"}` };
    });
  }
}

// What differs between two shows, track by track: "back.x 2 keys". For telling
// the user what a save from outside changed under them.
export function describeChanges(before, after) {
  const parts = [];
  const changed = [];
  for (const t of after.tracks) {
    const old = before.tracks[before.trackIndex.get(t.name)];
    let n = 0;
    for (const k of t.keys) {
      const o = old?.byRow.get(k.row);
      if (!o || o.value !== k.value || o.kind !== k.kind) {
        n++;
        changed.push(`${t.name}:${k.row}`);
      }
    }
    if (old) for (const k of old.keys) if (!t.byRow.has(k.row)) n++;
    if (n) parts.push(`${t.name} ${n} key${n > 1 ? "s" : ""}`);
  }
  return { text: parts.join(", "), changed };
}

// The stretch of the show the waveform and the curve lanes show, in rows,
// shared so that a row is at the same x in both.
export class TimelineView {
  constructor() {
    this.from = 0;
    this.to = 2640;
    this.listeners = [];
  }

  onChange(fn) {
    this.listeners.push(fn);
  }

  set(from, to, limit = Infinity) {
    const span = Math.min(Math.max(20, to - from), limit);
    from = Math.max(0, Math.min(from, limit - span));
    if (from === this.from && from + span === this.to) return;
    this.from = from;
    this.to = from + span;
    for (const fn of this.listeners) fn();
  }

  x(row, width) {
    return ((row - this.from) / (this.to - this.from)) * width;
  }

  row(x, width) {
    return this.from + (x / width) * (this.to - this.from);
  }

  // Wheel over a lane: zoom about the pointer, or pan with a sideways wheel or Shift.
  wheel(e, width, limit) {
    e.preventDefault();
    const span = this.to - this.from;
    if (e.shiftKey || Math.abs(e.deltaX) > Math.abs(e.deltaY)) {
      const d = (e.shiftKey ? e.deltaY : e.deltaX) || 0;
      this.set(this.from + (d / width) * span, this.to + (d / width) * span, limit);
      return;
    }
    const at = this.row(e.offsetX, width);
    const factor = Math.exp(Math.sign(e.deltaY) * Math.min(0.5, Math.abs(e.deltaY) / 300));
    this.set(at - (at - this.from) * factor, at + (this.to - at) * factor, limit);
  }
}

// A canvas that fills its box in device pixels; returns the 2D context scaled
// to CSS pixels, and the size in CSS pixels.
export function fitCanvas(canvas) {
  const ratio = window.devicePixelRatio || 1;
  const width = canvas.clientWidth;
  const height = canvas.clientHeight;
  if (canvas.width !== Math.round(width * ratio) || canvas.height !== Math.round(height * ratio)) {
    canvas.width = Math.round(width * ratio);
    canvas.height = Math.round(height * ratio);
  }
  const g = canvas.getContext("2d");
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  return { g, width, height };
}
