// The music lane: the waveform's peaks from the demo, its beats (bars
// stronger), the loop region and the marks. A click or drag scrubs the demo;
// Shift and a drag sets the loop, Shift and a click clears it. While the demo
// is still reading the music it answers 503, and the lane asks again.

import { fitCanvas, formatTime } from "./model.js";

// Asking again for what the demo is still reading (503): when its Retry-After
// says, within bounds that keep a wrong header from either hammering the demo
// or leaving the lane blank for minutes; without one, at a fixed pace.
const RETRY_MS = 500;
const RETRY_MIN_MS = 200;
const RETRY_MAX_MS = 10000;

// Retry-After as whole or decimal seconds; its date form and anything else
// unreadable get the fixed pace.
export function retryDelay(retryAfter) {
  const text = typeof retryAfter === "string" ? retryAfter.trim() : "";
  if (!/^\d+(\.\d+)?$/.test(text)) return RETRY_MS;
  return Math.min(RETRY_MAX_MS, Math.max(RETRY_MIN_MS, Math.round(Number(text) * 1000)));
}

export class Waveform {
  // actions: {seek(row), setLoop([from, to] | null), beats(the /api/beats answer or null),
  //           limit() -> the last row the view may show}
  constructor(root, api, view, actions) {
    this.root = root;
    this.api = api;
    this.view = view;
    this.actions = actions;
    this.canvas = document.createElement("canvas");
    this.playhead = document.createElement("div");
    this.playhead.className = "playhead";
    this.message = document.createElement("div");
    this.message.className = "lane-message";
    root.classList.add("wave-lane");
    root.append(this.canvas, this.playhead, this.message);
    this.peaks = null;
    this.beats = [];
    this.noMusic = null;
    this.loop = null;
    this.pendingLoop = null;
    this.model = null;
    this.fetchSeq = 0;
    this.tempoKey = "";
    this.beatsSeq = 0;
    this.playRow = 0;

    view.onChange(() => this.refetch());
    new ResizeObserver(() => this.refetch()).observe(root);
    this.canvas.addEventListener("mousedown", (e) => this.mouseDown(e));
    this.canvas.addEventListener("wheel", (e) => view.wheel(e, this.canvas.clientWidth, actions.limit()), { passive: false });
  }

  setShow(model) {
    this.model = model;
    // The beats change only with the tempo lines (or not at all, when the demo
    // finds them in the music).
    const key = JSON.stringify(model.show.tempo);
    if (key !== this.tempoKey) {
      this.tempoKey = key;
      this.fetchBeats();
    }
    this.refetch();
  }

  async fetchBeats() {
    const seq = ++this.beatsSeq;
    clearTimeout(this.beatsTimer);
    let answer = null;
    try {
      answer = await this.api.beats();
      if (seq !== this.beatsSeq) return;
      this.beats = Array.isArray(answer.beats) ? answer.beats : [];
    } catch (e) {
      if (seq !== this.beatsSeq) return;
      this.beats = [];
      if (e.status === 503) this.beatsTimer = setTimeout(() => this.fetchBeats(), retryDelay(e.retryAfter));
      if (e.status === 404) this.noMusic = reason(e);
    }
    this.actions.beats?.(answer);
    this.draw();
  }

  setLoop(loop) {
    if (JSON.stringify(loop) === JSON.stringify(this.loop)) return;
    this.loop = loop;
    this.draw();
  }

  setPlayRow(row) {
    this.playRow = row;
    const x = this.view.x(row, this.canvas.clientWidth);
    this.playhead.style.transform = `translateX(${Math.round(x)}px)`;
  }

  refetch() {
    if (!this.model) return;
    clearTimeout(this.timer);
    this.draw();
    this.timer = setTimeout(() => this.fetchPeaks(), 40);
  }

  async fetchPeaks() {
    const seq = ++this.fetchSeq;
    clearTimeout(this.retryTimer);
    const rps = this.model.rowsPerSecond;
    const columns = Math.max(1, Math.round(this.canvas.clientWidth));
    const from = this.view.from / rps;
    const to = this.view.to / rps;
    try {
      const data = await this.api.waveform(from, to, columns);
      if (seq !== this.fetchSeq) return;
      this.peaks = { from, to, values: data.peaks || [] };
      this.noMusic = null;
      this.reading = false;
    } catch (e) {
      if (seq !== this.fetchSeq) return;
      this.peaks = null;
      this.noMusic = e.status === 404 ? reason(e) : null;
      this.reading = e.status === 503;
      // Still reading the music: the peaks come on a later try. Anything
      // else (the demo gone, a refusal) is not asked again until the view moves.
      if (e.status === 503) this.retryTimer = setTimeout(() => this.fetchPeaks(), retryDelay(e.retryAfter));
    }
    this.draw();
  }

