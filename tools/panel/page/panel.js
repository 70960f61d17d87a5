// vostrelle-panel's page: one section per board, each following its board's
// live stream of scans as curves (in the channels' units where the channel
// file names them), its outputs as controls that show what the driver reads
// back, and its recording. A section's requests name its board (?board=N).
"use strict";

const colors = ["#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd", "#8c564b", "#e377c2", "#17becf"];
const answers = {
  whole: "the board answers",
  "one-byte": "the board answers with one byte of two: unplug it and plug it in again",
  none: "the board does not answer: is it plugged in and its firmware running?",
};

// What the status adds when the board is not scanned as usual.
const troubles = {
  silent: (since) => `board silent since ${since}`,
  gone: (since) => `board gone since ${since}`,
  loading: () => "loading the driver",
};

// Every board's section, in the server's order; window.vostrellePanel (the
// first) and window.vostrelleBoards let tests look inside.
const sections = [];
window.vostrelleBoards = sections;

const colorOf = (k) => colors[k % colors.length];

// A channel's value for `volts`: its line (gain, offset) or its table,
// clamped at the table's ends; volts as they are where no channel is named.
function scaleOf(channel, volts) {
  if (volts == null || !channel) return volts;
  if (!channel.table) return channel.gain * volts + channel.offset;
  const t = channel.table;
  if (volts <= t[0][0]) return t[0][1];
  for (let i = 1; i < t.length; i++) {
    const [[v0, x0], [v1, x1]] = [t[i - 1], t[i]];
    if (volts <= v1) return x0 + ((x1 - x0) * (volts - v0)) / (v1 - v0);
  }
  return t[t.length - 1][1];
}

// An input's value as the page shows it: in its channel's unit and decimals,
// else in volts.
function valueText(channel, value) {
  if (value == null) return "";
  return channel ? `${value.toFixed(channel.decimals)} ${channel.unit}` : `${value.toFixed(3)} V`;
}

function beyondLimits(channel, value) {
  return Boolean(channel && channel.limits && value != null &&
    (value < channel.limits[0] || value > channel.limits[1]));
}

// One board's section; `board` is its number in the server's order.
function boardSection(board) {
  const root = document.getElementById("board").content.firstElementChild.cloneNode(true);
  document.getElementById("boards").append(root);
  const panel = { board, root, windowSeconds: 30, paused: false, times: [], columns: [], plot: null,
    stream: null, recording: false, outputs: null, channels: [], pwmSending: false,
    received: 0, // scan events, for the benchmark
    drawn: 0, // curve redraws, likewise
    drawPending: false, interval: 0.04 }; // seconds between scans, as the server sends it
  panel.$ = (name) => root.querySelector(`.${name}`);
  panel.url = (path) => (board ? `${path}?board=${board}` : path);
  wireControls(panel);
  connect(panel);
  return panel;
}

function showError(panel, text) {
  panel.$("error").textContent = text;
}

// A POST of one value; resolves to the server's JSON answer, or shows why not.
async function post(panel, path, value = "") {
  const response = await fetch(panel.url(path), { method: "POST", body: String(value),
    headers: { "Content-Type": "text/plain" } });
  const text = await response.text();
  if (!response.ok) {
    showError(panel, text.trim());
    throw new Error(text);
  }
  showError(panel, "");
  return JSON.parse(text);
}

// The limits a channel's label states, e.g. "limits 10 to 40 °C".
const limitsText = (channel) => `limits ${channel.limits[0]} to ${channel.limits[1]} ${channel.unit}`;

function channelLabel(panel, name, k) {
  const channel = panel.channels[k];
  const label = document.createElement("label");
  label.innerHTML = `<input type="checkbox" checked><span class="swatch"></span><span class="name"></span>` +
    `<span class="value value-${k}"></span>`;
  label.querySelector(".swatch").style.background = colorOf(k);
  label.querySelector(".name").textContent = channel ? `${channel.name || name} (${channel.unit})` : name;
  if (channel && channel.limits) {
    const limits = document.createElement("span");
    limits.className = "limits";
    limits.textContent = limitsText(channel);
    label.append(limits);
    label.classList.add("limited");
  }
  label.querySelector("input").addEventListener("change",
    (e) => panel.plot.setSeries(k + 1, { show: e.target.checked }));
  return label;
}

