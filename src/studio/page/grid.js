// The key grid: rows down, the tracks across, as in the track text. Only the
// rows in sight (and a few either side) exist in the DOM: a pool of row
// elements is refilled as the grid scrolls, so that a show of ten thousand
// keys scrolls and follows playback as lightly as one of ten.

import { beatRows, formatTime, formatValue, kindLetter } from "./model.js";

const ROW_HEIGHT = 18;
const LABEL_WIDTH = 118;
const OVERSCAN = 12;

export const cellId = (track, row) => `${track}:${row}`;

export class KeyGrid {
  // actions: {seek(row), moveKeys(delta), enterValue(track, row, text), cursorMoved()}
  constructor(root, actions) {
    this.root = root;
    this.actions = actions;
    this.model = null;
    this.selection = new Set();
    this.changed = new Set(); // "name:row" of keys changed from outside, shown for a while
    this.cursor = { track: 0, row: 0 };
    this.playRow = 0;
    this.dragDelta = 0;
    this.pool = [];
    this.cellWidth = 80;

    root.classList.add("grid");
    root.tabIndex = 0;
    this.head = el("div", "grid-head");
    this.space = el("div", "grid-space");
    this.playhead = el("div", "grid-playhead");
    this.box = el("div", "grid-box");
    this.editor = el("input", "grid-editor");
    this.editor.type = "text";
    this.editor.spellcheck = false;
    this.editor.setAttribute("aria-label", "key value");
    this.space.append(this.playhead, this.box, this.editor);
    root.append(this.head, this.space);

    root.addEventListener("scroll", () => this.render(false));
    new ResizeObserver(() => this.layout()).observe(root);
    this.space.addEventListener("mousedown", (e) => this.mouseDown(e));
    this.space.addEventListener("dblclick", (e) => {
      const hit = this.hit(e);
      if (hit.track >= 0) this.openEditor(this.valueText(hit.track, hit.row));
    });
    this.editor.addEventListener("keydown", (e) => this.editorKey(e));
    this.editor.addEventListener("blur", () => this.closeEditor());
  }

  setShow(model) {
    const first = !this.model;
    this.model = model;
    // Beat and bar rows, and marks, as flags per row for the row fill.
    const count = model.rowCount;
    this.rowFlags = new Uint8Array(count);
    const beats = beatRows(model.tempo, model.rowsPerSecond, 0, count);
    for (const b of beats) if (b.row >= 0 && b.row < count) this.rowFlags[b.row] |= b.bar ? 3 : 1;
    this.marks = new Map((model.show.marks || []).map((m) => [Math.round(m.row), m.name]));
    for (const id of [...this.selection]) {
      const [t, r] = id.split(":").map(Number);
      if (!model.key(t, r)) this.selection.delete(id);
    }
    this.space.style.height = `${count * ROW_HEIGHT}px`;
    this.head.replaceChildren(el("div", "grid-corner", "row"), ...model.tracks.map((t) => el("div", "grid-th", t.name)));
    if (first) this.layout();
    else this.render(true);
  }

  layout() {
    if (!this.model) return;
    const n = this.model.tracks.length;
    this.cellWidth = Math.max(64, Math.floor((this.root.clientWidth - LABEL_WIDTH - 2) / n));
    this.root.style.setProperty("--cell-w", `${this.cellWidth}px`);
    this.root.style.setProperty("--label-w", `${LABEL_WIDTH}px`);
    this.root.style.setProperty("--row-h", `${ROW_HEIGHT}px`);
    this.root.style.setProperty("--track-count", String(n));
    const size = Math.ceil(this.root.clientHeight / ROW_HEIGHT) + 2 * OVERSCAN + 2;
    if (size !== this.pool.length) {
      for (const row of this.pool) row.remove();
      this.pool = [];
      for (let i = 0; i < size; i++) {
        const row = el("div", "grid-row");
        row.append(el("div", "rl"));
        for (let t = 0; t < n; t++) {
          const c = el("div", "c");
          c.append(el("span", "v"), el("span", "k"));
          row.append(c);
        }
        row._row = -1;
        this.pool.push(row);
      }
      this.space.prepend(...this.pool);
    }
    this.render(true);
  }

  // Refills the rows in sight; with force, every one, else only rows that
  // came into sight since the last call.
  render(force) {
    if (!this.model || !this.pool.length) return;
    const first = Math.max(0, Math.floor(this.root.scrollTop / ROW_HEIGHT) - OVERSCAN);
    const last = Math.min(this.model.rowCount - 1, first + this.pool.length - 1);
    for (let r = first; r <= last; r++) {
      const row = this.pool[r % this.pool.length];
      if (force || row._row !== r) this.fillRow(row, r);
    }
    this.placeOverlays();
  }

