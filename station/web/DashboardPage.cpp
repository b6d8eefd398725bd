#include "DashboardPage.h"

namespace fennix::station::web {

// What the page's tests find (kept stable):
//   .tile[data-socket="PATH"][data-state="waiting|running|passed|failed|interrupted"]  one per socket
//   .tile .name  .tile .state  .tile .imei  .tile .version  .tile .build  .tile .stage
//   .tile .bar (its inner .fill's width is the percent)  .tile .percent  .tile .rate  .tile .elapsed
//   .tile .cause (the last or current failure's cause)  .tile .last  .tile .counters
//   #station-counters (.runs .passed .failed .yield)  #connection[data-connected="true|false"]
//   #runs (tbody rows tr[data-run-id])  #search (input)  #search-results (tbody)
// Every text that comes from a device, a file or the records is set with textContent.
const char kDashboardPage[] = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Fennix station</title>
<style>
body { font-family: sans-serif; margin: 0; background: #f2f2f2; color: #222; }
header { background: #263238; color: #fff; padding: 8px 16px; display: flex; gap: 24px; align-items: center; }
header h1 { font-size: 18px; margin: 0; }
#connection { font-size: 13px; }
#connection[data-connected="false"] { color: #ffab91; }
#station-counters span { margin-right: 12px; }
main { padding: 12px 16px; }
#tiles { display: grid; grid-template-columns: repeat(auto-fill, minmax(260px, 1fr)); gap: 10px; }
.tile { background: #fff; border-left: 8px solid #9e9e9e; padding: 8px 10px; border-radius: 4px; font-size: 13px; }
.tile[data-state="running"] { border-color: #1e88e5; }
.tile[data-state="passed"] { border-color: #43a047; background: #e8f5e9; }
.tile[data-state="failed"] { border-color: #e53935; background: #ffebee; }
.tile[data-state="interrupted"] { border-color: #fb8c00; background: #fff3e0; }
.tile .name { font-weight: bold; word-break: break-all; }
.tile .state { float: right; text-transform: uppercase; font-weight: bold; }
.tile .bar { height: 10px; background: #e0e0e0; border-radius: 5px; margin: 6px 0; overflow: hidden; }
.tile .fill { height: 100%; width: 0; background: #1e88e5; }
.tile[data-state="passed"] .fill { background: #43a047; }
.tile[data-state="failed"] .fill { background: #e53935; }
.tile .cause { color: #b71c1c; }
.tile .muted, .muted { color: #757575; }
table { border-collapse: collapse; width: 100%; background: #fff; font-size: 13px; margin-top: 6px; }
th, td { text-align: left; padding: 3px 6px; border-bottom: 1px solid #eee; }
tr.failed td.result { color: #c62828; } tr.success td.result { color: #2e7d32; }
h2 { font-size: 15px; margin: 18px 0 4px; }
#search { padding: 4px; width: 220px; }
</style>
</head>
<body>
<header>
<h1>Fennix station</h1>
<div id="station-counters">Today: <span>runs <b class="runs">0</b></span><span>passed <b class="passed">0</b></span><span>failed <b class="failed">0</b></span><span>yield <b class="yield">-</b></span></div>
<div id="connection" data-connected="false">connecting…</div>
</header>
<main>
<div id="tiles"></div>
<h2>Last runs</h2>
<table><thead><tr><th>id</th><th>started (UTC)</th><th>socket</th><th>IMEI</th><th>recipe</th><th>result</th><th>cause</th><th>version after</th></tr></thead><tbody id="runs"></tbody></table>
<h2>Runs of one IMEI</h2>
<form id="search-form"><input id="search" type="search" placeholder="IMEI" autocomplete="off"> <button type="submit">Find</button> <span id="search-count" class="muted"></span></form>
<table><thead><tr><th>id</th><th>started (UTC)</th><th>socket</th><th>IMEI</th><th>recipe</th><th>result</th><th>cause</th><th>version after</th></tr></thead><tbody id="search-results"></tbody></table>
</main>
<script>
"use strict";
const tiles = new Map();
let sockets = [];
const daySummary = { sockets: new Map(), total: null };

function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined && text !== null) e.textContent = String(text);
  return e;
}
function baseName(path) { const i = path.lastIndexOf("/"); return i < 0 ? path : path.slice(i + 1); }
function clock(seconds) {
  if (seconds === null || seconds === undefined) return "";
  const s = Math.floor(seconds), m = Math.floor(s / 60), h = Math.floor(m / 60);
  const two = n => String(n).padStart(2, "0");
  return (h ? h + ":" + two(m % 60) : m) + ":" + two(s % 60);
}
function rateText(rate) {
  if (!rate) return "";
  if (rate >= 1e6) return (rate / 1e6).toFixed(2) + " MB/s";
  if (rate >= 1e3) return (rate / 1e3).toFixed(1) + " kB/s";
  return rate.toFixed(0) + " B/s";
}
function resultWord(result) { return result === "success" ? "passed" : result; }
function today() { return new Date().toISOString().slice(0, 10); }

function tileFor(socket) {
  let t = tiles.get(socket);
  if (t) return t;
  t = el("div", "tile");
  t.dataset.socket = socket;
  const head = el("div");
  head.append(el("span", "state"), el("div", "name", baseName(socket)));
  head.lastChild.title = socket;
  const who = el("div");
  who.append(el("span", "imei"), " ", el("span", "version muted"), " ", el("span", "build muted"));
  const bar = el("div", "bar"); bar.append(el("div", "fill"));
  const nums = el("div");
  nums.append(el("span", "percent"), " ", el("span", "rate muted"), " ", el("span", "elapsed muted"));
  t.append(head, who, el("div", "stage"), bar, nums, el("div", "cause"), el("div", "last muted"), el("div", "counters muted"));
  document.getElementById("tiles").append(t);
  tiles.set(socket, t);
  return t;
}
function set(t, cls, text) { t.querySelector("." + cls).textContent = text === null || text === undefined ? "" : String(text); }
function setPercent(t, percent) {
  const p = Math.max(0, Math.min(100, Number(percent) || 0));
  t.querySelector(".fill").style.width = p + "%";
  t.querySelector(".bar").dataset.percent = String(p);
  set(t, "percent", percent === null || percent === undefined ? "" : p.toFixed(1) + " %");
}

function drawSocket(s) {
  const t = tileFor(s.socket);
  t.dataset.state = s.state;
  set(t, "state", s.state);
  const d = s.device || {};
  set(t, "imei", d.imei || d.esn || d.meid || (s.state === "waiting" ? "" : (s.last && s.last.imei) || ""));
  set(t, "version", d.version_dir || "");
  set(t, "build", d.build_id || "");
  set(t, "stage", s.stage || (s.state === "waiting" ? "waiting for a device" : ""));
  setPercent(t, s.percent);
  set(t, "rate", rateText(s.rate));
  t.dataset.elapsed = s.elapsed === null ? "" : String(s.elapsed);
  t.dataset.since = String(Date.now());
  set(t, "elapsed", clock(s.elapsed));
  let cause = "";
  if (s.state === "failed" || s.state === "interrupted") cause = s.cause_text || s.cause || (s.last && (s.last.cause_text || s.last.cause)) || "";
  else if (s.state === "waiting" && s.last && s.last.result !== "success") cause = s.last.cause_text || s.last.cause || "";
  set(t, "cause", cause);
  set(t, "last", s.last ? "last: " + [s.last.imei, resultWord(s.last.result), s.last.cause, s.last.ended_at].filter(Boolean).join(" · ") : "");
  drawCounters(t);
}
function drawCounters(t) {
  const c = daySummary.sockets.get(t.dataset.socket);
  set(t, "counters", c ? "today: " + c.runs + " runs, " + c.passed + " passed, " + c.failed + " failed, yield " + (c.yield_percent === null ? "-" : c.yield_percent + " %") : "today: no runs");
}

async function getJson(url) {
  const r = await fetch(url, { credentials: "same-origin", cache: "no-store" });
  if (!r.ok) throw new Error(url + ": " + r.status);
  return r.json();
}
async function loadSockets() {
  sockets = await getJson("/api/sockets");
  for (const s of sockets) drawSocket(s);
}
async function loadSummary() {
  const s = await getJson("/api/summary?since=" + today());
  daySummary.sockets = new Map(s.sockets.map(r => [r.socket, r]));
  const c = document.getElementById("station-counters");
  c.querySelector(".runs").textContent = String(s.total.runs);
  c.querySelector(".passed").textContent = String(s.total.passed);
  c.querySelector(".failed").textContent = String(s.total.failed);
  c.querySelector(".yield").textContent = s.total.yield_percent === null ? "-" : s.total.yield_percent + " %";
  for (const t of tiles.values()) drawCounters(t);
}
function runRow(r) {
  const tr = el("tr", r.result);
  tr.dataset.runId = String(r.id);
  for (const [v, cls] of [[r.id], [(r.started_at || "").slice(0, 19).replace("T", " ")], [baseName(r.socket || "")], [r.imei], [r.recipe], [resultWord(r.result), "result"], [r.cause], [r.version_after]])
    tr.append(el("td", cls || "", v === null ? "" : v));
  return tr;
}
async function loadRuns() {
  const runs = await getJson("/api/runs?limit=20");
  document.getElementById("runs").replaceChildren(...runs.map(runRow));
}
async function search(imei) {
  const body = document.getElementById("search-results");
  if (!imei) { body.replaceChildren(); document.getElementById("search-count").textContent = ""; return; }
  const runs = await getJson("/api/runs?limit=10000&imei=" + encodeURIComponent(imei));
  body.replaceChildren(...runs.map(runRow));
  document.getElementById("search-count").textContent = runs.length + " run(s)";
}
document.getElementById("search-form").addEventListener("submit", e => {
  e.preventDefault();
  search(document.getElementById("search").value.trim()).catch(() => {});
});

let refresh = null;
function refreshSoon(records) {
  if (records) refresh = Object.assign(refresh || {}, { records: true });
  else refresh = refresh || {};
  if (refresh.timer) return;
  refresh.timer = setTimeout(() => {
    const r = refresh; refresh = null;
    loadSockets().catch(() => {});
    if (r.records) { loadRuns().catch(() => {}); loadSummary().catch(() => {}); }
  }, 300);
}
function onEvent(e) {
  if (!e || !e.socket) return;
  const t = tiles.get(e.socket);
  if (e.event === "progress" && t) {
    setPercent(t, e.percent);
    // An event names its stage by its key; the words come with the socket.
    if (e.stage) refreshSoon(false);
    return;
  }
  if (e.event === "line") return;
  refreshSoon(e.event === "run-ended" || e.event === "run-started");
}
// While a run goes on, its clock ticks here and its rate comes from the sockets' state.
setInterval(() => {
  let running = false;
  for (const t of tiles.values()) {
    if (t.dataset.state !== "running" || t.dataset.elapsed === "") continue;
    running = true;
    set(t, "elapsed", clock(Number(t.dataset.elapsed) + (Date.now() - Number(t.dataset.since)) / 1000));
  }
  if (running && document.visibilityState === "visible") refreshSoon(false);
}, 1000);

function connect() {
  const status = document.getElementById("connection");
  const source = new EventSource("/events");
  source.onopen = () => {
    status.dataset.connected = "true";
    status.textContent = "live";
    // Whatever happened while the stream was away shows in the state and the records.
    loadSockets().catch(() => {}); loadRuns().catch(() => {}); loadSummary().catch(() => {});
  };
  source.onerror = () => {
    status.dataset.connected = "false";
    status.textContent = "reconnecting…";
    if (source.readyState === EventSource.CLOSED) { source.close(); setTimeout(connect, 3000); }
  };
  source.onmessage = m => { try { onEvent(JSON.parse(m.data)); } catch (err) {} };
}
loadSockets().catch(() => {}); loadRuns().catch(() => {}); loadSummary().catch(() => {});
connect();
</script>
</body>
</html>
)PAGE";

}  // namespace fennix::station::web
