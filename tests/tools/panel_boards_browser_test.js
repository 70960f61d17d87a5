// vostrelle-panel with two simulated boards in a browser: each board's
// section shows its own board's values (input 0 of the first board in the
// unit the channel file gives it), and a click in a section reaches its own
// board only (the simulators' traces show which one switched its LED).
// Usage: node panel_boards_browser_test.js PANEL SIM NODE_MODULES
"use strict";
const { spawn } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");

const [panelProgram, simProgram, nodeModules] = process.argv.slice(2);
const puppeteer = require(path.resolve(nodeModules, "puppeteer-core"));
const browserPath = ["/usr/bin/chromium", "/usr/bin/chromium-browser"].find((p) => fs.existsSync(p));
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "panel-boards-"));

let passed = 0, failed = 0;
function check(name, ok) {
  if (ok) passed++;
  else { failed++; console.log(`FAILED: ${name}`); }
}

function start(command, args) {
  const child = spawn(command, args, { stdio: ["ignore", "pipe", "pipe"] });
  child.output = "";
  child.stdout.on("data", (chunk) => { child.output += chunk; });
  child.stderr.on("data", (chunk) => { child.output += chunk; });
  return child;
}

// Resolves once `test` holds for the child's output, within 60 s.
function waitFor(child, test) {
  return new Promise((resolve, reject) => {
    const timer = setInterval(() => {
      if (test(child.output)) { clearInterval(timer); clearTimeout(limit); resolve(); }
    }, 50);
    const limit = setTimeout(() => {
      clearInterval(timer);
      reject(new Error(`waited for:\n${child.output}`));
    }, 60000);
  });
}

function stop(child) {
  if (child.exitCode !== null || child.signalCode !== null) return Promise.resolve();
  const ended = new Promise((resolve) => child.once("exit", resolve));
  child.kill("SIGTERM");
  return ended;
}

// On a busy machine a reply that comes after the driver's deadline reads
// wrong for one scan: the value shown is waited for, up to 10 s.
const shows = (page, section, input, expected) => page.waitForFunction((s, k, text) =>
  document.querySelectorAll("section.board")[s].querySelector(`.value-${k}`).textContent === text,
{ timeout: 10000 }, section, input, expected).then(() => true, () => false);

async function twoBoards(browser, children) {
  const [a, b] = ["a", "b"].map((name) => path.join(scratch, name));
  const channels = path.join(scratch, "channels.toml");
  fs.writeFileSync(channels, `[[board]]\ndevice = "${a}"\n\n[board.input.0]\nname = "bath temperature"\n` +
    `unit = "°C"\ndecimals = 1\ngain = 100.0\nlimits = [10.0, 40.0]\n`);
  const simA = start(simProgram, ["--link", a, "--input", "0=100", "--trace"]);
  const simB = start(simProgram, ["--link", b, "--input", "0=700", "--trace"]);
  children.push(simA, simB);
  await waitFor(simA, () => fs.existsSync(a) && fs.existsSync(b));
  const panel = start(panelProgram,
    ["--port", "0", "--device", a, "--device", b, "--channels-file", channels]);
  children.push(panel);
  await waitFor(panel, (out) => /token=[0-9a-f]+/.test(out));
  const link = panel.output.match(/http:\/\/127\.0\.0\.1:\d+\/\?token=[0-9a-f]+/)[0];

  const page = await browser.newPage();
  await page.goto(link);
  await page.waitForFunction(() => document.querySelectorAll("section.board .value-1").length === 2 &&
    [...document.querySelectorAll("section.board .value-0")].every((e) => e.textContent !== ""),
  { timeout: 30000 });
  // Count 100 is 0.489 V: 48.9 °C on the first board; count 700 is 3.421 V on the second.
  check("the first section shows its board's input 0 in °C", await shows(page, 0, 0, "48.9 °C"));
  check("and marks it beyond its limits", await page.evaluate(() =>
    document.querySelector("section.board .value-0").classList.contains("beyond")));
  check("  named as the channel file names it", await page.evaluate(() =>
    document.querySelector("section.board .name").textContent) === "bath temperature (°C)");
  check("the second section shows its own board's input 0 in volts",
    await shows(page, 1, 0, "3.421 V"));

  await page.click("section.board:nth-of-type(2) .led");
  await page.waitForFunction(() => document.querySelectorAll("section.board .led")[1]
    .getAttribute("aria-pressed") === "true");
  await new Promise((resolve) => setTimeout(resolve, 300));
  check("a click in the second section switches the second board's LED", /PB0 high/.test(simB.output));
  check("  and not the first board's", !/PB0 high/.test(simA.output));
  await page.close();
}

(async () => {
  if (!browserPath) {
    console.log("FAILED: no chromium (apt install chromium, or run scripts/setup.sh)");
    process.exit(1);
  }
  const browser = await puppeteer.launch({ executablePath: browserPath, headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--no-first-run"] });
  const children = [];
  try {
    await twoBoards(browser, children);
  } catch (error) {
    failed++;
    console.log(`FAILED: ${error.stack}`);
  } finally {
    await browser.close();
    for (const child of children.reverse()) await stop(child);
    fs.rmSync(scratch, { recursive: true, force: true });
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
})();
