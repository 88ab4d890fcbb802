// The preview page: every pattern moving at tempo. It reads its patterns either from the
// preview server (exact samples, on demand) or from a compact block inlined by the gallery.
"use strict";
(() => {
const PPB = 64, BEATS_PER_BAR = 4, TRAIL_PIPS = 32;
const AXIS_COLOURS = ["#d23c3c", "#2a9a4a", "#3468d0", "#8e44ad", "#b8860b", "#16a2a2", "#666"];
const FAN_COLOUR = "#e08a1e";
const PATH_SIZE = 120, TIME_W = 220, TIME_H = 120, MARGIN = 6;
const PIP_MIN = -(2 ** 31), PIP_MAX = 2 ** 31 - 1;  // the module's pips are signed 32-bit
const TEMPO_REFUSED = "A finite positive BPM and beat origin are required";  // the module's words
const $ = id => document.getElementById(id);
const mod = (a, n) => ((a % n) + n) % n;

// ---- text forms ---------------------------------------------------------------------------

// The text Python's repr gives a float: the same shortest round-trip digits as String(v), laid
// out by Python's rule (exponent below 1e-4 or from 1e16 on, two exponent digits, "0.0", "-0.0").
function reprFloat(v) {
  if (Number.isNaN(v)) return "nan";
  if (!Number.isFinite(v)) return v > 0 ? "inf" : "-inf";
  const sign = v < 0 || Object.is(v, -0) ? "-" : "";
  if (v === 0) return sign + "0.0";
  const [mantissa, exp] = Math.abs(v).toExponential().split("e");
  const digits = mantissa.replace(".", "");
  const e = Number(exp);
  if (e < -4 || e >= 16) {
    const m = digits.length > 1 ? digits[0] + "." + digits.slice(1) : digits;
    return sign + m + "e" + (e < 0 ? "-" : "+") + String(Math.abs(e)).padStart(2, "0");
  }
  const point = e + 1;
  if (point <= 0) return sign + "0." + "0".repeat(-point) + digits;
  if (point >= digits.length) return sign + digits + "0".repeat(point - digits.length) + ".0";
  return sign + digits.slice(0, point) + "." + digits.slice(point);
}

// Python's repr of a str, as the module's messages quote the names they were given.
function reprString(text) {
  const quote = text.includes("'") && !text.includes('"') ? '"' : "'";
  const escaped = text.replace(/[\\\x00-\x1f\x7f]/g, c => c === "\\" ? "\\\\" : c === "\n" ? "\\n"
    : c === "\t" ? "\\t" : c === "\r" ? "\\r" : "\\x" + c.charCodeAt(0).toString(16).padStart(2, "0"));
  return quote + (quote === "'" ? escaped.replaceAll("'", "\\'") : escaped) + quote;
}

// Bounds on a decimal text before it becomes BigInts: 10n ** exponent is built in full, so an
// exponent of a billion would hold the page for minutes. Any time or tempo a probe can mean
// lies far inside them.
const DECIMAL_CHARS = 400, DECIMAL_EXPONENT = 1000;

// A decimal text as an exact fraction of BigInts, so that seconds such as 0.1 never misfloor.
function decimal(text) {
  const m = text.length <= DECIMAL_CHARS && /^\s*([+-]?)(\d*)(?:\.(\d*))?(?:[eE]([+-]?\d+))?\s*$/.exec(text);
  if (!m || (m[2] + (m[3] || "")) === "" || Math.abs(Number(m[4] || 0)) > DECIMAL_EXPONENT)
    throw new Error("not a number: " + reprString(text.slice(0, 40)));
  const frac = m[3] || "", exp = Number(m[4] || 0) - frac.length;
  let num = BigInt(m[2] + frac || "0"), den = 1n;
  if (exp >= 0) num *= 10n ** BigInt(exp); else den = 10n ** BigInt(-exp);
  return [m[1] === "-" ? -num : num, den];
}

function floorDiv(a, b) {
  const q = a / b;
  return (a % b !== 0n) && ((a < 0n) !== (b < 0n)) ? q - 1n : q;
}

// floor(seconds * bpm / 60 * 64), exactly, as a BigInt: it may lie outside 32 bits.
function pipAt(seconds, bpm) {
  const [sn, sd] = decimal(seconds), [bn, bd] = decimal(bpm);
  return floorDiv(sn * bn * BigInt(PPB), sd * bd * 60n);
}

// Whether the module takes a tempo text: one that reads as a finite positive double.
function tempoTaken(text) {
  try { decimal(text); } catch { return false; }
  const bpm = Number(text);
  return Number.isFinite(bpm) && bpm > 0;
}

function amount(n, one, many) {
  const text = Number.isInteger(n) ? String(n) : String(+n.toFixed(3));
  return text + " " + (n === 1 ? one : many);
}

function loopText(entry) {
  const beats = entry.period / PPB, pips = entry.period % PPB ? ` (${amount(entry.period, "pip", "pips")})` : "";
  const axes = entry.kind === "recording" ? entry.axes.join(", ") : amount(entry.dims, "axis", "axes");
  const what = entry.kind === "recording" ? `recording from pip ${entry.start}: ` : "loop: ";
  return what + amount(beats, "beat", "beats") + ", " + amount(beats / BEATS_PER_BAR, "bar", "bars") + pips + " · " + axes;
}

// ---- sources ------------------------------------------------------------------------------

async function servedSource() {
  const index = await (await fetch("api/entries")).json();
  return {
    entries: index.entries, show: index.show, refusals: index.refusals, exact: true,
    async load(entry) {
      const url = `api/samples?kind=${entry.kind}&name=${encodeURIComponent(entry.name)}`;
      const response = await fetch(url);
      if (!response.ok) throw new Error(await response.text());
      return Float64Array.from(await response.json());
    },
  };
}

async function compactSource(element) {
  const text = atob(element.textContent.trim());
  const packed = new Uint8Array(text.length);
  for (let i = 0; i < text.length; i++) packed[i] = text.charCodeAt(i);
  const stream = new Blob([packed]).stream().pipeThrough(new DecompressionStream("deflate"));
  const raw = new Uint8Array(await new Response(stream).arrayBuffer());
  const metaLength = (raw[0] | raw[1] << 8 | raw[2] << 16 | raw[3] << 24) >>> 0;
  const meta = JSON.parse(new TextDecoder().decode(raw.subarray(4, 4 + metaLength)));
  const body = raw.subarray(4 + metaLength);
  return {
    entries: meta.entries, show: null, refusals: meta.refusals, exact: false,
    async load(entry) {
      // Axis after axis, zigzag varint steps on a grid of 1/quantum: see page_data.py.
      const dims = entry.dims, n = entry.period, out = new Float64Array(n * dims);
      let at = entry.offset;
      for (let axis = 0; axis < dims; axis++) {
        let q = 0;
        for (let k = 0; k < n; k++) {
          let z = 0, shift = 0, byte;
          do { byte = body[at++]; z += (byte & 0x7f) * 2 ** shift; shift += 7; } while (byte & 0x80);
          q += z % 2 ? -(z + 1) / 2 : z / 2;
          out[k * dims + axis] = q / meta.quantum;
        }
      }
      return out;
    },
  };
}

// The index of an entry's row at a pip, or -1: a loop folds the pip by floor modulo, a
// recording does not.
function indexAt(entry, pip) {
  if (entry.kind !== "recording") return mod(pip, entry.period);
  const k = pip - entry.start;
  return k >= 0 && k < entry.period ? k : -1;
}

function rowAt(entry, data, pip) {
  const dims = entry.dims, k = indexAt(entry, pip);
  if (k < 0) return null;
  const row = Array.from(data.subarray(k * dims, k * dims + dims));
  if (entry.kind !== "recording") while (row.length < 3) row.push(0);
  return row;
}

// ---- the clock ----------------------------------------------------------------------------

const clock = {
  bpm: 120, playing: true, anchorMs: performance.now(), anchorBeat: 0, follower: null,
  beat(now = performance.now()) {
    return this.playing ? this.anchorBeat + (now - this.anchorMs) * this.bpm / 60000 : this.anchorBeat;
  },
  reanchor(beat, bpm = this.bpm) {
    this.anchorMs = performance.now();
    this.anchorBeat = beat;
    this.bpm = bpm;
    metronome.resync();
  },
  // The transport keeps to the tempo field's range and to beats whose pips fit in 32 bits, so
  // the page never runs on a tempo or a time the module has no pip for. Both say if they took it.
  setBpm(bpm) {
    const field = $("bpm"), ok = bpm >= Number(field.min) && bpm <= Number(field.max);
    if (ok) this.reanchor(this.beat(), bpm);
    return ok;
  },
  seek(beat) {
    const ok = Number.isFinite(beat) && beat * PPB >= PIP_MIN && beat * PPB <= PIP_MAX;
    if (ok) this.reanchor(beat);
    return ok;
  },
  setPlaying(on) { const beat = this.beat(); this.playing = on; this.reanchor(beat); },
};

// ---- the metronome: Web Audio clicks scheduled ahead on every beat, accented on bars --------

const OFFSET_SAMPLES = 40;  // about a second of ticks: the median follows drift, not jitter

const metronome = {
  on: false, audio: null, next: null, offset: 0, offsets: [], planned: [], log: [],
  enable(on) {
    this.on = on;
    if (on && !this.audio) this.audio = new AudioContext();
    if (on) this.audio.resume();
    this.resync();
  },
  // The page's clock changed (tempo, tap, seek, pause): clicks planned on the old one would
  // land off the beat or play a beat twice, so every one not yet sounding is called off. One
  // already sounding stays planned until it ends, and its beat is not planned again.
  resync() {
    this.next = null;
    if (!this.audio) return;
    const now = this.audio.currentTime;
    for (const click of this.planned) {
      if (click.entry.at <= now) continue;
      click.osc.stop(0);  // a stop before its start: it never sounds
      click.gain.disconnect();
      click.entry.cancelled = true;
    }
    this.planned = this.planned.filter(click => !click.entry.cancelled);
  },
  // The audio clock and the page's run apart (separate crystals, output buffering), so the
  // offset between them is measured on every tick. The output timestamp says when what the
  // context plays now reaches the speaker; without one, the context's own time stands in.
  measure() {
    const stamp = this.audio.getOutputTimestamp ? this.audio.getOutputTimestamp() : null;
    this.offsets.push(stamp && stamp.performanceTime > 0 ? stamp.contextTime - stamp.performanceTime / 1000
      : this.audio.currentTime - performance.now() / 1000);
    if (this.offsets.length > OFFSET_SAMPLES) this.offsets.shift();
    const sorted = [...this.offsets].sort((a, b) => a - b);
    this.offset = sorted[sorted.length >> 1];
  },
  tick() {
    if (!this.on || !clock.playing) return;
    this.measure();
    const now = performance.now(), beat = clock.beat(now), current = this.audio.currentTime;
    this.planned = this.planned.filter(click => click.entry.at + 0.05 > current);
    // Plan 120 ms ahead of what the context is computing now, which runs ahead of what the
    // speaker plays by the output latency.
    const latency = Math.max(0, current - (now / 1000 + this.offset));
    const horizon = clock.beat(now + 120 + latency * 1000);
    if (this.next === null || this.next < Math.ceil(beat)) this.next = Math.ceil(beat);
    for (; this.next <= horizon; this.next++) {
      const ms = now + (this.next - beat) * 60000 / clock.bpm;
      const at = ms / 1000 + this.offset, accent = mod(this.next, BEATS_PER_BAR) === 0;
      if (this.planned.some(click => click.entry.beat === this.next)) continue;
      const entry = {beat: this.next, at, accent, bpm: clock.bpm, offset: this.offset, cancelled: false};
      this.planned.push({entry, ...this.click(at, accent)});
      this.log.push(entry);
      if (this.log.length > 512) this.log.shift();
    }
  },
  click(at, accent) {
    const osc = this.audio.createOscillator(), gain = this.audio.createGain();
    osc.frequency.value = accent ? 1760 : 1100;
    gain.gain.setValueAtTime(accent ? 0.5 : 0.25, at);
    gain.gain.exponentialRampToValueAtTime(0.001, at + 0.04);
    osc.connect(gain).connect(this.audio.destination);
    osc.start(at);
    osc.stop(at + 0.05);
    return {osc, gain};
  },
};
setInterval(() => metronome.tick(), 25);

// ---- cards --------------------------------------------------------------------------------

const fan = {n: 1, spread: 16, pips(pip) { return Array.from({length: this.n}, (_, i) => pip + i * this.spread); }};
const visible = new Set();
const stats = {frames: 0, drawn: 0, workMs: 0};  // workMs: script time of all frames
let source = null;
const cards = [];

function canvas(w, h) {
  const c = document.createElement("canvas"), dpr = window.devicePixelRatio || 1;
  c.width = Math.round(w * dpr); c.height = Math.round(h * dpr);
  c.style.width = w + "px"; c.style.height = h + "px";
  const g = c.getContext("2d");
  g.scale(dpr, dpr);
  return [c, g];
}

function toPath(row, dims) { return pathAt(row, 0, dims); }

// Where the sample starting at data[at] lies on the path view.
function pathAt(data, at, dims) {
  const inner = PATH_SIZE - 2 * MARGIN;
  const x = data[at], y = dims > 1 ? data[at + 1] : 0;
  // y points down, as on the canvas, so a lift is drawn upward.
  return [MARGIN + (x + 1) / 2 * inner, MARGIN + (1 + y) / 2 * inner];
}

// Blue far, through violet, to orange near: clear of the green that marks y.
function depthColour(z) { return `hsl(${230 + (z + 1) * 80},75%,48%)`; }

// Pips over which the time view runs: one loop, or the span of a recording.
function span(entry) { return entry.kind === "recording" ? [entry.start, entry.period] : [0, entry.period]; }

function timeX(entry, pip) {
  const [first, length] = span(entry);
  return MARGIN + (pip - first) / length * (TIME_W - 2 * MARGIN);
}
// The time view: a strip of beat numbers over one lane per axis. Every lane draws + downward,
// as the path view draws y (the module's convention: y points down), so a downstroke drops in
// both views.
const LABEL_H = 11, LANE_GAP = 3;
const BEAT_LINE = "#8a8a84", BAR_LINE = "#4d4d48";  // 3.4:1 and 8.3:1 on the views' ground
function lane(dims, axis) {
  const height = (TIME_H - LABEL_H - MARGIN / 2 - (dims - 1) * LANE_GAP) / dims;
  return [LABEL_H + axis * (height + LANE_GAP), height];
}
function laneY(dims, axis, v) {
  const [top, height] = lane(dims, axis);
  return top + (1 + v) / 2 * height;
}
// A line of whole device pixels: a line that straddles two pixels draws as two faint ones.
function crisp(x, width) {
  const dpr = window.devicePixelRatio || 1, w = Math.max(1, Math.round(width * dpr));
  return (Math.round(x * dpr - w / 2) + w / 2) / dpr;
}

function drawBackgrounds(card) {
  const {entry, data} = card, dims = entry.dims, [first, length] = span(entry);
  const [pc, pg] = canvas(PATH_SIZE, PATH_SIZE);
  pg.strokeStyle = "#eee"; pg.lineWidth = 1;
  pg.beginPath(); pg.moveTo(PATH_SIZE / 2, MARGIN); pg.lineTo(PATH_SIZE / 2, PATH_SIZE - MARGIN);
  pg.moveTo(MARGIN, PATH_SIZE / 2); pg.lineTo(PATH_SIZE - MARGIN, PATH_SIZE / 2); pg.stroke();
  const rows = [];
  for (let k = 0; k <= length; k++) rows.push(rowAt(entry, data, first + (entry.kind === "recording" ? Math.min(k, length - 1) : k)));
  pg.lineWidth = 1.3;
  const run = 4;
  for (let k = 0; k < length; k += run) {
    pg.beginPath();
    pg.moveTo(...toPath(rows[k], dims));
    for (let j = k + 1; j <= Math.min(k + run, length); j++) pg.lineTo(...toPath(rows[j], dims));
    pg.strokeStyle = dims >= 3 && entry.kind !== "recording" ? depthColour(rows[k][2]) : "#8a8f99";
    pg.stroke();
  }
  pg.fillStyle = "#444";
  for (let k = 0; k < length; k++) {
    const pip = first + k;
    if (mod(pip, PPB)) continue;
    const [x, y] = toPath(rows[k], dims);
    if (mod(pip, PPB * BEATS_PER_BAR) === 0) pg.fillRect(x - 2.5, y - 2.5, 5, 5);
    else { pg.beginPath(); pg.arc(x, y, 2, 0, 2 * Math.PI); pg.fill(); }
  }
  pg.fillStyle = "#77776f"; pg.font = "9px system-ui, sans-serif";
  pg.textAlign = "right"; pg.fillText("+x →", PATH_SIZE - 2, PATH_SIZE / 2 - 3);
  pg.textAlign = "left"; pg.fillText("+y ↓", PATH_SIZE / 2 + 3, PATH_SIZE - 2);
  const [tc, tg] = canvas(TIME_W, TIME_H);
  for (let axis = 0; axis < dims; axis++) {
    const [top, height] = lane(dims, axis);
    tg.fillStyle = "#f3f3ef"; tg.fillRect(MARGIN, top + height / 2 - 0.5, TIME_W - 2 * MARGIN, 1);
  }
  // Beat numbers are clock beats (as the readout and the seek field count them), on every
  // beat where they fit and on fewer, bar-aligned, where they do not.
  const beatPx = PPB / length * (TIME_W - 2 * MARGIN);
  let every = 1;
  while (every * beatPx < 14) every *= every === 1 ? BEATS_PER_BAR : 2;
  tg.font = "9px system-ui, sans-serif"; tg.textAlign = "center"; tg.fillStyle = "#555";
  for (let pip = Math.ceil(first / PPB) * PPB; pip <= first + length; pip += PPB) {
    const bar = mod(pip, PPB * BEATS_PER_BAR) === 0, width = bar ? 2 : 1, x = crisp(timeX(entry, pip), width);
    tg.fillStyle = bar ? BAR_LINE : BEAT_LINE;
    tg.fillRect(x - width / 2, LABEL_H, width, TIME_H - LABEL_H - MARGIN / 2);
    if (mod(pip / PPB, every) === 0) {
      tg.fillStyle = "#555";
      tg.fillText(String(pip / PPB), Math.max(5, Math.min(TIME_W - 5, x)), LABEL_H - 2);
    }
  }
  const step = Math.max(1, Math.floor(length / (2 * TIME_W)));
  tg.lineWidth = 1.4;
  for (let axis = dims - 1; axis >= 0; axis--) {
    tg.strokeStyle = AXIS_COLOURS[axis % AXIS_COLOURS.length];
    tg.beginPath();
    for (let k = 0; k <= length; k += step) {
      const v = rows[Math.min(k, length)][axis];
      const x = timeX(entry, first + k);
      if (k === 0) tg.moveTo(x, laneY(dims, axis, v)); else tg.lineTo(x, laneY(dims, axis, v));
    }
    tg.stroke();
  }
  // Each lane's name, on a patch of the ground so that a trace never hides it.
  tg.font = "bold 9px system-ui, sans-serif"; tg.textAlign = "left";
  entry.axes.forEach((name, axis) => {
    const [top] = lane(dims, axis), text = name.length > 8 ? name.slice(0, 7) + "…" : name;
    tg.fillStyle = "rgba(252,252,250,0.85)"; tg.fillRect(MARGIN + 2, top, tg.measureText(text).width + 4, 11);
    tg.fillStyle = AXIS_COLOURS[axis % AXIS_COLOURS.length]; tg.fillText(text, MARGIN + 4, top + 9);
  });
  card.pathImage = pc; card.timeImage = tc;
}

// A card's views are canvases drawn once, under one overlay canvas for what moves (trail, dots,
// playheads): a frame redraws one small canvas per card and touches no element's style, which
// keeps two dozen cards within a frame on a software-rendered canvas.
const GAP = 6, BORDER = 1, TIME_LEFT = PATH_SIZE + 2 * BORDER + GAP + BORDER;
const OVERLAY_W = TIME_LEFT + TIME_W + BORDER, OVERLAY_H = TIME_H + 2 * BORDER;

async function activate(card) {
  if (card.views) return;
  card.views = {};
  card.data = await source.load(card.entry);
  drawBackgrounds(card);
  const [overlay, og] = canvas(OVERLAY_W, OVERLAY_H);
  overlay.className = "overlay";
  const path = document.createElement("div"), time = document.createElement("div");
  path.className = time.className = "view";
  path.append(card.pathImage);
  time.append(card.timeImage);
  card.element.querySelector(".views").append(path, time, overlay);
  card.views = {og};
}

function drawCard(card, pip) {
  if (!card.views || !card.views.og) return;
  const {entry, data, views: {og}} = card, dims = entry.dims;
  og.clearRect(0, 0, OVERLAY_W, OVERLAY_H);
  og.save();
  og.translate(BORDER, BORDER);
  // The trail of the main copy over the last half beat, in four runs that fade with age.
  // Fading by globalAlpha, a number, spares the parse of a new colour text per run.
  og.lineWidth = 2.2;
  og.strokeStyle = "#141414";
  const run = TRAIL_PIPS / 4;
  for (let r = 0; r < 4; r++) {
    og.globalAlpha = 0.15 + r * 0.15;
    og.beginPath();
    let drawing = false;
    for (let k = TRAIL_PIPS - r * run; k >= TRAIL_PIPS - (r + 1) * run; k -= 2) {
      const index = indexAt(entry, pip - k);
      if (index < 0) { drawing = false; continue; }
      const [x, y] = pathAt(data, index * dims, dims);
      if (drawing) og.lineTo(x, y); else og.moveTo(x, y);
      drawing = true;
    }
    og.stroke();
  }
  og.globalAlpha = 1;
  og.fillStyle = FAN_COLOUR;
  const [first, length] = span(entry);
  for (let i = fan.n - 1; i >= 0; i--) {
    if (i === 0) og.fillStyle = "#111";
    const p = pip + i * fan.spread, index = indexAt(entry, p);
    if (index < 0) continue;
    const folded = entry.kind === "recording" ? p : first + mod(p - first, length);
    og.fillRect(TIME_LEFT - BORDER + timeX(entry, folded) - (i ? 0.5 : 0.75), 0, i ? 1 : 1.5, TIME_H);
    const [px, py] = pathAt(data, index * dims, dims);
    og.beginPath(); og.arc(px, py, i ? 3 : 4, 0, 2 * Math.PI); og.fill();
  }
  og.restore();
}

const observer = new IntersectionObserver(changes => {
  for (const change of changes) {
    const card = change.target.card;
    if (change.isIntersecting) { visible.add(card); activate(card); } else visible.delete(card);
  }
});

function makeCard(entry) {
  const element = document.createElement("div");
  element.className = "card";
  element.dataset.name = entry.name;
  const b = document.createElement("b"), desc = document.createElement("div"), meta = document.createElement("div");
  b.textContent = entry.name;
  desc.className = "desc"; desc.textContent = entry.description; desc.title = entry.description;
  meta.className = "meta"; meta.textContent = loopText(entry);
  const views = document.createElement("div");
  views.className = "views";
  element.append(b, desc, meta, views);
  const card = {entry, element, search: (entry.name + " " + entry.description).toLowerCase()};
  element.card = card;
  observer.observe(element);
  return card;
}

function sectionOf(entry) {
  return entry.family === "beat studies" && entry.style ? "beat study: " + entry.style : entry.family;
}

function build(entries) {
  const groups = new Map();
  for (const entry of entries) {
    const key = sectionOf(entry);
    if (!groups.has(key)) groups.set(key, []);
    groups.get(key).push(entry);
  }
  const fragment = document.createDocumentFragment();
  for (const [title, members] of groups) {
    const section = document.createElement("section"), h2 = document.createElement("h2"), grid = document.createElement("div");
    h2.textContent = `${title} (${members.length})`;
    grid.className = "grid";
    section.cards = members.map(makeCard);
    for (const card of section.cards) { grid.append(card.element); cards.push(card); }
    section.append(h2, grid);
    fragment.append(section);
  }
  $("sections").append(fragment);
  const options = (select, values) => {
    for (const v of values) { const o = document.createElement("option"); o.value = o.textContent = v; select.append(o); }
  };
  options($("family"), [...new Set(entries.map(e => e.family))]);
  options($("style"), [...new Set(entries.map(e => e.style).filter(Boolean))].sort());
}

function applyFilter() {
  const words = $("filter").value.toLowerCase().split(/\s+/).filter(Boolean);
  const family = $("family").value, style = $("style").value, dims = $("dims").value;
  let shown = 0;
  for (const section of $("sections").children) {
    let any = false;
    for (const card of section.cards) {
      const e = card.entry;
      const ok = words.every(w => card.search.includes(w)) && (!family || e.family === family)
        && (!style || e.style === style) && (!dims || String(e.dims) === dims);
      card.element.hidden = !ok;
      if (ok) { any = true; shown++; }
    }
    section.hidden = !any;
  }
  $("count").textContent = `${shown} of ${cards.length} patterns`;
}

// ---- the frame loop -----------------------------------------------------------------------

let lastReadout = "";
function frame(now) {
  if (clock.beat(now) * PPB > PIP_MAX) {  // the last pip there is: the transport stops on it
    clock.setPlaying(false);
    clock.seek(Math.floor(PIP_MAX / PPB));
    $("play").textContent = "Play";
  }
  const beat = clock.beat(now), pip = Math.floor(beat * PPB);
  for (const card of visible) drawCard(card, pip);
  stats.workMs += performance.now() - now;
  stats.frames++; stats.drawn = visible.size; stats.pip = pip;
  const shown = Math.floor(beat * 10) / 10;
  const readout = `beat ${shown.toFixed(1)} · bar ${Math.floor(beat / BEATS_PER_BAR) + 1} · ${clock.bpm} BPM`;
  if (readout !== lastReadout) { $("now").textContent = readout; lastReadout = readout; }
  if (source && source.show) drawShow();
  requestAnimationFrame(frame);
}

// ---- a show: positions from the server's sampler, on the show's clock ----------------------

let showFrame = null;
async function followShow() {
  for (;;) {
    try {
      const sent = performance.now();
      const f = await (await fetch("api/frame")).json();
      const received = performance.now();
      showFrame = f;
      const changed = f.running !== clock.playing || f.bpm !== clock.bpm;
      clock.playing = f.running;
      clock.anchorMs = (sent + received) / 2;
      clock.anchorBeat = f.beat;
      clock.bpm = f.bpm;
      if (changed) metronome.resync();
      if ($("bpm").value !== String(f.bpm)) $("bpm").value = f.bpm;
      $("show-status").textContent = `${f.clock} clock · ${f.bpm} BPM · pip ${f.pip} · latency ${f.latency_ms} ms`;
    } catch (err) {
      $("show-status").textContent = "show server unreachable: " + err;
    }
    await new Promise(r => setTimeout(r, 30));
  }
}

// A text cut to a width with an ellipsis, so that labels side by side never run together.
function fitText(g, text, width) {
  if (g.measureText(text).width <= width) return text;
  let low = 0, high = text.length;
  while (low < high) {  // the longest cut that fits, ellipsis included
    const mid = (low + high + 1) >> 1;
    if (g.measureText(text.slice(0, mid) + "…").width <= width) low = mid; else high = mid - 1;
  }
  return text.slice(0, low) + "…";
}

// The stage: a cell per fixture, as many to a row as the page's width holds, drawn at the
// screen's own pixel density. showLabels keeps where each label went, for the tests.
let showLabels = [];
function drawShow() {
  if (!showFrame) return;
  const c = $("stage"), g = c.getContext("2d"), fixtures = showFrame.fixtures, dpr = window.devicePixelRatio || 1;
  const width = Math.max(1, c.clientWidth - 2), cell = Math.min(160, width);
  const cols = Math.max(1, Math.min(fixtures.length, Math.floor(width / cell)));
  const height = Math.max(1, Math.ceil(fixtures.length / cols)) * cell;
  if (c.width !== Math.round(width * dpr) || c.height !== Math.round(height * dpr)) {
    c.width = Math.round(width * dpr); c.height = Math.round(height * dpr); c.style.height = height + 2 + "px";
  }
  g.setTransform(dpr, 0, 0, dpr, 0, 0);
  g.clearRect(0, 0, width, height);
  g.font = "11px system-ui, sans-serif";
  showLabels = [];
  fixtures.forEach((f, i) => {
    const ox = (i % cols) * cell, oy = Math.floor(i / cols) * cell, r = cell / 2 - 24;
    g.strokeStyle = "#ddd"; g.strokeRect(ox + 4.5, oy + 4.5, cell - 9, cell - 9);
    g.fillStyle = "#444";
    [f.name, f.pattern].forEach((text, line) => {
      const shown = fitText(g, text, cell - 16), y = oy + 18 + line * 13;
      g.fillText(shown, ox + 8, y);
      showLabels.push({text: shown, left: ox + 8, right: ox + 8 + g.measureText(shown).width, top: y - 10, bottom: y + 3});
    });
    const [x = 0, y = 0, z = 0] = f.out;
    g.fillStyle = depthColour(Math.max(-1, Math.min(1, z)));
    g.beginPath(); g.arc(ox + cell / 2 + x * r, oy + cell / 2 + 12 + y * r, 6, 0, 2 * Math.PI); g.fill();
  });
}

// ---- controls -----------------------------------------------------------------------------

function wireControls() {
  $("play").onclick = () => { clock.setPlaying(!clock.playing); $("play").textContent = clock.playing ? "Pause" : "Play"; };
  $("bpm").onchange = () => { if (!clock.setBpm(Number($("bpm").value))) $("bpm").value = clock.bpm; };
  let taps = [];
  $("tap").onclick = () => {
    const now = performance.now();
    if (taps.length && now - taps[taps.length - 1] > 2000) taps = [];
    taps.push(now);
    if (taps.length > 5) taps.shift();
    if (taps.length >= 2) {
      const bpm = Math.round(60000 * (taps.length - 1) / (taps[taps.length - 1] - taps[0]) * 10) / 10;
      if (clock.setBpm(bpm)) $("bpm").value = bpm;
    }
  };
  $("seek").onchange = () => { if (!clock.seek(Number($("seek").value))) $("seek").value = Math.floor(clock.beat()); };
  $("click").onchange = () => metronome.enable($("click").checked);
  $("fan-n").onchange = () => { fan.n = Math.max(1, Math.min(16, Math.floor(Number($("fan-n").value)) || 1)); };
  $("fan-spread").onchange = () => {
    fan.spread = Math.max(-1024, Math.min(1024, Math.floor(Number($("fan-spread").value)) || 0));
  };
  for (const id of ["filter", "family", "style", "dims"]) $(id).addEventListener("input", applyFilter);
}

// A probe or URL value the module would refuse: its message in #probe, the Python exception's
// name in data-error, and no value.
function refuse(type, text) {
  $("probe").dataset.error = type;
  $("probe").textContent = text;
}

// The checks run in the order of the module's call: the pip's conversion to 32 bits (a
// TypeError naming the arguments) comes before the name's lookup.
async function probe(query) {
  const name = query.get("probe"), out = $("probe"), seconds = query.get("seconds") || "0";
  const bpm = query.has("bpm") ? query.get("bpm") : String(clock.bpm);
  if (!tempoTaken(bpm)) return refuse("ValueError", TEMPO_REFUSED);
  let pip;
  try { pip = pipAt(seconds, bpm); } catch (err) { return refuse("ValueError", "seconds: " + err.message); }
  const entry = source.entries.find(e => e.name === name);
  if (pip < PIP_MIN || pip > PIP_MAX) {
    const kind = entry ? entry.kind : "pattern", digits = String(pip);
    const args = (kind === "pattern" ? reprString(name) + ", " : "")
      + (digits.length > 60 ? digits.slice(0, 60) + "…" : digits);
    return refuse("TypeError", source.refusals[kind] + args);
  }
  if (!entry) return refuse("ValueError", "Unknown kinetra: " + name);
  const row = rowAt(entry, await source.load(entry), Number(pip));
  out.dataset.pip = pip;
  if (!row) return refuse("IndexError", "Pip outside non-looping recording");
  out.textContent = row.map(reprFloat).join(" ");
}

// Whatever stays on screen at the top (the header, or on a phone its transport row): the
// sections scroll into view below it, not under it.
function trackStickyHeight() {
  const update = () => {
    const sticky = [document.querySelector("header"), document.querySelector("header .transport")]
      .find(e => getComputedStyle(e).position === "sticky" && e.offsetHeight > 0);
    document.documentElement.style.setProperty("--header", (sticky ? sticky.offsetHeight : 0) + "px");
  };
  new ResizeObserver(update).observe(document.body);
  update();
}

async function main() {
  const query = new URLSearchParams(location.search);
  const block = $("kinetra-data");
  source = block ? await compactSource(block) : await servedSource();
  wireControls();
  trackStickyHeight();
  build(source.entries);
  for (const id of ["filter", "family", "style", "dims"]) if (query.get(id)) $(id).value = query.get(id);
  if (query.get("bpm") !== null) {
    const bpm = query.get("bpm");
    if (!tempoTaken(bpm)) refuse("ValueError", TEMPO_REFUSED);
    else if (clock.setBpm(Number(bpm))) $("bpm").value = clock.bpm;
    else if (!query.get("probe")) refuse("ValueError", `Tempo outside the page's ${$("bpm").min} to ${$("bpm").max} BPM`);
  }
  applyFilter();
  if (source.show) {
    // The show's clock rules the page: its tempo map, seeks and latency come from the server.
    for (const id of ["play", "bpm", "tap", "seek"]) $(id).disabled = true;
    $("show").hidden = false;
    followShow();
  }
  requestAnimationFrame(frame);
  if (query.get("probe")) await probe(query);
  document.body.dataset.ready = "1";
}

window.kinetraPreview = {clock, fan, metronome, stats, visible, reprFloat, pipAt, rowAt, cards,
  probe: async text => { delete $("probe").dataset.error; delete $("probe").dataset.pip; await probe(new URLSearchParams(text)); },
  get showFrame() { return showFrame; }, get showLabels() { return showLabels; }, fitText,
  positions(name) {
    const card = cards.find(c => c.entry.name === name);
    if (!card || !card.data) return null;
    return fan.pips(Math.floor(clock.beat() * PPB)).map(p => [p, rowAt(card.entry, card.data, p)]);
  }};
main().catch(err => { $("probe").textContent = "error: " + err; document.body.dataset.ready = "error"; throw err; });
})();