  fillRow(row, r) {
    row._row = r;
    row.dataset.row = r;
    row.style.transform = `translateY(${r * ROW_HEIGHT}px)`;
    const flags = this.rowFlags[r] || 0;
    const mark = this.marks.get(r);
    row.className = `grid-row${flags & 2 ? " bar" : flags & 1 ? " beat" : ""}${mark !== undefined ? " marked" : ""}`;
    const label = row.firstChild;
    label.textContent = mark !== undefined ? `${r} ${mark}` : flags & 2 ? `${r}  ${formatTime(r, this.model.rowsPerSecond)}` : String(r);
    label.title = formatTime(r, this.model.rowsPerSecond);
    const tracks = this.model.tracks;
    let cell = label.nextSibling;
    for (let t = 0; t < tracks.length; t++, cell = cell.nextSibling) {
      const shown = this.shownKey(t, r);
      const id = cellId(t, r);
      let cls = "c";
      if (shown) {
        const { key, moving } = shown;
        cls += ` key k-${typeof key.kind === "string" ? key.kind : "other"}`;
        if (moving) cls += " moving";
        else if (this.selection.has(id)) cls += " sel";
        if (this.changed.has(`${tracks[t].name}:${r}`)) cls += " changed";
        cell.firstChild.textContent = formatValue(key.value);
        cell.lastChild.textContent = kindLetter(key.kind);
      } else {
        // Between a key that moves the value and the next one: a thin line,
        // as the value changes on every one of these rows.
        const i = this.model.keyIndexAtOrBefore(t, r);
        const keys = tracks[t].keys;
        if (i >= 0 && i + 1 < keys.length && keys[i].kind !== "step") cls += " run";
        cell.firstChild.textContent = "";
        cell.lastChild.textContent = "";
      }
      if (this.cursor.track === t && this.cursor.row === r) cls += " cur";
      cell.className = cls;
    }
  }

  // The key drawn at a cell: while selected keys are dragged they show at
  // their new rows and the keys they leave are gone.
  shownKey(t, r) {
    if (this.dragDelta) {
      const from = this.model.key(t, r - this.dragDelta);
      if (from && this.selection.has(cellId(t, r - this.dragDelta))) return { key: from, moving: true };
      const here = this.model.key(t, r);
      return here && !this.selection.has(cellId(t, r)) ? { key: here, moving: false } : null;
    }
    const key = this.model.key(t, r);
    return key ? { key, moving: false } : null;
  }

  placeOverlays() {
    this.playhead.style.transform = `translateY(${Math.floor(this.playRow) * ROW_HEIGHT}px)`;
    if (this.editor.classList.contains("open")) this.placeEditor();
  }

  // The playing row; with follow, the grid scrolls to keep it in sight.
  setPlayRow(row, follow) {
    this.playRow = row;
    this.playhead.style.transform = `translateY(${Math.floor(row) * ROW_HEIGHT}px)`;
    if (follow && !this.dragging) {
      const target = Math.max(0, row * ROW_HEIGHT - this.root.clientHeight * 0.4);
      if (Math.abs(this.root.scrollTop - target) >= 1) this.root.scrollTop = target;
    }
  }

  scrollToRow(row) {
    const top = row * ROW_HEIGHT;
    const view = this.root.scrollTop;
    const height = this.root.clientHeight - ROW_HEIGHT * 2;
    if (top < view || top > view + height) this.root.scrollTop = Math.max(0, top - height / 2);
  }

  setCursor(track, row) {
    const n = this.model.tracks.length;
    this.cursor = { track: Math.min(n - 1, Math.max(0, track)), row: Math.min(this.model.rowCount - 1, Math.max(0, row)) };
    this.scrollToRow(this.cursor.row);
    this.render(true);
    this.actions.cursorMoved?.();
  }

  selectAll() {
    this.selection.clear();
    this.model.tracks.forEach((t, i) => t.keys.forEach((k) => this.selection.add(cellId(i, k.row))));
    this.render(true);
  }

  // The selected keys as {track, row, key}; the key under the cursor when none are.
  selectedKeys() {
    const out = [];
    for (const id of this.selection) {
      const [t, r] = id.split(":").map(Number);
      const key = this.model.key(t, r);
      if (key) out.push({ track: t, row: r, key });
    }
    if (!out.length) {
      const key = this.model.key(this.cursor.track, this.cursor.row);
      if (key) out.push({ track: this.cursor.track, row: this.cursor.row, key });
    }
    return out;
  }

