// vostrelle-panel's page for several boards: each board's section follows its
// own live stream and sends its changes to its own board (?board=N).
"use strict";

const colors = ["#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b", "#e377c2", "#17becf"];
const answers = {
  whole: "the board answers",
  "one-byte": "the board answers with one byte of two: unplug it and plug it in again",
  none: "the board does not answer: is it plugged in and its firmware running?",
};
const troubles = {
  silent: (since) => `board silent since ${since}`,
  gone: (since) => `board gone since ${since}`,
  loading: () => "loading the driver",
};
const colorOf = (k) => colors[k % colors.length];

// An input's value as the page shows it: in its channel's unit and decimals
// where the channel file names it, else in volts.
function valueText(channel, value) {
  if (value == null) return "";
  return channel ? `${value.toFixed(channel.decimals)} ${channel.unit}` : `${value.toFixed(3)} V`;
}

// Whether a value lies outside its channel's limits.
function beyondLimits(channel, value) {
  return Boolean(channel && channel.limits && value != null &&
    (value < channel.limits[0] || value > channel.limits[1]));
}

// One board's section; `board` is its number in the server's order.
function boardSection(board, root) {
  const panel = { board, root, windowSeconds: 30, paused: false, times: [], columns: [], plot: null,
    stream: null, recording: false, drawPending: false, interval: 0.04, channels: [], outputs: null };
  panel.$ = (name) => root.querySelector(`.${name}`);
  panel.url = (path) => `${path}?board=${board}`;
  wireControls(panel);
  connect(panel);
  return panel;
}

async function post(panel, path, value = "") {
  const response = await fetch(panel.url(path), { method: "POST", body: String(value),
    headers: { "Content-Type": "text/plain" } });
  const text = await response.text();
  panel.$("error").textContent = response.ok ? "" : text.trim();
  if (!response.ok) throw new Error(text);
  return JSON.parse(text);
}

function buildChannels(panel, inputs) {
  inputs.forEach((name, k) => {
    const channel = panel.channels[k];
    const label = document.createElement("label");
    label.innerHTML = `<input type="checkbox" checked><span class="swatch"></span>` +
      `<span class="name"></span><span class="value value-${k}"></span>`;
    label.querySelector(".swatch").style.background = colorOf(k);
    label.querySelector(".name").textContent = channel ? `${channel.name || name} (${channel.unit})` : name;
    if (channel && channel.limits) {
      label.title = `limits ${channel.limits[0]} to ${channel.limits[1]} ${channel.unit}`;
    }
    label.querySelector("input").addEventListener("change",
      (e) => panel.plot.setSeries(k + 1, { show: e.target.checked }));
    panel.$("channels").append(label);
  });
}

function buildLines(panel, lines) {
  lines.forEach((name, k) => {
    const label = document.createElement("label");
    label.innerHTML = `<input type="checkbox" class="line-${k}"><span></span>`;
    label.querySelector("span").textContent = name;
    label.querySelector("input").addEventListener("change", (e) => {
      post(panel, `/line/${k}`, e.target.checked ? 1 : 0)
        .then((o) => showOutputs(panel, o), () => showOutputs(panel, panel.outputs));
    });
    panel.$("lines").append(label);
  });
}

function buildChart(panel, inputs) {
  const chart = panel.$("chart");
  const series = [{ label: "seconds" }].concat(inputs.map((name, k) => (
    { label: name, stroke: colorOf(k), width: 1.5, value: (u, v) => valueText(panel.channels[k], v) })));
  panel.plot = new uPlot({ width: chart.clientWidth, height: 300, series, legend: { show: false },
    scales: { x: { time: false } }, axes: [{ label: "seconds" }, { label: "value" }] },
  [[], ...panel.columns], chart);
  window.addEventListener("resize", () => panel.plot.setSize({ width: chart.clientWidth, height: 300 }));
}

function build(panel, hello) {
  panel.$("title").textContent = hello.title;
  panel.channels = hello.channels || [];
  buildChannels(panel, hello.inputs);
  buildLines(panel, hello.lines);
  panel.$("pwm").max = hello.limits.pwm;
  panel.$("frequency").max = hello.limits.frequency;
  panel.$("frequency-range").textContent = `(0 to ${hello.limits.frequency})`;
  for (const name of ["led", "pwm", "frequency"]) panel.$(name).disabled = false;
  buildChart(panel, hello.inputs);
}

// The received volts in the channels' units, kept for the window shown.
function append(panel, received) {
  panel.times.push(...received.t);
  received.v.forEach((values, k) => {
    const channel = panel.channels[k];
    panel.columns[k].push(...(channel ? values.map((v) => scaleOf(channel, v)) : values));
  });
  const newest = panel.times[panel.times.length - 1];
  let drop = 0;
  while (drop < panel.times.length && panel.times[drop] < newest - panel.windowSeconds) drop++;
  panel.times.splice(0, drop);
  panel.columns.forEach((column) => column.splice(0, drop));
  scheduleDraw(panel);
}

function scheduleDraw(panel) {
  if (panel.paused || panel.drawPending) return;
  panel.drawPending = true;
  requestAnimationFrame(() => {
    panel.drawPending = false;
    if (!panel.paused) draw(panel);
  });
}

