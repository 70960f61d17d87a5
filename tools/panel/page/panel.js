// vostrelle-panel's page: the live stream of scans drawn as curves, the
// outputs as controls that show what the driver reads back, the recording.
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

// Everything the page keeps; window.vostrellePanel lets tests look inside.
const panel = {
  windowSeconds: 30,
  paused: false,
  times: [],
  columns: [],
  plot: null,
  stream: null,
  recording: false,
  received: 0, // scan events, for the benchmark
  drawn: 0, // curve redraws, likewise
  drawPending: false,
  interval: 0.04, // seconds between scans, as the server sends it
};
window.vostrellePanel = panel;

const $ = (id) => document.getElementById(id);

function showError(text) {
  $("error").textContent = text;
}

// A POST of one value; resolves to the server's JSON answer, or shows why not.
async function post(path, value = "") {
  const response = await fetch(path, { method: "POST", body: String(value), headers: { "Content-Type": "text/plain" } });
  const text = await response.text();
  if (!response.ok) {
    showError(text.trim());
    throw new Error(text);
  }
  showError("");
  return JSON.parse(text);
}

const colorOf = (k) => colors[k % colors.length];

function buildChannels(inputs) {
  inputs.forEach((name, k) => {
    const label = document.createElement("label");
    label.innerHTML = `<input type="checkbox" checked><span class="swatch"></span><span class="name"></span>` +
      `<span class="value" id="value-${k}"></span>`;
    label.querySelector(".swatch").style.background = colorOf(k);
    label.querySelector(".name").textContent = name;
    label.querySelector("input").addEventListener("change", (e) => panel.plot.setSeries(k + 1, { show: e.target.checked }));
    $("channels").append(label);
  });
}

function buildLines(lines) {
  lines.forEach((name, k) => {
    const label = document.createElement("label");
    label.innerHTML = `<input type="checkbox" id="line-${k}"><span></span>`;
    label.querySelector("span").textContent = name;
    label.querySelector("input").addEventListener("change", (e) => {
      post(`/line/${k}`, e.target.checked ? 1 : 0).then(showOutputs, () => showOutputs(panel.outputs));
    });
    $("lines").append(label);
  });
}

// The ranges the board takes, as the server sends them; the output controls
// stay disabled until then, so that no value outside them is shown or sent.
function applyLimits(limits) {
  $("pwm").max = limits.pwm;
  $("frequency").max = limits.frequency;
  $("frequency-range").textContent = `(0 to ${limits.frequency})`;
  for (const id of ["led", "pwm", "frequency"]) $(id).disabled = false;
}

function buildChart(inputs) {
  const series = [{ label: "seconds" }].concat(inputs.map((name, k) => (
    { label: name, stroke: colorOf(k), width: 1.5, value: (u, v) => (v == null ? "" : v.toFixed(3) + " V") })));
  panel.plot = new uPlot({
    width: $("chart").clientWidth,
    height: 380,
    series,
    legend: { show: false },
    scales: { x: { time: false }, y: { range: [0, 5] } },
    axes: [{ label: "seconds" }, { label: "volts" }],
  }, [[], ...panel.columns], $("chart"));
  window.addEventListener("resize", () => panel.plot.setSize({ width: $("chart").clientWidth, height: 380 }));
}