  draw() {
    const { g, width, height } = fitCanvas(this.canvas);
    g.fillStyle = "#14171c";
    g.fillRect(0, 0, width, height);
    this.setPlayRow(this.playRow);
    if (!this.model) return;
    const rps = this.model.rowsPerSecond;
    const x = (row) => this.view.x(row, width);
    // The demo's own reason: no music in the show, or none this build can read.
    const text = this.noMusic || (this.reading ? "reading the music…" : "");
    this.message.textContent = text ? text[0].toUpperCase() + text.slice(1) : "";
    this.message.hidden = !text;

    const loop = this.pendingLoop || this.loop;
    if (loop) {
      g.fillStyle = "rgba(90, 160, 255, 0.16)";
      g.fillRect(x(loop[0]), 0, x(loop[1]) - x(loop[0]), height);
      g.fillStyle = "rgba(90, 160, 255, 0.8)";
      g.fillRect(x(loop[0]), 0, 1, height);
      g.fillRect(x(loop[1]), 0, 1, height);
    }

    const mid = height / 2;
    if (this.peaks && this.peaks.values.length) {
      const { from, to, values } = this.peaks;
      const x0 = x(from * rps);
      const scale = (x(to * rps) - x0) / values.length;
      g.fillStyle = "#4fb3a9";
      values.forEach(([lo, hi], i) => {
        const top = mid - hi * (mid - 4);
        g.fillRect(x0 + i * scale, top, Math.max(1, scale), Math.max(1, (hi - lo) * (mid - 4)));
      });
    }

    // Beats over the peaks, so that a beat shows where the music hits; the first of every four as a bar.
    // Where beats would stand closer than a few pixels only the bars are drawn, or none.
    const apart = this.beats.length > 1 ? x((this.beats[1] - this.beats[0]) * rps) - x(0) : Infinity;
    const drawn = apart >= 6 ? 1 : apart * 4 >= 6 ? 4 : 0;
    this.beats.forEach((seconds, i) => {
      const bx = Math.round(x(seconds * rps)) + 0.5;
      if (!drawn || i % drawn || bx < 0 || bx > width) return;
      g.fillStyle = i % 4 === 0 ? "rgba(255, 255, 255, 0.45)" : "rgba(255, 255, 255, 0.18)";
      g.fillRect(bx, 0, 1, height);
    });

    // Time along the bottom, every so many seconds for about 100 px apart.
    const secondsPerPixel = (this.view.to - this.view.from) / rps / width;
    const every = [1, 2, 5, 10, 15, 30, 60, 120].find((s) => s / secondsPerPixel >= 90) || 300;
    g.font = "10px system-ui, sans-serif";
    g.fillStyle = "rgba(220, 225, 235, 0.55)";
    for (let s = Math.ceil(this.view.from / rps / every) * every; s * rps <= this.view.to; s += every) {
      const tx = x(s * rps);
      g.fillRect(tx, height - 5, 1, 5);
      g.fillText(formatTime(s * rps, rps).replace(/\.00$/, ""), tx + 3, height - 3);
    }

    for (const mark of this.model.show.marks || []) {
      const mx = Math.round(x(mark.row)) + 0.5;
      if (mx < -100 || mx > width) continue;
      g.fillStyle = "#e8b04a";
      g.fillRect(mx, 0, 1, height);
      g.fillText(mark.name, mx + 3, 11);
    }
  }

  rowAt(e) {
    const rect = this.canvas.getBoundingClientRect();
    return Math.max(0, Math.round(this.view.row(e.clientX - rect.left, rect.width)));
  }

  mouseDown(e) {
    if (e.button !== 0) return;
    e.preventDefault();
    const start = this.rowAt(e);
    const looping = e.shiftKey;
    if (!looping) this.actions.seek(start);
    const move = (ev) => {
      const row = this.rowAt(ev);
      if (looping) {
        this.pendingLoop = [Math.min(start, row), Math.max(start, row)];
        this.draw();
      } else {
        this.actions.seek(row);
      }
    };
    const up = () => {
      window.removeEventListener("mousemove", move);
      window.removeEventListener("mouseup", up);
      if (looping) {
        const loop = this.pendingLoop;
        this.pendingLoop = null;
        this.actions.setLoop(loop && loop[1] - loop[0] >= 2 ? loop : null);
        this.draw();
      }
    };
    window.addEventListener("mousemove", move);
    window.addEventListener("mouseup", up);
  }
}

// The demo's reason for a refusal, without the status in front.
function reason(e) {
  return e.message.replace(/^\d+: /, "");
}