function buildChannels(panel, inputs) {
  if (panel.channels.some(Boolean)) panel.$("channels").querySelector("legend").textContent = "Inputs";
  inputs.forEach((name, k) => panel.$("channels").append(channelLabel(panel, name, k)));
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

// The ranges the board takes, as the server sends them; the output controls
// stay disabled until then, so that no value outside them is shown or sent.
function applyLimits(panel, limits) {
  panel.$("pwm").max = limits.pwm;
  panel.$("frequency").max = limits.frequency;
  panel.$("frequency-range").textContent = `(0 to ${limits.frequency})`;
  for (const name of ["led", "pwm", "frequency"]) panel.$(name).disabled = false;
}

// Each shown channel's limits as dashed lines in its colour.
function drawLimits(panel, u) {
  const { ctx, bbox } = u;
  ctx.save();
  ctx.setLineDash([6, 4]);
  ctx.lineWidth = 1;
  panel.channels.forEach((channel, k) => {
    if (!channel || !channel.limits || !u.series[k + 1].show) return;
    ctx.strokeStyle = colorOf(k);
    for (const limit of channel.limits) {
      const y = Math.round(u.valToPos(limit, "y", true)) + 0.5;
      ctx.beginPath();
      ctx.moveTo(bbox.left, y);
      ctx.lineTo(bbox.left + bbox.width, y);
      ctx.stroke();
    }
  });
  ctx.restore();
}

// The value axis fits the values and takes in the channels' limits.
function valueRange(panel, min, max) {
  for (const channel of panel.channels) {
    if (!channel || !channel.limits) continue;
    min = min == null ? channel.limits[0] : Math.min(min, channel.limits[0]);
    max = max == null ? channel.limits[1] : Math.max(max, channel.limits[1]);
  }
  return uPlot.rangeNum(min, max, 0.1, true);
}

// Volts on a fixed 0..5 axis; values in other units on an axis that fits them
// and their limits.
function valueScale(panel) {
  if (!panel.fitsValues) return { range: [0, 5] };
  const limited = panel.channels.some((channel) => channel && channel.limits);
  return limited ? { range: (u, min, max) => valueRange(panel, min, max) } : {};
}

function buildChart(panel, inputs) {
  const chart = panel.$("chart");
  panel.fitsValues = panel.channels.some(Boolean);
  const series = [{ label: "seconds" }].concat(inputs.map((name, k) => (
    { label: name, stroke: colorOf(k), width: 1.5, value: (u, v) => valueText(panel.channels[k], v) })));
  panel.plot = new uPlot({
    width: chart.clientWidth,
    height: 380,
    series,
    legend: { show: false },
    scales: { x: { time: false }, y: valueScale(panel) },
    axes: [{ label: "seconds" }, { label: panel.fitsValues ? "value" : "volts" }],
    hooks: { draw: [(u) => drawLimits(panel, u)] },
  }, [[], ...panel.columns], chart);
  window.addEventListener("resize", () => panel.plot.setSize({ width: chart.clientWidth, height: 380 }));
}

function build(panel, hello) {
  if (panel.board === 0) document.title = hello.title;
  panel.$("title").textContent = hello.title;
  panel.channels = hello.channels || [];
  buildChannels(panel, hello.inputs);
  buildLines(panel, hello.lines);
  applyLimits(panel, hello.limits);
  buildChart(panel, hello.inputs);
}

// The scans with a point of no value (null) wherever at least four slots in a
// row hold none, so that the curves break there instead of bridging the gap;
// `previous` is the time of the scan before the first. Pure, for the tests.
function withGaps(scans, previous, interval) {
  const shaped = { t: [], v: scans.v.map(() => []) };
  scans.t.forEach((t, i) => {
    const before = i ? scans.t[i - 1] : previous;
    if (before != null && t - before > 5 * interval) {
      shaped.t.push(before + interval);
      shaped.v.forEach((column) => column.push(null));
    }
    shaped.t.push(t);
    shaped.v.forEach((column, k) => column.push(scans.v[k][i]));
  });
  return shaped;
}

// The received volts in the channels' units, kept for the window shown.
function append(panel, received) {
  const scans = withGaps(received, panel.times[panel.times.length - 1], panel.interval);
  panel.times.push(...scans.t);
  scans.v.forEach((values, k) => panel.columns[k].push(...values.map((v) => scaleOf(panel.channels[k], v))));
  const newest = panel.times[panel.times.length - 1];
  let drop = 0;
  while (drop < panel.times.length && panel.times[drop] < newest - panel.windowSeconds) drop++;
  if (drop > 0) {
    panel.times.splice(0, drop);
    panel.columns.forEach((column) => column.splice(0, drop));
  }
  scheduleDraw(panel);
}

function scheduleDraw(panel) {
  if (panel.paused || panel.drawPending) return;
  panel.drawPending = true;
  requestAnimationFrame(() => {
    panel.drawPending = false;
    if (!panel.paused) draw(panel); // paused after this frame was asked for: nothing
  });
}

function draw(panel) {
  const newest = panel.times.length ? panel.times[panel.times.length - 1] : 0;
  panel.plot.batch(() => {
    panel.plot.setData([panel.times, ...panel.columns], panel.fitsValues);
    panel.plot.setScale("x", { min: Math.max(0, newest - panel.windowSeconds),
      max: Math.max(newest, panel.windowSeconds) });
  });
  panel.columns.forEach((column, k) => {
    const last = column.length ? column[column.length - 1] : null;
    panel.$(`value-${k}`).textContent = valueText(panel.channels[k], last);
    panel.$(`value-${k}`).classList.toggle("beyond", beyondLimits(panel.channels[k], last));
  });
  panel.drawn++;
}

function showOutputs(panel, outputs) {
  panel.outputs = outputs;
  outputs.lines.forEach((value, k) => { panel.$(`line-${k}`).checked = value > 0; });
  panel.$("led").setAttribute("aria-pressed", String(outputs.lines[0] > 0));
  if (document.activeElement !== panel.$("pwm")) panel.$("pwm").value = outputs.pwm;
  panel.$("pwm-value").textContent = outputs.pwm;
  if (document.activeElement !== panel.$("frequency")) panel.$("frequency").value = outputs.frequency;
}

// Every page opens one stream per board: the server counts them all.
function pagesText(streams) {
  const pages = Math.ceil(streams / Math.max(1, sections.length));
  return pages === 1 ? "1 page open" : `${pages} pages open`;
}

function showStatus(panel, status) {
  const rate = `${status.rate.toFixed(1)} scans/s`;
  const missed = status.missed ? `, ${status.missed} slot${status.missed === 1 ? "" : "s"} missed` : "";
  const trouble = troubles[status.board] ? `${troubles[status.board](status.since)}; ` : "";
  panel.$("status").textContent = `${status.device}${status.simulated ? " (simulated board)" : ""}: ` +
    `${trouble}${answers[status.answer]}; ${rate}${missed}; ${pagesText(status.pages)}`;
  panel.$("status").classList.toggle("trouble", status.answer !== "whole" || trouble !== "");
  showRecording(panel, status.recording);
}

function showRecording(panel, recording) {
  panel.recording = recording.on;
  panel.$("record").textContent = recording.on ? "Stop and download" : "Record";
  panel.$("record").classList.toggle("on", recording.on);
  panel.$("record-state").textContent = recording.on ? `recording: ${recording.rows} scans`
    : recording.full ? "the recording stopped at its limit of one hour: press Stop… again to download" : "";
}

function greet(panel, hello) {
  if (!panel.plot) build(panel, hello);
  panel.interval = hello.interval;
  panel.times = [];
  panel.columns = hello.inputs.map(() => []);
  append(panel, hello.scans);
  showOutputs(panel, hello.outputs);
  showStatus(panel, hello.status);
}

function connect(panel) {
  if (panel.stream) panel.stream.close();
  panel.stream = new EventSource(panel.url(`/events/${panel.windowSeconds}`));
  panel.stream.addEventListener("hello", (e) => greet(panel, JSON.parse(e.data)));
  panel.stream.addEventListener("scans", (e) => { panel.received++; append(panel, JSON.parse(e.data)); });
  panel.stream.addEventListener("outputs", (e) => showOutputs(panel, JSON.parse(e.data)));
  panel.stream.addEventListener("status", (e) => showStatus(panel, JSON.parse(e.data)));
  panel.stream.onerror = () => {
    panel.$("status").textContent = "no connection to vostrelle-panel: is it still running?";
    panel.$("status").classList.add("trouble");
  };
}

function download(panel) {
  const link = document.createElement("a");
  link.href = panel.url("/recording.csv");
  link.download = sections.length > 1 ? `vostrelle-recording-board-${panel.board}.csv`
    : "vostrelle-recording.csv";
  document.body.append(link);
  link.click();
  link.remove();
}

async function switchRecording(panel) {
  if (!panel.recording) {
    showStatus(panel, await post(panel, "/record/start"));
    return;
  }
  try {
    showStatus(panel, await post(panel, "/record/stop"));
  } catch (error) {
    // stopped already (at its limit, or from another page): the rows are there to take
  }
  download(panel);
}

// The PWM slider sends while it moves, one request at a time, the last value last.
async function sendPwm(panel) {
  if (panel.pwmSending) return;
  panel.pwmSending = true;
  try {
    let sent;
    do {
      sent = panel.$("pwm").value;
      showOutputs(panel, await post(panel, "/pwm", sent));
    } while (panel.$("pwm").value !== sent);
  } catch (error) {
    showOutputs(panel, panel.outputs);
  } finally {
    panel.pwmSending = false;
  }
}

function switchPause(panel) {
  panel.paused = !panel.paused;
  panel.$("pause").textContent = panel.paused ? "Resume" : "Pause";
  panel.$("pause").setAttribute("aria-pressed", String(panel.paused));
  scheduleDraw(panel);
}

function wireControls(panel) {
  const shown = (outputs) => showOutputs(panel, outputs);
  const kept = () => showOutputs(panel, panel.outputs);
  panel.$("pwm").addEventListener("input", () => {
    panel.$("pwm-value").textContent = panel.$("pwm").value;
    sendPwm(panel);
  });
  panel.$("frequency").addEventListener("change",
    () => post(panel, "/frequency", panel.$("frequency").value).then(shown, kept));
  panel.$("led").addEventListener("click",
    () => post(panel, "/led", panel.outputs.lines[0] > 0 ? 0 : 1).then(shown, () => {}));
  panel.$("pause").addEventListener("click", () => switchPause(panel));
  panel.$("window").addEventListener("change", () => {
    panel.windowSeconds = Number(panel.$("window").value);
    connect(panel); // the server sends the history the wider window needs
  });
  panel.$("record").addEventListener("click", () => switchRecording(panel));
}

// The first board's section at once; one more for each further board the
// server has: it refuses the first number beyond them.
async function start() {
  sections.push(boardSection(0));
  window.vostrellePanel = sections[0];
  window.vostrellePanel.withGaps = withGaps;
  for (let board = 1; ; board++) {
    const probe = await fetch(`/events/0?board=${board}`, { method: "HEAD" });
    if (!probe.ok) break;
    sections.push(boardSection(board));
  }
}
start();