function build(hello) {
  document.title = hello.title;
  $("title").textContent = hello.title;
  panel.columns = hello.inputs.map(() => []);
  buildChannels(hello.inputs);
  buildLines(hello.lines);
  applyLimits(hello.limits);
  buildChart(hello.inputs);
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
panel.withGaps = withGaps;

function append(received) {
  const scans = withGaps(received, panel.times[panel.times.length - 1], panel.interval);
  panel.times.push(...scans.t);
  scans.v.forEach((values, k) => panel.columns[k].push(...values));
  const newest = panel.times[panel.times.length - 1];
  let drop = 0;
  while (drop < panel.times.length && panel.times[drop] < newest - panel.windowSeconds) drop++;
  if (drop > 0) {
    panel.times.splice(0, drop);
    panel.columns.forEach((column) => column.splice(0, drop));
  }
  scheduleDraw();
}

function scheduleDraw() {
  if (panel.paused || panel.drawPending) return;
  panel.drawPending = true;
  requestAnimationFrame(() => {
    panel.drawPending = false;
    if (panel.paused) return; // paused after this frame was asked for
    const newest = panel.times.length ? panel.times[panel.times.length - 1] : 0;
    panel.plot.batch(() => {
      panel.plot.setData([panel.times, ...panel.columns], false);
      panel.plot.setScale("x", { min: Math.max(0, newest - panel.windowSeconds), max: Math.max(newest, panel.windowSeconds) });
    });
    panel.columns.forEach((column, k) => {
      $(`value-${k}`).textContent = column.length ? column[column.length - 1].toFixed(3) + " V" : "";
    });
    panel.drawn++;
  });
}

function showOutputs(outputs) {
  panel.outputs = outputs;
  outputs.lines.forEach((value, k) => { $(`line-${k}`).checked = value > 0; });
  $("led").setAttribute("aria-pressed", String(outputs.lines[0] > 0));
  if (document.activeElement !== $("pwm")) $("pwm").value = outputs.pwm;
  $("pwm-value").textContent = outputs.pwm;
  if (document.activeElement !== $("frequency")) $("frequency").value = outputs.frequency;
}

function showStatus(status) {
  const rate = `${status.rate.toFixed(1)} scans/s`;
  const missed = status.missed ? `, ${status.missed} slot${status.missed === 1 ? "" : "s"} missed` : "";
  const pages = status.pages === 1 ? "1 page open" : `${status.pages} pages open`;
  const trouble = troubles[status.board] ? `${troubles[status.board](status.since)}; ` : "";
  $("status").textContent = `${status.device}${status.simulated ? " (simulated board)" : ""}: ` +
    `${trouble}${answers[status.answer]}; ${rate}${missed}; ${pages}`;
  $("status").classList.toggle("trouble", status.answer !== "whole" || trouble !== "");
  panel.recording = status.recording.on;
  $("record").textContent = status.recording.on ? "Stop and download" : "Record";
  $("record").classList.toggle("on", status.recording.on);
  $("record-state").textContent = status.recording.on ? `recording: ${status.recording.rows} scans`
    : status.recording.full ? "the recording stopped at its limit of one hour: press Stop… again to download" : "";
}

function connect() {
  if (panel.stream) panel.stream.close();
  panel.stream = new EventSource(`/events/${panel.windowSeconds}`);
  panel.stream.addEventListener("hello", (e) => {
    const hello = JSON.parse(e.data);
    if (!panel.plot) build(hello);
    panel.interval = hello.interval;
    panel.times = [];
    panel.columns = hello.inputs.map(() => []);
    append(hello.scans);
    showOutputs(hello.outputs);
    showStatus(hello.status);
  });
  panel.stream.addEventListener("scans", (e) => { panel.received++; append(JSON.parse(e.data)); });
  panel.stream.addEventListener("outputs", (e) => showOutputs(JSON.parse(e.data)));
  panel.stream.addEventListener("status", (e) => showStatus(JSON.parse(e.data)));
  panel.stream.onerror = () => {
    $("status").textContent = "no connection to vostrelle-panel: is it still running?";
    $("status").classList.add("trouble");
  };
}

function download() {
  const link = document.createElement("a");
  link.href = "/recording.csv";
  link.download = "vostrelle-recording.csv";
  document.body.append(link);
  link.click();
  link.remove();
}

// The PWM slider sends while it moves, one request at a time, the last value last.
let pwmSending = false;
async function sendPwm() {
  if (pwmSending) return;
  pwmSending = true;
  try {
    let sent;
    do {
      sent = $("pwm").value;
      showOutputs(await post("/pwm", sent));
    } while ($("pwm").value !== sent);
  } catch (error) {
    showOutputs(panel.outputs);
  } finally {
    pwmSending = false;
  }
}

$("pwm").addEventListener("input", () => { $("pwm-value").textContent = $("pwm").value; sendPwm(); });
$("frequency").addEventListener("change", () => {
  post("/frequency", $("frequency").value).then(showOutputs, () => showOutputs(panel.outputs));
});
$("led").addEventListener("click", () => {
  post("/led", panel.outputs.lines[0] > 0 ? 0 : 1).then(showOutputs, () => {});
});
$("pause").addEventListener("click", () => {
  panel.paused = !panel.paused;
  $("pause").textContent = panel.paused ? "Resume" : "Pause";
  $("pause").setAttribute("aria-pressed", String(panel.paused));
  scheduleDraw();
});
$("window").addEventListener("change", () => {
  panel.windowSeconds = Number($("window").value);
  connect(); // the server sends the history the wider window needs
});
$("record").addEventListener("click", async () => {
  if (!panel.recording) {
    showStatus(await post("/record/start"));
    return;
  }
  try {
    showStatus(await post("/record/stop"));
  } catch (error) {
    // stopped already (at its limit, or from another page): the rows are there to take
  }
  download();
});

connect();