function draw(panel) {
  const newest = panel.times.length ? panel.times[panel.times.length - 1] : 0;
  panel.plot.setData([panel.times, ...panel.columns], false);
  panel.plot.setScale("x", { min: Math.max(0, newest - panel.windowSeconds),
    max: Math.max(newest, panel.windowSeconds) });
  panel.plot.setScale("y", {}); // fits the values, whatever their unit
  panel.columns.forEach((column, k) => {
    const last = column.length ? column[column.length - 1] : null;
    panel.$(`value-${k}`).textContent = valueText(panel.channels[k], last);
    panel.$(`value-${k}`).classList.toggle("beyond", beyondLimits(panel.channels[k], last));
  });
}

function showOutputs(panel, outputs) {
  panel.outputs = outputs;
  outputs.lines.forEach((value, k) => { panel.$(`line-${k}`).checked = value > 0; });
  panel.$("led").setAttribute("aria-pressed", String(outputs.lines[0] > 0));
  if (document.activeElement !== panel.$("pwm")) panel.$("pwm").value = outputs.pwm;
  panel.$("pwm-value").textContent = outputs.pwm;
  if (document.activeElement !== panel.$("frequency")) panel.$("frequency").value = outputs.frequency;
}

function showStatus(panel, status) {
  const missed = status.missed ? `, ${status.missed} slot${status.missed === 1 ? "" : "s"} missed` : "";
  const trouble = troubles[status.board] ? `${troubles[status.board](status.since)}; ` : "";
  panel.$("status").textContent = `${status.device}: ${trouble}${answers[status.answer]}; ` +
    `${status.rate.toFixed(1)} scans/s${missed}`;
  panel.$("status").classList.toggle("trouble", status.answer !== "whole" || trouble !== "");
  panel.recording = status.recording.on;
  panel.$("record").textContent = status.recording.on ? "Stop and download" : "Record";
  panel.$("record").classList.toggle("on", status.recording.on);
  panel.$("record-state").textContent =
    status.recording.on ? `recording: ${status.recording.rows} scans` : "";
}

function connect(panel) {
  if (panel.stream) panel.stream.close();
  panel.stream = new EventSource(panel.url(`/events/${panel.windowSeconds}`));
  panel.stream.addEventListener("hello", (e) => {
    const hello = JSON.parse(e.data);
    if (!panel.plot) build(panel, hello);
    panel.interval = hello.interval;
    panel.times = [];
    panel.columns = hello.inputs.map(() => []);
    append(panel, hello.scans);
    showOutputs(panel, hello.outputs);
    showStatus(panel, hello.status);
  });
  panel.stream.addEventListener("scans", (e) => append(panel, JSON.parse(e.data)));
  panel.stream.addEventListener("outputs", (e) => showOutputs(panel, JSON.parse(e.data)));
  panel.stream.addEventListener("status", (e) => showStatus(panel, JSON.parse(e.data)));
  panel.stream.onerror = () => { panel.$("status").textContent = "no connection to vostrelle-panel"; };
}

function download(panel) {
  const link = document.createElement("a");
  link.href = panel.url("/recording.csv");
  link.download = `vostrelle-recording-board-${panel.board}.csv`;
  document.body.append(link);
  link.click();
  link.remove();
}

async function switchRecording(panel) {
  if (!panel.recording) return showStatus(panel, await post(panel, "/record/start"));
  try {
    showStatus(panel, await post(panel, "/record/stop"));
  } catch (error) {
    // stopped already: the rows are there to take
  }
  return download(panel);
}

function wireControls(panel) {
  const shown = (outputs) => showOutputs(panel, outputs);
  panel.$("pwm").addEventListener("change",
    () => post(panel, "/pwm", panel.$("pwm").value).then(shown, () => {}));
  panel.$("frequency").addEventListener("change", () => post(panel, "/frequency", panel.$("frequency").value)
    .then(shown, () => shown(panel.outputs)));
  panel.$("led").addEventListener("click",
    () => post(panel, "/led", panel.outputs.lines[0] > 0 ? 0 : 1).then(shown, () => {}));
  panel.$("pause").addEventListener("click", () => {
    panel.paused = !panel.paused;
    panel.$("pause").textContent = panel.paused ? "Resume" : "Pause";
    scheduleDraw(panel);
  });
  panel.$("window").addEventListener("change", () => {
    panel.windowSeconds = Number(panel.$("window").value);
    connect(panel);
  });
  panel.$("record").addEventListener("click", () => switchRecording(panel));
}

// A channel's value for `volts`: its line (gain, offset) or its table.
function scaleOf(channel, volts) {
  if (volts == null) return null;
  if (!channel.table) return channel.gain * volts + channel.offset;
  const t = channel.table;
  if (volts <= t[0][0]) return t[0][1];
  for (let i = 1; i < t.length; i++) {
    const [[v0, x0], [v1, x1]] = [t[i - 1], t[i]];
    if (volts <= v1) return x0 + ((x1 - x0) * (volts - v0)) / (v1 - v0);
  }
  return t[t.length - 1][1];
}

// One section for each board the server has: it refuses the first number
// beyond them.
async function start() {
  const sections = [];
  for (let board = 0; ; board++) {
    const probe = await fetch(`/events/0?board=${board}`, { method: "HEAD" });
    if (!probe.ok) break;
    const root = document.getElementById("board").content.firstElementChild.cloneNode(true);
    document.getElementById("boards").append(root);
    sections.push(boardSection(board, root));
  }
  window.vostrelleBoards = sections;
}
start();
