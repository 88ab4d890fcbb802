// The stage view: heads at their positions, beams where the outputs point them, targets of
// aimed heads, trails of where the beams land. Geometry comes from the server (the same degree
// mapping as the outputs); this page only projects and draws.
"use strict";

const $ = id => document.getElementById(id);
const TRAIL = 60;
const trails = new Map();

function bounds(rig) {
  // the stage's extent in metres, with room around every head and target
  const points = rig.fixtures.flatMap(f => [f.position, f.at || f.position]);
  points.push([-6, 0, 0], [6, 8, 0]);
  const lo = [0, 1, 2].map(k => Math.min(...points.map(p => p[k])) - 1);
  const hi = [0, 1, 2].map(k => Math.max(...points.map(p => p[k])) + 1);
  return { lo, hi };
}

function projections(rig) {
  const { lo, hi } = bounds(rig);
  const fit = (canvas, a, b) => {
    // a, b: the axes drawn to the right and up
    const scale = Math.min((canvas.width - 40) / (hi[a] - lo[a]), (canvas.height - 40) / (hi[b] - lo[b]));
    return p => [20 + (p[a] - lo[a]) * scale, canvas.height - 20 - (p[b] - lo[b]) * scale];
  };
  const camera = [0, lo[1] - 10, hi[2] + 4], look = [0, (lo[1] + hi[1]) / 2, 0];
  const forward = unit(sub(look, camera)), right = unit(cross(forward, [0, 0, 1]));
  const up = cross(right, forward), canvas = $("perspective");
  const perspective = p => {
    const v = sub(p, camera), depth = Math.max(dot(v, forward), 0.1);
    const f = canvas.height * 1.1;
    return [canvas.width / 2 + f * dot(v, right) / depth, canvas.height / 2 - f * dot(v, up) / depth];
  };
  return { top: fit($("top"), 0, 1), front: fit($("front"), 0, 2), perspective };
}

const sub = (a, b) => a.map((v, k) => v - b[k]);
const dot = (a, b) => a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
const cross = (a, b) => [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]];
const unit = a => { const n = Math.hypot(...a); return a.map(v => v / n); };

function overlaps(a, b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

function placeLabels(rig, project) {
  // each label takes the first free spot on rings around its head; none overlaps another
  // label or a head
  for (const view of Object.keys(project)) {
    const container = $(view).parentElement, canvas = $(view);
    // the heads' own marks are taken first, so no label hides one
    const placed = rig.fixtures.map(f => {
      const [x, y] = project[view](f.position);
      const left = x + canvas.offsetLeft - 5, top = y + canvas.offsetTop - 5;
      return { left, top, right: left + 10, bottom: top + 10 };
    });
    for (const fixture of rig.fixtures) {
      const label = document.createElement("div");
      label.className = "label";
      label.dataset.view = view;
      label.textContent = fixture.name;
      container.appendChild(label);
      const width = label.offsetWidth, height = label.offsetHeight;
      const [x, y] = project[view](fixture.position);
      const origin = [x + canvas.offsetLeft, y + canvas.offsetTop];
      for (let ring = 1; ; ring++) {
        const spots = [];
        for (let k = 0; k < 8 * ring; k++) {
          const angle = k / (8 * ring) * 2 * Math.PI;
          spots.push([origin[0] + Math.cos(angle) * 10 * ring - width / 2,
                      origin[1] + Math.sin(angle) * 10 * ring - height / 2]);
        }
        const free = spots.map(([left, top]) => ({ left, top, right: left + width, bottom: top + height }))
          .find(box => !placed.some(other => overlaps(box, other)));
        if (free) {
          placed.push(free);
          label.style.left = `${free.left}px`;
          label.style.top = `${free.top}px`;
          break;
        }
      }
    }
  }
}

function draw(rig, project, frame) {
  for (const view of Object.keys(project)) {
    const canvas = $(view), g = canvas.getContext("2d"), p = project[view];
    g.clearRect(0, 0, canvas.width, canvas.height);
    // the stage floor's front edge and centre line
    g.strokeStyle = "#444";
    line(g, p([-6, 0, 0]), p([6, 0, 0]));
    line(g, p([0, 0, 0]), p([0, 8, 0]));
    for (const state of frame.fixtures) {
      const fixture = rig.fixtures.find(f => f.name === state.name);
      const trail = trails.get(state.name) || [];
      trail.push(state.end);
      if (trail.length > TRAIL) trail.shift();
      trails.set(state.name, trail);
      g.strokeStyle = "#a6862f";
      for (let k = 1; k < trail.length; k++) {
        g.globalAlpha = k / trail.length;
        line(g, p(trail[k - 1]), p(trail[k]));
      }
      g.globalAlpha = 1;
      g.strokeStyle = "#ffd75e";
      line(g, p(fixture.position), p(state.end));
      g.fillStyle = fixture.hang === "truss" ? "#6cf" : "#9e6";
      const [x, y] = p(fixture.position);
      g.fillRect(x - 4, y - 4, 8, 8);
      if (state.target) {
        const [tx, ty] = p(state.target);
        g.strokeStyle = "#f55";
        line(g, [tx - 5, ty - 5], [tx + 5, ty + 5]);
        line(g, [tx - 5, ty + 5], [tx + 5, ty - 5]);
      }
    }
  }
}

function line(g, a, b) {
  g.beginPath();
  g.moveTo(a[0], a[1]);
  g.lineTo(b[0], b[1]);
  g.stroke();
}

async function main() {
  const query = new URLSearchParams(location.search);
  const rig = await (await fetch("/api/stage/about")).json();
  $("unplaced").textContent = rig.unplaced.length ? `not placed on the stage: ${rig.unplaced.join(", ")}` : "";
  const project = projections(rig);
  placeLabels(rig, project);
  if (query.get("show_probe")) {
    const reply = await fetch(`/api/stage/probe?fixture=${encodeURIComponent(query.get("show_probe"))}` +
                              `&seconds=${encodeURIComponent(query.get("seconds") || "0")}`);
    $("show_probe").textContent = reply.ok ? await reply.text() : `error: ${await reply.text()}`;
    document.body.dataset.ready = "probe";
    return;
  }
  document.body.dataset.ready = "stage";
  for (;;) {
    const frame = await (await fetch("/api/stage/frame")).json();
    draw(rig, project, frame);
    document.body.dataset.frames = String(Number(document.body.dataset.frames || 0) + 1);
    await new Promise(resolve => requestAnimationFrame(resolve));
  }
}

main().catch(err => { $("show_probe").textContent = "error: " + err; document.body.dataset.ready = "error"; throw err; });
