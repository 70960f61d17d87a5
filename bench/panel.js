// vostrelle-panel's figures, in Debian's headless chromium against the
// simulated board: the first page load, live updates a second, an input
// step to the curve, the server's CPU with two pages open beyond the
// conversions alone, and resident memory over a long run with a page open.
// Usage: node bench/panel.js TOOLS_DIR NODE_MODULES [MINUTES]   (the build's tools folder, which holds
// panel/vostrelle-panel; MINUTES of the memory run, default 10)
"use strict";
const { spawn } = require("child_process");
const fs = require("fs");
const path = require("path");

const [tools, nodeModules, minutesText] = process.argv.slice(2);
const minutes = Number(minutesText || 10);
const puppeteer = require(path.resolve(nodeModules, "puppeteer-core"));
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const stepsFrom = 60, stepCount = 20; // seconds after the start: 20 steps, 1.5 s apart
const hertz = 100; // clock ticks a second in /proc

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const percentile = (values, p) => [...values].sort((a, b) => a - b)[Math.ceil(p * values.length) - 1];
const processTicks = (pid) => { // user + system time
  const fields = fs.readFileSync(`/proc/${pid}/stat`, "utf8").split(") ")[1].split(" ");
  return Number(fields[11]) + Number(fields[12]);
};
const residentKiB = (pid) => Number(fs.readFileSync(`/proc/${pid}/status`, "utf8").match(/VmRSS:\s+(\d+)/)[1]);
async function cpuShare(pid, seconds) { // of one core
  const before = processTicks(pid);
  await sleep(seconds * 1000);
  return (processTicks(pid) - before) / hertz / seconds;
}

(async () => {
  const steps = [];
  for (let k = 0; k < stepCount; k++) steps.push("--step", `2=${k % 2 ? 0 : 1023}@${stepsFrom + k * 1.5}`);
  const sim = spawn(path.join(tools, "vostrelle-sim"), [...steps, "--run", "--", path.join(tools, "panel", "vostrelle-panel"),
    "--port", "0"], { stdio: ["ignore", "pipe", "pipe"] });
  let output = "";
  sim.stdout.on("data", (d) => { output += d; });
  sim.stderr.on("data", (d) => { output += d; });
  sim.on("exit", () => { if (!/token=[0-9a-f]+/.test(output)) { console.error(output); process.exit(1); } });
  while (!/token=[0-9a-f]+/.test(output)) await sleep(50);
  const link = output.match(/http:\/\/\S+token=[0-9a-f]+/)[0];
  const pid = Number(fs.readFileSync(`/proc/${sim.pid}/task/${sim.pid}/children`, "utf8").trim());
  const browser = await puppeteer.launch({ executablePath: "/usr/bin/chromium", headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--no-first-run"] });
  const rows = [];
  const row = (what, figure, target) => { rows.push(`| ${what} | ${figure} | ${target} |`); };

  await sleep(3000);
  const alone = await cpuShare(pid, 10);

  // First load: page, scripts, styles and the first scans drawn.
  const loads = [];
  let first = null;
  for (let k = 0; k < 6; k++) {
    const page = await browser.newPage();
    const start = Date.now();
    await page.goto(k === 0 ? link : link.replace(/\?token=.*/, ""));
    await page.waitForFunction(() => window.vostrellePanel.drawn > 0 && window.vostrellePanel.times.length > 0,
      { polling: "raf" });
    loads.push(Date.now() - start);
    if (k === 0) first = page;
    else await page.close();
  }
  row("first load with the link (token exchange, page, scripts, first data drawn)", `${loads[0]} ms`, "≤ 300 ms");
  row("load again, five times (median, max)", `${median(loads.slice(1))} ms, ${Math.max(...loads.slice(1))} ms`, "");

  const counts = () => first.evaluate(() => [window.vostrellePanel.received, window.vostrellePanel.drawn,
    window.vostrellePanel.times.length]);
  const [events0, drawn0, scans0] = await counts();
  await sleep(10000);
  const [events1, drawn1, scans1] = await counts();
  row("live updates a second, all eight inputs (events; scans; curve redraws)",
    `${(events1 - events0) / 10}; ${(scans1 - scans0) / 10}; ${(drawn1 - drawn0) / 10}`, "≥ 20");

  const second = await browser.newPage();
  await second.goto(link.replace(/\?token=.*/, ""));
  await sleep(2000);
  const twoPages = await cpuShare(pid, 20);
  row("server CPU, no page open (the conversions)", `${(alone * 100).toFixed(2)} % of a core`, "");
  row("server CPU, two pages open", `${(twoPages * 100).toFixed(2)} % of a core`, "");
  row("server CPU for the two pages, beyond the conversions", `${((twoPages - alone) * 100).toFixed(2)} % of a core`,
    "≤ 5 %");
  await second.close();
  await first.bringToFront();

  // Input steps, each timed from the simulator's change to the page's redraw showing it.
  await first.evaluate(() => {
    window.seen = [];
    const value = document.getElementById("value-2");
    new MutationObserver(() => window.seen.push([Date.now(), value.textContent])).observe(value, { childList: true,
      characterData: true, subtree: true });
  });
  const rssBefore = residentKiB(pid);
  while ((output.match(/input 2 set to/g) || []).length < stepCount) await sleep(500);
  await sleep(1000);
  const seen = await first.evaluate(() => window.seen);
  const delays = [...output.matchAll(/input 2 set to (\d+) at ([\d.]+) ms/g)].map(([, count, at]) => {
    const shown = seen.find(([when, text]) => when >= Number(at) && text === (count === "0" ? "0.000 V" : "5.000 V"));
    return shown ? shown[0] - Number(at) : Infinity;
  });
  row(`input step to curve (${stepCount} steps: median, p90, max)`,
    `${median(delays).toFixed(0)} ms, ${percentile(delays, 0.9).toFixed(0)} ms, ${Math.max(...delays).toFixed(0)} ms`,
    "≤ 100 ms");

  await sleep(minutes * 60000);
  const rssAfter = residentKiB(pid);
  row(`server resident memory, a page open: before, after ${minutes} min`, `${rssBefore} KiB, ${rssAfter} KiB`, "flat");

  await browser.close();
  sim.kill("SIGTERM");
  console.log("| measure | result | target |\n|---|---:|---|\n" + rows.join("\n"));
})();
