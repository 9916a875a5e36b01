// Curve lanes: the chosen tracks as the demo evaluates them (/api/curve, so
// the line is what the demo will draw), with their keys marked by kind as in
// demotool's plots. A key dragged moves in row and value; with snapping on
// (or Shift held, which turns it the other way) its row lands on a beat.

import { beatRows, fitCanvas, formatValue } from "./model.js";

const HIT = 7; // px around a key that picks it up

export class CurveLanes {
  // actions: {edit(ops, what), seek(row), snap() -> bool, limit()}
  constructor(chips, lanes, api, view, actions) {
    this.chips = chips;
    this.lanesRoot = lanes;
    this.api = api;
    this.view = view;
    this.actions = actions;
    this.model = null;
    this.lanes = [];
    this.loop = null;
    this.playRow = 0;
    try {
      this.chosen = JSON.parse(localStorage.getItem("studio.curves")) || null;
    } catch (e) {
      this.chosen = null;
    }
    this.playhead = document.createElement("div");
    this.playhead.className = "playhead";
    lanes.append(this.playhead);
    view.onChange(() => this.refetch());
    new ResizeObserver(() => this.refetch()).observe(lanes);
  }

  setShow(model) {
    const names = model.tracks.map((t) => t.name);
    if (!this.chosen) this.chosen = names.filter((n) => ["back.x", "scroll.y"].includes(n));
    this.chosen = this.chosen.filter((n) => names.includes(n));
    if (!this.model || this.model.tracks.map((t) => t.name).join() !== names.join()) this.buildChips(names);
    this.model = model;
    this.buildLanes();
    this.refetch();
  }

  buildChips(names) {
    this.chips.replaceChildren(
      ...names.map((name) => {
        const chip = document.createElement("button");
        chip.className = "chip";
        chip.textContent = name;
        chip.classList.toggle("on", this.chosen.includes(name));
        chip.addEventListener("click", () => {
          this.chosen = this.chosen.includes(name) ? this.chosen.filter((n) => n !== name) : [...this.chosen, name];
          chip.classList.toggle("on", this.chosen.includes(name));
          localStorage.setItem("studio.curves", JSON.stringify(this.chosen));
          this.buildLanes();
          this.refetch();
        });
        return chip;
      }));
  }

  buildLanes() {
    const order = this.model.tracks.map((t) => t.name).filter((n) => this.chosen.includes(n));
    if (order.join() === this.lanes.map((l) => l.name).join()) return;
    for (const lane of this.lanes) lane.root.remove();
    this.lanes = order.map((name) => {
      const root = document.createElement("div");
      root.className = "curve-lane";
      const canvas = document.createElement("canvas");
      const label = document.createElement("div");
      label.className = "lane-label";
      root.append(canvas, label);
      this.lanesRoot.insertBefore(root, this.playhead);
      const lane = { name, root, canvas, label, values: null, seq: 0, drag: null };
      canvas.addEventListener("mousedown", (e) => this.mouseDown(lane, e));
      canvas.addEventListener("mousemove", (e) => {
        if (!lane.drag) canvas.style.cursor = this.keyNear(lane, e) ? "grab" : "crosshair";
      });
      canvas.addEventListener("wheel", (e) => this.view.wheel(e, canvas.clientWidth, this.actions.limit()), { passive: false });
      return lane;
    });
    this.lanesRoot.classList.toggle("empty", !this.lanes.length);
  }

  setLoop(loop) {
    if (JSON.stringify(loop) === JSON.stringify(this.loop)) return;
    this.loop = loop;
    for (const lane of this.lanes) this.draw(lane);
  }

  setPlayRow(row) {
    this.playRow = row;
    const x = this.view.x(row, this.lanesRoot.clientWidth);
    this.playhead.style.transform = `translateX(${Math.round(x)}px)`;
  }

  refetch() {
    if (!this.model) return;
    this.setPlayRow(this.playRow);
    for (const lane of this.lanes) this.draw(lane);
    clearTimeout(this.timer);
    this.timer = setTimeout(() => this.lanes.forEach((lane) => this.fetch(lane)), 40);
  }

