// vostrelle-panel while its board is unplugged and when it comes back, in
// Debian's headless chromium against a simulated board at a link: the
// panel's CPU while the board is gone, without and with a page open, and the
// time from the board's return (the new simulator's link appears) to the
// page showing its first reading.
// Usage: node bench/panel_follow.js TOOLS_DIR NODE_MODULES [RETURNS]   (the build's tools folder, which
// holds panel/vostrelle-panel; RETURNS unplugs and returns timed, default 5)
"use strict";
const { spawn } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");

const [tools, nodeModules, returnsText] = process.argv.slice(2);
const returns = Number(returnsText || 5);
const puppeteer = require(path.resolve(nodeModules, "puppeteer-core"));
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const hertz = 100; // clock ticks a second in /proc
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const processTicks = (pid) => { // user + system time
  const fields = fs.readFileSync(`/proc/${pid}/stat`, "utf8").split(") ")[1].split(" ");
  return Number(fields[11]) + Number(fields[12]);
};
async function cpuShare(pid, seconds) { // of one core
  const before = processTicks(pid);
  await sleep(seconds * 1000);
  return (processTicks(pid) - before) / hertz / seconds;
}

const directory = fs.mkdtempSync(path.join(os.tmpdir(), "panel-follow-"));
const link = path.join(directory, "board");
// A simulated board at the link with input 3 fixed at `count`; resolves once the link is there.
async function plug(count) {
  const sim = spawn(path.join(tools, "vostrelle-sim"), ["--link", link, "--input", `3=${count}`],
    { stdio: "ignore" });
  while (!fs.existsSync(link)) await sleep(2);
  sim.pluggedAt = Date.now();
  return sim;
}
async function unplug(sim) {
  const ended = new Promise((resolve) => sim.once("exit", resolve));
  sim.kill("SIGTERM");
  await ended;
}

(async () => {
  let sim = await plug(512);
  const panel = spawn(path.join(tools, "panel", "vostrelle-panel"), ["--port", "0"],
    { stdio: ["ignore", "pipe", "pipe"], env: { ...process.env, VOSTRELLE_DEVICE: link } });
  let output = "";
  panel.stdout.on("data", (d) => { output += d; });
  panel.stderr.on("data", (d) => { output += d; });
  while (!/token=[0-9a-f]+/.test(output)) await sleep(50);
  const url = output.match(/http:\/\/\S+token=[0-9a-f]+/)[0];
  const rows = [];
  const row = (what, figure, target) => { rows.push(`| ${what} | ${figure} | ${target} |`); };

  await unplug(sim);
  await sleep(2000);
  const alone = await cpuShare(panel.pid, 10);
  const browser = await puppeteer.launch({ executablePath: "/usr/bin/chromium", headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--no-first-run"] });
  const page = await browser.newPage();
  await page.goto(url);
  await page.waitForFunction(() => window.vostrellePanel.plot);
  await sleep(2000);
  const withPage = await cpuShare(panel.pid, 10);
  row("server CPU, board gone, no page open", `${(alone * 100).toFixed(2)} % of a core`, "≤ 2 %");
  row("server CPU, board gone, a page open", `${(withPage * 100).toFixed(2)} % of a core`, "≤ 2 %");

  // Each return: the new board's input 3 alternates between 1023 and 0, the page notes when it shows it.
  const delays = [];
  for (let k = 0; k < returns; k++) {
    const count = k % 2 ? 0 : 1023;
    const shown = count ? "5.000 V" : "0.000 V";
    await page.evaluate(() => { window.shownAt = null; });
    await page.evaluate((text) => {
      const value = document.getElementById("value-3");
      new MutationObserver((_, observer) => {
        if (value.textContent === text) { window.shownAt = Date.now(); observer.disconnect(); }
      }).observe(value, { childList: true, characterData: true, subtree: true });
    }, shown);
    sim = await plug(count);
    await page.waitForFunction(() => window.shownAt !== null, { timeout: 20000 });
    delays.push((await page.evaluate(() => window.shownAt)) - sim.pluggedAt);
    await unplug(sim);
    await sleep(1500);
  }
  row(`board back to its first reading shown (${returns} returns: median, max)`,
    `${median(delays)} ms, ${Math.max(...delays)} ms`, "≤ 2500 ms (the driver's 2 s load + 0.5 s)");

  await browser.close();
  panel.kill("SIGTERM");
  fs.rmSync(directory, { recursive: true, force: true });
  console.log("| measure | result | target |\n|---|---:|---|\n" + rows.join("\n"));
})();
