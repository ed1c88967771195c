// zrgate's console seen in Chromium: a real broker, three simulated readers (the first taking
// tags from a control socket), zrgate with `http`; the page must show the readers online and a
// tag arriving and departing without a reload. Leaves a screenshot for people to look at.
"use strict";
const { spawn } = require("child_process");
const fs = require("fs");
const net = require("net");
const os = require("os");
const path = require("path");

const [zrgate, zrsim, mosquitto, chromium, modules, screenshot] = process.argv.slice(2);
const puppeteer = require(path.join(modules, "puppeteer-core"));

const dir = fs.mkdtempSync(path.join(os.tmpdir(), "zrgate-browser-"));
const children = [];
const EPC = "3008ABCDEF0123456789FEED";

function start(name, argv) {
  const log = fs.openSync(path.join(dir, name + ".log"), "a");
  const child = spawn(argv[0], argv.slice(1), { stdio: ["ignore", log, log] });
  child.name = name;
  children.push(child);
  return child;
}

function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, "127.0.0.1", () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function until(what, test, ms = 30000) {
  for (const end = Date.now() + ms; Date.now() < end; await sleep(100)) {
    try {
      if (await test()) return;
    } catch (e) { /* not yet */ }
  }
  throw new Error("timed out waiting for " + what);
}

const portOpen = (port) => new Promise((resolve) => {
  const c = net.connect(port, "127.0.0.1", () => { c.destroy(); resolve(true); });
  c.on("error", () => resolve(false));
});

// One command to the simulator's control socket; resolves with its answer line.
function control(socket, line) {
  return new Promise((resolve, reject) => {
    const c = net.createConnection(socket, () => c.write(line + "\n"));
    let got = "";
    c.on("data", (d) => {
      got += d;
      if (got.includes("\n")) { c.end(); got.startsWith("ok") ? resolve(got) : reject(new Error(line + ": " + got)); }
    });
    c.on("error", reject);
  });
}

function cleanup() {
  for (const c of children) if (c.exitCode === null) c.kill("SIGTERM");
}

async function main() {
  const brokerPort = await freePort(), httpPort = await freePort();
  fs.writeFileSync(path.join(dir, "mosquitto.conf"), `listener ${brokerPort} 127.0.0.1\nallow_anonymous true\n`);
  start("mosquitto", [mosquitto, "-c", path.join(dir, "mosquitto.conf")]);
  await until("the broker", () => portOpen(brokerPort));

  const socket = path.join(dir, "field.sock");
  let sections = "";
  for (let i = 0; i < 3; i++) {
    const port = await freePort();
    start("zrsim" + i, [zrsim, "--no-pty", "--tcp", "127.0.0.1", "--port", String(port), ...(i === 0 ? ["--control", socket] : [])]);
    await until("reader " + i, () => portOpen(port));
    sections += `[dock${i + 1}]\nZR_PORT_TYPE=TCP\nZR_COM_NUMBER=COM1\nZR_HOST_NAME=127.0.0.1\nZR_TCP_PORT=${port}\npause_ms=100\n` +
                (i === 2 ? "antennas=1,2\n" : "") + "\n";
  }
  await until("the control socket", () => fs.existsSync(socket));
  const ini = path.join(dir, "site.ini");
  fs.writeFileSync(ini, `[gateway]\nsite=north\nbroker=127.0.0.1\nport=${brokerPort}\nwindow_ms=1500\nstats_every_s=0\n` +
                        `http=${httpPort}\n\n` + sections);
  const gate = start("zrgate", [zrgate, ini]);
  const base = `http://127.0.0.1:${httpPort}`;
  await until("a healthy gateway", async () => (await fetch(base + "/health")).status === 200);

  const browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run"],
  });
  const errors = [];
  let page;
  try {
    page = await browser.newPage();
    page.on("pageerror", (e) => errors.push(String(e)));
    page.on("console", (m) => { if (m.type() === "error") errors.push(m.text()); });
    await page.setViewport({ width: 1280, height: 1000 });
    await page.goto(base + "/", { waitUntil: "load" });
    await page.waitForFunction(() => {
      const states = [...document.querySelectorAll("#readers tbody tr .state")].map((s) => s.textContent);
      return states.length === 3 && states.every((s) => s === "online");
    }, { timeout: 30000 });
    console.log("the page shows 3 readers online");
    // A mark on this document: a reload would take it away.
    await page.evaluate(() => { window.zrMark = 1; });

    await control(socket, "add " + EPC);
    const row = `#tags tr[data-key="dock1/${EPC}"]`;
    await page.waitForSelector(row, { timeout: 20000 });
    console.log("the tag arrived on the page");
    // Some seconds of rates for the charts.
    await sleep(4000);

    await control(socket, "remove " + EPC);
    await page.waitForFunction((sel) => !document.querySelector(sel), { timeout: 20000 }, row);
    const log = await page.$eval("#log", (l) => l.textContent);
    if (!log.includes("arrived  " + EPC) || !log.includes("departed  " + EPC)) throw new Error("the activity list lacks the events: " + log);
    if (await page.evaluate(() => window.zrMark) !== 1) throw new Error("the page was reloaded");
    console.log("the tag departed, live, without a reload");

    // The chart has a line per reader and antenna (4), the default tags are listed (9).
    const lines = await page.$$eval("#chart polyline", (p) => p.length);
    if (lines !== 4) throw new Error("expected 4 chart lines, got " + lines);
    const tags = await page.$$eval("#tags tbody tr[data-key]", (r) => r.length);
    if (tags !== 9) throw new Error("expected the 9 default tags, got " + tags);
    if (errors.length) throw new Error("errors on the page: " + errors.join("; "));

    // With the departed tag still in the activity list, for a look at the page.
    await page.screenshot({ path: screenshot, fullPage: true });
    console.log("screenshot: " + screenshot);
  } catch (e) {
    // What the page showed, for the failure's report.
    if (page) {
      e.message += "\nerrors on the page: " + (errors.join("; ") || "none");
      e.message += "\npage text: " + (await page.evaluate(() => document.body.innerText).catch(() => "?")).slice(0, 3000);
      await page.screenshot({ path: screenshot, fullPage: true }).catch(() => {});
    }
    throw e;
  } finally {
    await browser.close();
  }
  gate.kill("SIGTERM");
  await until("zrgate to stop", () => gate.exitCode !== null, 15000);
  if (gate.exitCode !== 0) throw new Error("zrgate exited with " + gate.exitCode);
}

main().then(() => {
  cleanup();
  fs.rmSync(dir, { recursive: true, force: true });
  console.log("console browser test: good");
}, (e) => {
  cleanup();
  console.error("console browser test: " + e.message + "\n(logs kept in " + dir + ")");
  for (const f of fs.readdirSync(dir).filter((f) => f.endsWith(".log")))
    console.error("--- " + f + "\n" + fs.readFileSync(path.join(dir, f), "utf8").slice(-2000));
  process.exit(1);
});