  async fetch(lane) {
    const seq = ++lane.seq;
    const width = Math.max(1, lane.canvas.clientWidth);
    const from = Math.floor(this.view.from);
    const to = Math.ceil(this.view.to);
    const step = Math.max(0.05, (to - from) / width);
    try {
      const data = await this.api.curve(lane.name, from, to, step);
      if (seq !== lane.seq) return;
      lane.values = { from, step, values: data.values || [], version: this.model.version };
    } catch (e) {
      if (seq !== lane.seq) return;
      lane.values = null;
      lane.error = e.message;
    }
    this.draw(lane);
  }

  // The vertical scale: the range of the curve and of the keys in view, padded.
  range(lane, keys) {
    let lo = Infinity;
    let hi = -Infinity;
    for (const v of lane.values?.values || []) if (Number.isFinite(v)) { lo = Math.min(lo, v); hi = Math.max(hi, v); }
    for (const k of keys) { lo = Math.min(lo, k.value); hi = Math.max(hi, k.value); }
    if (!Number.isFinite(lo)) { lo = 0; hi = 1; }
    if (hi - lo < 1e-6) { lo -= 1; hi += 1; }
    const pad = (hi - lo) * 0.12;
    return [lo - pad, hi + pad];
  }

  keysInView(lane) {
    const t = this.model.trackIndex.get(lane.name);
    return this.model.tracks[t].keys.filter((k) => k.row >= this.view.from - 1 && k.row <= this.view.to + 1);
  }

  draw(lane) {
    const { g, width, height } = fitCanvas(lane.canvas);
    g.fillStyle = "#161a20";
    g.fillRect(0, 0, width, height);
    if (!this.model) return;
    const x = (row) => this.view.x(row, width);
    const keys = this.keysInView(lane);
    const [lo, hi] = lane.drag?.range || this.range(lane, keys);
    lane.scale = { lo, hi, width, height };
    const y = (v) => height - 3 - ((v - lo) / (hi - lo)) * (height - 6);

    if (this.loop) {
      g.fillStyle = "rgba(90, 160, 255, 0.10)";
      g.fillRect(x(this.loop[0]), 0, x(this.loop[1]) - x(this.loop[0]), height);
    }
    for (const b of beatRows(this.model.tempo, this.model.rowsPerSecond, this.view.from, this.view.to)) {
      g.fillStyle = b.bar ? "rgba(255,255,255,0.10)" : "rgba(255,255,255,0.04)";
      g.fillRect(Math.round(x(b.row)), 0, 1, height);
    }
    if (lo < 0 && hi > 0) {
      g.fillStyle = "rgba(255,255,255,0.18)";
      g.fillRect(0, Math.round(y(0)), width, 1);
    }

    if (lane.values && !lane.drag) {
      const { from, step, values } = lane.values;
      g.strokeStyle = "#7cc4ff";
      g.lineWidth = 1.5;
      g.beginPath();
      values.forEach((v, i) => {
        const px = x(from + i * step);
        if (i === 0) g.moveTo(px, y(v));
        else g.lineTo(px, y(v));
      });
      g.stroke();
    } else if (lane.drag) {
      // While dragging, the keys joined straight, the demo's curve comes with the drop.
      g.strokeStyle = "rgba(124, 196, 255, 0.5)";
      g.beginPath();
      this.dragKeys(lane, keys).forEach((k, i) => (i ? g.lineTo(x(k.row), y(k.value)) : g.moveTo(x(k.row), y(k.value))));
      g.stroke();
    }

    for (const k of this.dragKeys(lane, keys)) marker(g, x(k.row), y(k.value), k.kind, k === lane.drag?.moved);
    lane.label.textContent = `${lane.name}  ${formatValue(lo)} … ${formatValue(hi)}`;
  }

