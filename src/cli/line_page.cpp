// The page of `pelor line`: plain HTML, CSS and JavaScript, nothing fetched from elsewhere. It
// listens to /events and draws each view it is sent: suspect sockets on top, then one card per
// station with its sockets and its day. Every text from the server goes in as text, never as
// markup.
#include "line_server.h"

namespace {

constexpr const char* kPage = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>pelor line</title>
<style>
  :root { --idle: #9aa3ad; --flashing: #2f6fd0; --done: #2e9d4f; --failed: #c8312b;
          --off: #555b61; --suspect: #e08a00; }
  * { box-sizing: border-box; }
  body { margin: 0; font: 14px/1.35 system-ui, sans-serif; background: #f3f4f6; color: #1d2125; }
  header { display: flex; align-items: baseline; gap: 16px; padding: 10px 16px;
           background: #1d2125; color: #fff; }
  header h1 { margin: 0; font-size: 18px; }
  #status { padding: 2px 8px; border-radius: 4px; background: var(--done); }
  body[data-stale="1"] #status { background: var(--failed); }
  body[data-stale="1"] main { opacity: 0.55; }
  #generated { color: #c5cbd1; font-size: 12px; }
  main { padding: 12px 16px; }
  #suspects { margin-bottom: 12px; }
  #suspects:empty { display: none; }
  .suspect-row { margin: 4px 0; padding: 6px 10px; border-left: 6px solid var(--suspect);
                 background: #fff4e0; }
  #grid { display: grid; grid-template-columns: repeat(auto-fill, minmax(420px, 1fr)); gap: 12px; }
  .station { background: #fff; border-radius: 6px; padding: 10px 12px;
             box-shadow: 0 1px 2px rgba(0,0,0,.15); }
  .station h2 { margin: 0 0 6px; font-size: 16px; }
  .station .seen { color: #6b737b; font-size: 12px; font-weight: normal; margin-left: 8px; }
  .sockets { display: grid; grid-template-columns: 1fr 1fr; gap: 6px; }
  .socket { border: 1px solid #d5d9de; border-left: 6px solid var(--idle); border-radius: 4px;
            padding: 4px 6px; min-height: 54px; }
  .socket[data-state="flashing"] { border-left-color: var(--flashing); }
  .socket[data-state="done"] { border-left-color: var(--done); }
  .socket[data-state="failed"] { border-left-color: var(--failed); background: #fdf0ef; }
  .socket[data-state="off"] { border-left-color: var(--off); color: #6b737b; }
  .socket[data-suspect="1"] { outline: 2px solid var(--suspect); }
  .socket .head { display: flex; justify-content: space-between; font-size: 12px; }
  .socket .device { color: #6b737b; overflow: hidden; text-overflow: ellipsis; white-space: nowrap;
                    max-width: 70%; }
  .bar { height: 8px; background: #e4e7eb; border-radius: 4px; margin: 4px 0; overflow: hidden; }
  .fill { height: 100%; background: var(--flashing); }
  .socket[data-state="done"] .fill { background: var(--done); }
  .socket[data-state="failed"] .fill { background: var(--failed); }
  .socket .text { font-size: 12px; white-space: nowrap; overflow: hidden; text-overflow: ellipsis; }
  .badge { display: inline-block; margin-top: 2px; padding: 0 5px; border-radius: 3px;
           background: var(--suspect); color: #fff; font-size: 11px; }
  .today { margin-top: 8px; display: flex; flex-wrap: wrap; gap: 4px 14px; }
  .today b { font-size: 15px; }
  table.failures { margin-top: 6px; border-collapse: collapse; font-size: 12px; width: 100%; }
  table.failures td, table.failures th { text-align: left; padding: 1px 6px 1px 0; }
  table.failures td.count { text-align: right; }
  .empty { color: #6b737b; }
</style>
</head>
<body data-updates="0" data-stale="1">
<header>
  <h1>pelor line</h1>
  <span id="status">connecting</span>
  <span id="generated"></span>
</header>
<main>
  <section id="suspects"></section>
  <section id="grid"><p class="empty">Waiting for the line's server.</p></section>
</main>
<script>
"use strict";
let updates = 0;

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined && text !== null) node.textContent = String(text);
  return node;
}

function setStatus(text, stale) {
  document.getElementById("status").textContent = text;
  document.body.dataset.stale = stale ? "1" : "0";
}

function localTime(utc) {
  if (!utc) return "";
  const t = new Date(utc);
  return isNaN(t) ? utc : t.toLocaleTimeString();
}

function socketNode(station, s) {
  const node = el("div", "socket");
  node.dataset.station = station;
  node.dataset.channel = String(s.channel);
  node.dataset.state = s.state;
  if (s.suspect) node.dataset.suspect = "1";
  const head = el("div", "head");
  head.append(el("span", "channel", "ch" + s.channel + " \u00b7 " + s.state),
              el("span", "device", s.device));
  head.lastChild.title = s.device;
  const bar = el("div", "bar");
  const fill = el("div", "fill");
  fill.style.width = Math.max(0, Math.min(100, s.progress)) + "%";
  bar.append(fill);
  const text = el("div", "text", s.text);
  text.title = s.text;
  node.append(head, bar, text);
  if (s.suspect) {
    const badge = el("div", "badge", s.suspect);
    node.append(badge);
  }
  return node;
}

function stationNode(st) {
  const card = el("article", "station");
  card.dataset.station = st.station;
  const title = el("h2", null, st.station);
  if (st.updated) title.append(el("span", "seen", "changed " + localTime(st.updated)));
  card.append(title);
  const sockets = el("div", "sockets");
  for (const s of st.sockets) sockets.append(socketNode(st.station, s));
  if (st.sockets.length === 0) sockets.append(el("p", "empty", "No sockets published."));
  card.append(sockets);
  const t = st.today;
  const today = el("div", "today");
  const figure = (label, value) => {
    const span = el("span", null, label + " ");
    span.append(el("b", null, value));
    return span;
  };
  today.append(figure("Today", t.jobs + " jobs"), figure("done", t.done),
               figure("failed", t.failed), figure("yield", t.yield.toFixed(1) + "%"),
               figure("per hour", t.per_hour.toFixed(1)));
  card.append(today);
  if (t.failures.length > 0) {
    const table = el("table", "failures");
    const head = el("tr");
    head.append(el("th", null, "Step"), el("th", null, "Reason"), el("th", null, "Jobs"));
    table.append(head);
    for (const f of t.failures) {
      const row = el("tr");
      row.append(el("td", null, f.step || "\u2014"), el("td", null, f.reason),
                 el("td", "count", f.count));
      table.append(row);
    }
    card.append(table);
  }
  return card;
}

function render(line) {
  const suspects = document.getElementById("suspects");
  suspects.replaceChildren();
  for (const s of line.suspects) {
    const row = el("div", "suspect-row");
    row.append(el("b", null, s.station + " ch" + s.channel), " ",
               el("span", null, s.device + ": " + s.text));
    suspects.append(row);
  }
  const grid = document.getElementById("grid");
  grid.replaceChildren();
  for (const st of line.stations) grid.append(stationNode(st));
  if (line.stations.length === 0) {
    grid.append(el("p", "empty", "No station has published its sockets yet."));
  }
  document.getElementById("generated").textContent =
    "read " + localTime(line.generated) + ", today since " + localTime(line.day_start);
}

const events = new EventSource("/events");
events.addEventListener("line", (e) => {
  updates += 1;
  document.body.dataset.updates = String(updates);
  render(JSON.parse(e.data));
});
events.addEventListener("status", (e) => {
  const s = JSON.parse(e.data);
  setStatus(s.stale ? "stale: " + s.error : "live", s.stale);
});
events.onerror = () => setStatus("connection lost: reconnecting", true);
</script>
</body>
</html>
)PAGE";

}  // namespace

const char* CLI_LinePage() {
    return kPage;
}
