// vostrelle-panel in a real browser (Debian's chromium, headless): the page
// opens with the printed link, names the eight inputs as the driver does,
// draws what the simulator's inputs hold, puts a click on the LED onto the
// line and shows the read-back, and downloads the recording; an input the
// channel file names is shown in its unit, its limits marked. Then a new
// user's `vostrelle-panel --simulate`: moving curves, kept as a screenshot.
// Usage: node panel_browser_test.js PANEL SIM NODE_MODULES SCREENSHOT.png
"use strict";
const { spawn } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");

const [panelProgram, simProgram, nodeModules, screenshot] = process.argv.slice(2);
const puppeteer = require(path.resolve(nodeModules, "puppeteer-core"));
const browserPath = ["/usr/bin/chromium", "/usr/bin/chromium-browser"].find((p) => fs.existsSync(p));

let passed = 0, failed = 0;
function check(name, ok) {
  if (ok) passed++;
  else { failed++; console.log(`FAILED: ${name}`); }
}

// Starts a program and collects its output; resolves once it printed the link.
function startPanel(command, args) {
  const child = spawn(command, args, { stdio: ["ignore", "pipe", "pipe"] });
  child.output = "";
  const collect = (chunk) => { child.output += chunk; };
  child.stdout.on("data", collect);
  child.stderr.on("data", collect);
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no link printed:\n${child.output}`)), 60000);
    const look = () => {
      const link = child.output.match(/http:\/\/127\.0\.0\.1:\d+\/\?token=[0-9a-f]+/);
      if (link) { clearTimeout(timer); child.stdout.off("data", look); resolve({ child, link: link[0] }); }
    };
    child.stdout.on("data", look);
  });
}

// Ends a program and waits for it, so that nothing of it runs on into the next test.
function stop(child) {
  if (child.exitCode !== null || child.signalCode !== null) return Promise.resolve();
  const ended = new Promise((resolve) => child.once("exit", resolve));
  child.kill("SIGTERM");
  return ended;
}

const volts = (count) => (count * 5) / 1023;
const lastOf = (page, input) => page.evaluate((k) => {
  const column = window.vostrellePanel.plot.data[k + 1];
  return column.length ? column[column.length - 1] : null;
}, input);

// Whether the curve of `input` comes to `value` within 20 s.
const reaches = (page, input, value) => page.waitForFunction((k, v) => {
  const column = window.vostrellePanel.plot.data[k + 1];
  return column.length > 0 && Math.abs(column[column.length - 1] - v) < 0.001;
}, { timeout: 20000 }, input, value).then(() => true, () => false);

// The board's device as the channel file names it, and input 6 (count 300:
// 1.466 V) in kPa there, beyond its limits.
function channelFile(scratch) {
  const device = path.join(scratch, "board");
  const file = path.join(scratch, "channels.toml");
  fs.writeFileSync(file, `[[board]]\ndevice = "${device}"\n\n[board.input.6]\nname = "tank pressure"\n` +
    `unit = "kPa"\ndecimals = 2\ngain = 10.0\nlimits = [0.0, 10.0]\n`);
  return { device, file };
}

async function fixedInputs(browser) {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), "panel-browser-"));
  const channels = channelFile(scratch);
  const { child, link } = await startPanel(simProgram, ["--input", "3=512", "--input", "5=1023",
    "--input", "6=300", "--link", channels.device, "--trace", "--run", "--",
    "env", `VOSTRELLE_DEVICE=${channels.device}`, panelProgram, "--port", "0",
    "--channels-file", channels.file]);
  try {
    const page = await browser.newPage();
    await page.goto(link);
    check("the link opens the page, and the token leaves the address bar", page.url() === link.replace(/\?token=.*/, ""));
    await page.waitForFunction(() => document.querySelectorAll(".channels .name").length === 8);
    const names = await page.$$eval(".channels .name", (all) => all.map((e) => e.textContent));
    const driverNames = [0, 1, 2, 3, 4, 5, 6, 7].map((k) => `EA${k}(PA${k})0..5V`);
    check("the eight inputs are named as the driver names them, or as the channel file does",
      JSON.stringify(names) ===
      JSON.stringify(driverNames.map((n, k) => (k === 6 ? "tank pressure (kPa)" : n))));
    // A reply after the driver's deadline on a busy machine reads wrong for one scan.
    await page.waitForFunction(() => document.querySelector(".value-6").textContent === "14.66 kPa",
      { timeout: 10000 }).catch(() => {});
    check("input 6 is shown in its unit and decimals, marked beyond its limits, the limits stated",
      await page.$eval(".value-6", (e) => e.textContent === "14.66 kPa" && e.classList.contains("beyond")) &&
      await page.$eval(".channels label:nth-of-type(7) .limits", (e) => e.textContent) ===
      "limits 0 to 10 kPa");
    check("and its limits are dashed lines in its colour, on a value axis that takes them in",
      await page.waitForFunction(() => {
        const u = window.vostrellePanel.plot;
        const row = u.ctx.getImageData(u.bbox.left, Math.round(u.valToPos(10, "y", true)), u.bbox.width, 1).data;
        const inColour = row.some((_, i) => i % 4 === 0 && row[i] === 0xe3 && row[i + 1] === 0x77 && row[i + 2] === 0xc2);
        return inColour && u.scales.y.min <= 0 && u.scales.y.max >= 10;
      }, { timeout: 5000 }).then(() => true, () => false));
    check("input 3, fixed at count 512, is drawn at 2.502 V", await reaches(page, 3, volts(512)));
    check("input 5, fixed at 1023, is drawn at 5 V", await reaches(page, 5, 5));

    const other = await browser.newPage();
    await other.goto(link.replace(/\?token=.*/, ""));
    await other.waitForFunction(() => document.querySelectorAll(".lines input").length === 8);
    await page.bringToFront(); // a page behind another draws nothing
    await page.click(".led");
    await page.waitForFunction(() => document.querySelector(".led").getAttribute("aria-pressed") === "true");
    check("the LED switch shows the read-back after the click", await page.$eval(".line-0", (e) => e.checked));
    check("and so does another page open on the panel", await other.waitForFunction(
      () => document.querySelector(".led").getAttribute("aria-pressed") === "true", { timeout: 5000, polling: 100 })
      .then(() => true, () => false));
    await other.close();
    check("the PWM slider and the frequency field take the board's ranges from the server",
      await page.$eval(".pwm", (e) => e.max) === "255" && await page.$eval(".frequency", (e) => e.max) === "65535" &&
      await page.$eval(".frequency-range", (e) => e.textContent) === "(0 to 65535)");
    const unconnected = await browser.newPage();
    await unconnected.setRequestInterception(true);
    unconnected.on("request", (r) => (r.url().includes("/events/") ? r.abort() : r.continue()));
    await unconnected.goto(link.replace(/\?token=.*/, ""));
    check("without the live stream the outputs stay disabled and show no range",
      await unconnected.$$eval(".led, .pwm, .frequency", (all) => all.every((e) => e.disabled)) &&
      await unconnected.$eval(".frequency-range", (e) => e.textContent) === "");
    await unconnected.close();
    await page.$eval(".pwm", (e) => { e.value = 77; e.dispatchEvent(new Event("input")); });
    await page.$eval(".frequency", (e) => { e.value = 1000; e.dispatchEvent(new Event("change")); });
    await new Promise((r) => setTimeout(r, 300));
    check("the click put the LED command on the line", /host -> board\s+52\s+PB0 high/.test(child.output));
    check("the PWM slider and the frequency field reach the line",
      /PWM duty 77\n/.test(child.output) && /frequency 1000\n/.test(child.output));

    const shaped = await page.evaluate(() => window.vostrellePanel.withGaps({ t: [1.5, 1.75, 5], v: [[1, 2, 3]] },
      1, 0.25));
    check("where the board gave no scans the curve breaks (a point of no value); one missed slot does not",
      JSON.stringify(shaped) === JSON.stringify({ t: [1.5, 1.75, 2, 5], v: [[1, 2, null, 3]] }));

    await page.click(".channels label:nth-of-type(4) input");
    check("switching input 3 off hides its curve", await page.evaluate(() => !window.vostrellePanel.plot.series[4].show));
    await page.click(".pause");
    const held = await page.evaluate(() => [window.vostrellePanel.drawn, window.vostrellePanel.received]);
    await new Promise((r) => setTimeout(r, 500));
    const later = await page.evaluate(() => [window.vostrellePanel.drawn, window.vostrellePanel.received]);
    check("Pause holds the curves while the scans go on", later[0] === held[0] && later[1] > held[1]);
    await page.click(".pause");

    const downloads = fs.mkdtempSync(path.join(os.tmpdir(), "panel-downloads-"));
    const cdp = await page.createCDPSession();
    await cdp.send("Browser.setDownloadBehavior", { behavior: "allow", downloadPath: downloads });
    await page.click(".record");
    await page.waitForFunction(() => document.querySelector(".record").textContent.startsWith("Stop"));
    await new Promise((r) => setTimeout(r, 1500));
    await page.click(".record");
    const file = path.join(downloads, "vostrelle-recording.csv");
    for (let waited = 0; !fs.existsSync(file) && waited < 10000; waited += 100) await new Promise((r) => setTimeout(r, 100));
    const rows = fs.existsSync(file) ? fs.readFileSync(file, "utf8").trim().split("\n") : [];
    check("the download's header names the inputs, input 6 as the channel file does",
      rows[0] === "seconds," + driverNames.map((n, k) => (k === 6 ? "tank pressure (kPa)" : n)).join(","));
    const body = rows.slice(1).map((row) => row.split(","));
    check("it holds the rows of the 1.5 s recorded (a scan every 40 ms)", body.length >= 20 && body.length <= 60);
    check("each row holds the time and eight volts", body.every((fields) => fields.length === 9));
    // A reply that a busy machine delays past the driver's deadline misreads
    // a scan now and then, as it would on a real board.
    const rightRows = body.filter((fields) => Math.abs(Number(fields[4]) - volts(512)) < 1e-5).length;
    check("input 3's column holds its volts", rightRows >= 0.9 * body.length);
    check("and input 6's its kilopascals", body.filter((fields) => fields[7] === "14.66").length >= 0.9 * body.length);
    fs.rmSync(downloads, { recursive: true });
    await page.close();
  } finally {
    await stop(child);
    fs.rmSync(scratch, { recursive: true, force: true });
  }
}

async function newUser(browser) {
  const { child, link } = await startPanel(panelProgram, ["--simulate", "--port", "0"]);
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 720 });
    await page.goto(link);
    await page.waitForFunction(() => window.vostrellePanel.plot && window.vostrellePanel.plot.data[0].length > 5,
      { timeout: 20000 });
    await page.select(".window", "10");
    await page.click(".line-2");
    await page.$eval(".pwm", (e) => { e.value = 180; e.dispatchEvent(new Event("input")); });
    const before = await lastOf(page, 0);
    await new Promise((r) => setTimeout(r, 10500)); // a full window for the screenshot
    check("`vostrelle-panel --simulate` shows moving curves", Math.abs((await lastOf(page, 0)) - before) > 0.05);
    const status = await page.$eval(".status", (e) => e.textContent);
    check("the status line names the device and says the board answers", /\/dev\/pts\/\d+ \(simulated board\): the board answers; \d+\.\d scans\/s/.test(status));
    await page.screenshot({ path: screenshot });
    await page.close();
  } finally {
    await stop(child);
  }
}

(async () => {
  if (!browserPath) {
    console.log("FAILED: no chromium (apt install chromium, or run scripts/setup.sh)");
    process.exit(1);
  }
  const browser = await puppeteer.launch({ executablePath: browserPath, headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--no-first-run"] });
  try {
    await fixedInputs(browser);
    await newUser(browser);
  } catch (error) {
    failed++;
    console.log(`FAILED: ${error.stack}`);
  } finally {
    await browser.close();
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed ? 1 : 0);
})();