  // The keys as drawn: the dragged one at its new place.
  dragKeys(lane, keys) {
    const d = lane.drag;
    if (!d || !d.moved) return keys;
    return keys.filter((k) => k !== d.key).concat(d.moved).sort((a, b) => a.row - b.row);
  }

  keyNear(lane, e) {
    if (!lane.scale) return null;
    const { lo, hi, width, height } = lane.scale;
    let best = null;
    let bestDistance = HIT;
    for (const k of this.keysInView(lane)) {
      const dx = this.view.x(k.row, width) - e.offsetX;
      const dy = height - 3 - ((k.value - lo) / (hi - lo)) * (height - 6) - e.offsetY;
      const d = Math.hypot(dx, dy);
      if (d <= bestDistance) { best = k; bestDistance = d; }
    }
    return best;
  }

  mouseDown(lane, e) {
    if (e.button !== 0) return;
    e.preventDefault();
    const key = this.keyNear(lane, e);
    if (!key) {
      this.actions.seek(Math.max(0, Math.round(this.view.row(e.offsetX, lane.canvas.clientWidth))));
      return;
    }
    const { lo, hi, width, height } = lane.scale;
    lane.drag = { key, moved: null, range: [lo, hi] };
    const rect = lane.canvas.getBoundingClientRect();
    // Values round to about a thousandth of the lane's range, rows to whole rows.
    const quantum = 10 ** Math.floor(Math.log10((hi - lo) / 1000));
    const move = (ev) => {
      let row = Math.max(0, Math.round(this.view.row(ev.clientX - rect.left, width)));
      if (this.actions.snap() !== ev.shiftKey) row = this.nearestBeat(row);
      const value = Number((Math.round((lo + ((height - 3 - (ev.clientY - rect.top)) / (height - 6)) * (hi - lo)) / quantum) * quantum).toPrecision(7));
      lane.drag.moved = { row, value, kind: key.kind };
      this.draw(lane);
    };
    const up = () => {
      window.removeEventListener("mousemove", move);
      window.removeEventListener("mouseup", up);
      const moved = lane.drag.moved;
      lane.drag = null;
      this.draw(lane);
      if (!moved || (moved.row === key.row && moved.value === key.value)) return;
      const ops = [];
      if (moved.row !== key.row) ops.push({ track: lane.name, row: key.row, delete: true });
      ops.push({ track: lane.name, row: moved.row, value: moved.value, kind: key.kind });
      this.actions.edit(ops, `${lane.name}: key ${key.row} to row ${moved.row}, ${formatValue(moved.value)}`);
    };
    window.addEventListener("mousemove", move);
    window.addEventListener("mouseup", up);
  }

  nearestBeat(row) {
    let best = row;
    let bestDistance = Infinity;
    for (const b of beatRows(this.model.tempo, this.model.rowsPerSecond, row - 200, row + 200)) {
      const d = Math.abs(b.row - row);
      if (d < bestDistance) { best = b.row; bestDistance = d; }
    }
    return best;
  }
}

// Square step, circle linear, diamond smooth, triangle ramp, cross any other.
function marker(g, x, y, kind, active) {
  g.fillStyle = active ? "#ffd866" : "#e6edf5";
  g.strokeStyle = g.fillStyle;
  g.lineWidth = 1.5;
  g.beginPath();
  switch (kind) {
    case "step": g.rect(x - 3.5, y - 3.5, 7, 7); break;
    case "linear": g.arc(x, y, 4, 0, Math.PI * 2); break;
    case "smooth": g.moveTo(x, y - 5); g.lineTo(x + 5, y); g.lineTo(x, y + 5); g.lineTo(x - 5, y); g.closePath(); break;
    case "ramp": g.moveTo(x, y - 5); g.lineTo(x + 5, y + 4); g.lineTo(x - 5, y + 4); g.closePath(); break;
    default:
      g.moveTo(x - 4, y - 4); g.lineTo(x + 4, y + 4); g.moveTo(x + 4, y - 4); g.lineTo(x - 4, y + 4);
      g.stroke();
      return;
  }
  g.fill();
}