  valueText(track, row) {
    const key = this.model.key(track, row);
    return key ? formatValue(key.value) : "";
  }

  hit(e) {
    const rect = this.space.getBoundingClientRect();
    const x = e.clientX - rect.left - LABEL_WIDTH;
    const row = Math.max(0, Math.floor((e.clientY - rect.top) / ROW_HEIGHT));
    const track = x < 0 ? -1 : Math.min(this.model.tracks.length - 1, Math.floor(x / this.cellWidth));
    return { track, row };
  }

  mouseDown(e) {
    if (e.button !== 0 || !this.model || e.target === this.editor) return;
    e.preventDefault();
    this.root.focus({ preventScroll: true });
    const start = this.hit(e);
    if (start.track < 0) {
      this.actions.seek(start.row);
      return;
    }
    const startId = cellId(start.track, start.row);
    const additive = e.shiftKey || e.ctrlKey || e.metaKey;
    const onSelected = this.selection.has(startId) && this.model.key(start.track, start.row) && !additive;
    this.cursor = { track: start.track, row: start.row };
    this.actions.cursorMoved?.();
    const before = additive ? new Set(this.selection) : new Set();
    if (!onSelected) {
      this.selection = new Set(before);
      if (this.model.key(start.track, start.row)) {
        if (e.ctrlKey && before.has(startId)) this.selection.delete(startId);
        else this.selection.add(startId);
      }
    }
    this.dragging = true;
    this.render(true);

    let lowest = Infinity;
    if (onSelected) for (const id of this.selection) lowest = Math.min(lowest, Number(id.split(":")[1]));
    const move = (ev) => {
      const now = this.hit(ev);
      if (onSelected) {
        // Dragging selected keys: they move together, never above row 0.
        const delta = Math.max(-lowest, now.row - start.row);
        if (delta !== this.dragDelta) {
          this.dragDelta = delta;
          this.render(true);
        }
        return;
      }
      const t0 = Math.min(start.track, Math.max(0, now.track));
      const t1 = Math.max(start.track, Math.max(0, now.track));
      const r0 = Math.min(start.row, now.row);
      const r1 = Math.max(start.row, now.row);
      this.box.style.cssText = `display:block;left:${LABEL_WIDTH + t0 * this.cellWidth}px;top:${r0 * ROW_HEIGHT}px;` +
        `width:${(t1 - t0 + 1) * this.cellWidth}px;height:${(r1 - r0 + 1) * ROW_HEIGHT}px`;
      this.selection = new Set(before);
      for (let t = t0; t <= t1; t++) {
        const keys = this.model.tracks[t].keys;
        for (let i = Math.max(0, this.model.keyIndexAtOrBefore(t, r0 - 1) + 1); i < keys.length && keys[i].row <= r1; i++)
          this.selection.add(cellId(t, keys[i].row));
      }
      this.render(true);
    };
    const up = () => {
      window.removeEventListener("mousemove", move);
      window.removeEventListener("mouseup", up);
      this.dragging = false;
      this.box.style.display = "none";
      const delta = this.dragDelta;
      this.dragDelta = 0;
      if (delta) this.actions.moveKeys(delta);
      else this.render(true);
    };
    window.addEventListener("mousemove", move);
    window.addEventListener("mouseup", up);
  }

  openEditor(text) {
    this.editor.value = text;
    this.editor.classList.add("open");
    this.placeEditor();
    this.editor.focus();
    this.editor.setSelectionRange(text.length, text.length);
  }

  placeEditor() {
    const s = this.editor.style;
    s.left = `${LABEL_WIDTH + this.cursor.track * this.cellWidth}px`;
    s.top = `${this.cursor.row * ROW_HEIGHT}px`;
    s.width = `${this.cellWidth}px`;
    s.height = `${ROW_HEIGHT}px`;
  }

  get editing() {
    return this.editor.classList.contains("open");
  }

  closeEditor() {
    if (!this.editing) return;
    this.editor.classList.remove("open");
    this.root.focus({ preventScroll: true });
  }

  editorKey(e) {
    e.stopPropagation();
    if (e.key === "Escape") {
      e.preventDefault();
      this.closeEditor();
    } else if (e.key === "Enter" || e.key === "Tab") {
      e.preventDefault();
      const text = this.editor.value.trim();
      const { track, row } = this.cursor;
      this.closeEditor();
      if (text !== "") this.actions.enterValue(track, row, text);
      if (e.key === "Tab") this.setCursor(track + (e.shiftKey ? -1 : 1), row);
    }
  }
}

function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}
