// The page vid view serves: plain HTML, CSS and JavaScript, nothing fetched from elsewhere.
//
// Frames come one request at a time: while one is on its way, only the latest frame asked for
// waits (the slider may have moved on many frames), so the view never lags behind the hand.
// JPEG while the slider moves or the clip plays, the exact PNG once it stops. window.viewer
// holds what is shown, for scripts and tests.
#pragma once

static const char kVidViewPage[] = R"PAGE(<!doctype html>
<html lang="en"><head><meta charset="utf-8"><title>vid view</title>
<style>
 html, body { margin: 0; height: 100%; font: 13px system-ui, sans-serif; background: #222; color: #ddd; }
 body { display: flex; flex-direction: column; }
 #bar, #status { display: flex; gap: 6px; align-items: center; padding: 4px 8px; background: #333; }
 #slider { flex: 1; }
 #number, #fps { width: 6em; }
 #view { flex: 1; overflow: auto; cursor: grab; }
 #canvas { image-rendering: pixelated; display: block; }
 #meta { margin: 0; padding: 4px 8px; max-height: 8em; overflow: auto; background: #2a2a2a; }
 #note { color: #fc6; }
 button { min-width: 2.4em; }
</style></head><body>
<div id="bar">
 <button id="prev" title="back one frame (Left; Shift: 10)">&#9664;</button>
 <button id="play" title="play / pause (Space)">&#9655;</button>
 <button id="next" title="forward one frame (Right; Shift: 10)">&#9654;</button>
 <input id="slider" type="range" min="0" max="0" value="0" step="1">
 <input id="number" type="number" min="0" value="0"><span id="count"></span>
 <label>fps <input id="fps" type="number" min="0.1" step="any" value="30"></label>
 <label>zoom <select id="zoom"><option value="fit">fit</option><option>1</option>
  <option>2</option><option>4</option><option>8</option><option>16</option></select></label>
 <label><input id="live" type="checkbox"> live</label>
</div>
<div id="view"><canvas id="canvas" width="1" height="1"></canvas></div>
<div id="status"><span id="time"></span><span id="readout"></span><span id="note"></span></div>
<pre id="meta"></pre>
<script>
"use strict";
const $ = (id) => document.getElementById(id);
const V = window.viewer = { shown: -1, exact: false, wanted: 0, frames: 0, width: 0, height: 0,
  info: null, playing: false, dropped: 0, drawn: 0, timestamp: null, readout: "" };
const canvas = $("canvas"), ctx = canvas.getContext("2d");
const image = document.createElement("canvas");
const ictx = image.getContext("2d", { willReadFrequently: true });
let pending = null, scale = 1;

function bayer() { return V.info && V.info.kind && V.info.kind.startsWith("bayer"); }

function draw() {
  const z = $("zoom").value, view = $("view");
  scale = z === "fit" ? Math.min(view.clientWidth / V.width, view.clientHeight / V.height) : +z;
  if (!(scale > 0)) scale = 1;
  canvas.width = Math.max(1, Math.round(V.width * scale));
  canvas.height = Math.max(1, Math.round(V.height * scale));
  ctx.imageSmoothingEnabled = false;
  ctx.drawImage(image, 0, 0, canvas.width, canvas.height);
}

function showTime() {
  const first = V.info && V.info.first_timestamp;
  let text = "frame " + V.shown + (V.exact ? " (exact)" : "");
  if (V.timestamp !== null && first !== null && first !== undefined)
    text += ", t = " + ((Number(BigInt(V.timestamp) - BigInt(first)) / 1e9).toFixed(6)) + " s";
  $("time").textContent = text;
}

function showBitmap(bitmap, k, exact, stamp) {
  image.width = bitmap.width; image.height = bitmap.height;
  ictx.drawImage(bitmap, 0, 0);
  V.shown = k; V.exact = exact; V.drawn++; V.timestamp = stamp;
  draw(); showTime();
}

async function loadFrame(k, exact) {
  const r = await fetch("/frame/" + k + (exact ? ".png" : ".jpg"));
  if (!r.ok) throw new Error("frame " + k + ": " + r.status);
  return { bitmap: await createImageBitmap(await r.blob()), stamp: r.headers.get("X-Vid-Timestamp") };
}

// Requests go out in order; an answer older than the one shown is dropped. While the slider
// moves two may be on their way (the next overlaps the last), the exact frame goes alone.
let sent = 0, shownSeq = 0, inflight = 0;
async function fetchFrame(k, exact) {
  const seq = ++sent;
  inflight++;
  try {
    const f = await loadFrame(k, exact);
    if (seq > shownSeq) { shownSeq = seq; showBitmap(f.bitmap, k, exact, f.stamp); }
  } catch (e) { $("note").textContent = " " + e.message; }
  inflight--;
  if (pending && inflight < (pending.exact ? 1 : 2)) {
    const p = pending; pending = null;
    if (p.k !== V.shown || (p.exact && !V.exact)) fetchFrame(p.k, p.exact);
  }
}

// Asks for frame k; while frames are on their way only the latest asked for waits.
function request(k, exact) {
  V.wanted = k;
  if (inflight >= (exact ? 1 : 2)) { pending = { k: k, exact: exact }; return; }
  fetchFrame(k, exact);
}

function go(k, exact = true) {
  k = Math.max(0, Math.min(V.frames - 1, Math.round(k)));
  if (!(k >= 0)) return;
  $("slider").value = k; $("number").value = k;
  request(k, exact);
}

// Playing: the frames ahead are fetched side by side (up to eight), each shown at its time;
// a frame not there by the next one's time is dropped, and said.
function play() {
  V.playing = !V.playing;
  $("play").innerHTML = V.playing ? "&#10074;&#10074;" : "&#9655;";
  if (!V.playing) { go(V.wanted); return; }
  V.dropped = 0;
  const fps = +$("fps").value || 30, asking = 16;
  const first = V.wanted >= V.frames - 1 ? 0 : V.wanted;
  const ready = new Map(), asked = new Set();
  let next = first;   // the next frame to show
  let start = null;   // the clock starts once the first frames are there (or after half a second)
  const asked_at = performance.now();
  const tick = (now) => {
    if (!V.playing) return;
    if (start === null) {
      let buffered = 0;
      while (buffered < asking && ready.has(first + buffered)) buffered++;
      if (buffered >= Math.min(asking / 2, V.frames - first) || now - asked_at > 500) start = now;
    }
    const due = start === null ? first - 1 : first + Math.floor((now - start) * fps / 1000);
    for (let k = next; k < Math.min(V.frames, next + asking); k++)
      if (!asked.has(k)) {
        asked.add(k);
        loadFrame(k, false).then((f) => ready.set(k, f)).catch(() => ready.set(k, null));
      }
    // Every frame whose time has come is drawn in order; one not there yet is dropped only
    // when a later frame that is due is there already.
    while (next < V.frames && next <= due) {
      if (ready.has(next)) {
        const f = ready.get(next); ready.delete(next);
        if (f) showBitmap(f.bitmap, next, false, f.stamp);
        V.wanted = next; $("slider").value = next; $("number").value = next;
        next++;
        continue;
      }
      // Two periods late and a later frame waiting: this one is given up.
      let later = false;
      for (let j = next + 1; j <= due && !later; j++) later = ready.has(j);
      if (!later || due - next < 2) break;
      V.dropped++; next++;
    }
    $("note").textContent = V.dropped ? " dropped " + V.dropped +
      " frames: this machine cannot keep up at " + fps + " frames/s" : "";
    if (next >= V.frames) {
      V.playing = false; $("play").innerHTML = "&#9655;"; go(V.frames - 1); return;
    }
    requestAnimationFrame(tick);
  };
  requestAnimationFrame(tick);
}

let sampleTimer = null;
canvas.addEventListener("mousemove", (e) => {
  const x = Math.floor(e.offsetX / scale), y = Math.floor(e.offsetY / scale);
  if (x < 0 || y < 0 || x >= V.width || y >= V.height) return;
  const p = ictx.getImageData(x, y, 1, 1).data;
  V.readout = " | " + x + ", " + y + ": R " + p[0] + " G " + p[1] + " B " + p[2];
  $("readout").textContent = V.readout;
  if (bayer()) {
    clearTimeout(sampleTimer);
    const k = V.shown;
    sampleTimer = setTimeout(async () => {
      const r = await fetch("/sample/" + k + "?x=" + x + "&y=" + y);
      if (!r.ok) return;
      const s = await r.json();
      V.readout = " | " + x + ", " + y + ": R " + s.rgb[0] + " G " + s.rgb[1] + " B " + s.rgb[2] +
        ", raw " + s.raw + " (" + s.site + ")";
      $("readout").textContent = V.readout;
    }, 40);
  }
});

// Panning: drag the view.
let drag = null;
$("view").addEventListener("mousedown", (e) => { drag = { x: e.clientX, y: e.clientY }; });
window.addEventListener("mouseup", () => { drag = null; });
window.addEventListener("mousemove", (e) => {
  if (!drag) return;
  $("view").scrollLeft -= e.clientX - drag.x; $("view").scrollTop -= e.clientY - drag.y;
  drag = { x: e.clientX, y: e.clientY };
});

$("slider").addEventListener("input", () => { $("number").value = $("slider").value; request(+$("slider").value, false); });
$("slider").addEventListener("change", () => request(+$("slider").value, true));
$("number").addEventListener("change", () => go(+$("number").value));
$("prev").addEventListener("click", () => go(V.wanted - 1));
$("next").addEventListener("click", () => go(V.wanted + 1));
$("play").addEventListener("click", play);
$("zoom").addEventListener("change", draw);
window.addEventListener("resize", () => { if ($("zoom").value === "fit") draw(); });
window.addEventListener("keydown", (e) => {
  if (e.target === $("number") || e.target === $("fps")) return;
  const step = e.shiftKey ? 10 : 1;
  if (e.key === "ArrowRight") { go(V.wanted + step); e.preventDefault(); }
  if (e.key === "ArrowLeft") { go(V.wanted - step); e.preventDefault(); }
  if (e.key === " ") { play(); e.preventDefault(); }
});

let liveTimer = null;
$("live").addEventListener("change", () => {
  clearInterval(liveTimer);
  if (!$("live").checked) return;
  liveTimer = setInterval(async () => {
    const r = await fetch("/frames");
    if (!r.ok) {
      // The follow has ended (the file became unreadable or another recording took its name).
      $("note").textContent = " " + (await r.text()).trim();
      clearInterval(liveTimer); $("live").checked = false;
      return;
    }
    const f = await r.json();
    const atEnd = V.wanted >= V.frames - 1;
    if (f.frames !== V.frames) {
      V.frames = f.frames;
      if (!V.width && f.frames > 0) await start();
      $("slider").max = V.frames - 1; $("count").textContent = " / " + V.frames;
      if (atEnd && !V.playing) go(V.frames - 1);
    }
    $("note").textContent = f.finished ? " the recording has finished" : " live";
  }, 300);
});

async function start() {
  const r = await fetch("/info");
  V.info = await r.json();
  V.width = V.info.width; V.height = V.info.height; V.frames = V.info.frames;
  $("slider").max = Math.max(0, V.frames - 1);
  $("count").textContent = " / " + V.frames;
  if (V.info.frame_rate) $("fps").value = V.info.frame_rate;
  $("meta").textContent = V.info.kind + ", " + V.width + " x " + V.height + ", " + V.frames +
    " frames" + (V.info.frame_rate ? ", " + V.info.frame_rate + " frames/s" : "") +
    (V.info.start_time ? ", started " + V.info.start_time : "") +
    (V.info.clip_block === "damaged" ? "\n(the clip block is damaged; the frames read as ever)"
                                     : "") +
    (V.info.metadata ? "\n" + JSON.stringify(V.info.metadata, null, 1) : "");
  if (V.frames > 0) go(0);
}
start();
</script></body></html>
)PAGE";
