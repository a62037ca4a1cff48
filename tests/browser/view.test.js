// korvo view in a real browser: starts `korvo view` on a package, drives headless Chromium
// (Debian's chromium, never a downloaded one) through puppeteer-core and checks that the table
// lists every entry, the filter narrows it, clicking an image draws a canvas whose pixels are
// the decoded frame's, and the animation advances. Saves a screenshot. Exit status 0 on pass.
//
// Usage: node view.test.js <korvo> <package> <artifact-dir>
"use strict";

const { spawn, execFileSync } = require("node:child_process");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const zlib = require("node:zlib");
const puppeteer = require("puppeteer-core");

const [korvo, pak, artifacts] = process.argv.slice(2);
if (!korvo || !pak || !artifacts) {
  console.error("usage: node view.test.js <korvo> <package> <artifact-dir>");
  process.exit(2);
}
const chromium = process.env.CHROMIUM || "/usr/bin/chromium";
let failures = 0;

function check(condition, what) {
  console.log((condition ? "ok   " : "FAIL ") + what);
  if (!condition) failures += 1;
}

// An 8-bit RGBA PNG (what korvo writes) as { width, height, rgba }.
function readPng(file) {
  const data = fs.readFileSync(file);
  let offset = 8, width = 0, height = 0;
  const idat = [];
  while (offset < data.length) {
    const length = data.readUInt32BE(offset);
    const type = data.toString("latin1", offset + 4, offset + 8);
    const body = data.subarray(offset + 8, offset + 8 + length);
    if (type === "IHDR") {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      if (body[8] !== 8 || body[9] !== 6 || body[12] !== 0) throw new Error(file + ": not 8-bit RGBA");
    } else if (type === "IDAT") {
      idat.push(body);
    }
    offset += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const stride = width * 4;
  const rgba = Buffer.alloc(stride * height);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; ++x) {
      const a = x >= 4 ? rgba[y * stride + x - 4] : 0;
      const b = y > 0 ? rgba[(y - 1) * stride + x] : 0;
      const c = x >= 4 && y > 0 ? rgba[(y - 1) * stride + x - 4] : 0;
      let predicted = 0;
      if (filter === 1) predicted = a;
      else if (filter === 2) predicted = b;
      else if (filter === 3) predicted = (a + b) >> 1;
      else if (filter === 4) {
        const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
        predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      }
      rgba[y * stride + x] = (line[x] + predicted) & 255;
    }
  }
  return { width, height, rgba };
}

// Canvas pixels against a decoded frame. A canvas keeps colours premultiplied by alpha, so a
// translucent pixel may come back rounded: opaque pixels must be exact, transparent ones only
// transparent, translucent ones within the rounding of premultiplying.
function comparePixels(canvas, expected) {
  let mismatches = 0;
  for (let i = 0; i < expected.length; i += 4) {
    const alpha = expected[i + 3];
    if (canvas[i + 3] !== alpha) { mismatches += 1; continue; }
    if (alpha === 0) continue;
    const tolerance = alpha === 255 ? 0 : Math.ceil(255 / alpha);
    for (let c = 0; c < 3; ++c) {
      if (Math.abs(canvas[i + c] - expected[i + c]) > tolerance) { mismatches += 1; break; }
    }
  }
  return mismatches;
}

function startView() {
  return new Promise((resolve, reject) => {
    const child = spawn(korvo, ["view", pak], { stdio: ["ignore", "pipe", "inherit"] });
    let out = "";
    child.stdout.on("data", (chunk) => {
      out += chunk;
      const found = out.match(/http:\/\/127\.0\.0\.1:\d+\/[0-9a-f]{32}\//);
      if (found) resolve({ child, url: found[0] });
    });
    child.on("exit", (code) => reject(new Error("korvo view exited with " + code + ": " + out)));
  });
}

async function main() {
  fs.mkdirSync(artifacts, { recursive: true });
  const listed = JSON.parse(execFileSync(korvo, ["list", "--json", pak], { encoding: "utf8" }));
  const names = listed.entries.map((e) => e.name);
  const { child, url } = await startView();
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "korvo-view-chromium-"));
  const browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--user-data-dir=" + profile],
  });
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1400, height: 860 });
    const pageErrors = [];
    page.on("pageerror", (error) => pageErrors.push(error.message));
    await page.goto(url);
    await page.waitForSelector("body[data-ready='1']");

    // Every entry, in archive order.
    const rowNames = () => page.$$eval("#entries tbody tr td.name", (cells) => cells.map((c) => c.textContent));
    check(JSON.stringify(await rowNames()) === JSON.stringify(names), "the table lists every entry: " + names.length);

    // The filter narrows the table to the names holding the text, ignoring case and slashes.
    const wanted = names.filter((n) => n.toLowerCase().includes("data\\sprites\\"));
    await page.type("#filter", "DATA/Sprites/");
    await page.waitForFunction((n) => document.querySelectorAll("#entries tbody tr").length === n, {}, wanted.length);
    check(JSON.stringify(await rowNames()) === JSON.stringify(wanted) && wanted.length < names.length,
      "the filter narrows the table to " + wanted.length + " entries");

    // An animated image: its canvas holds the decoded frame, and the frames advance.
    const image = wanted.find((n) => n.endsWith("flame.img")) || wanted[0];
    const reference = fs.mkdtempSync(path.join(os.tmpdir(), "korvo-view-frames-"));
    execFileSync(korvo, ["img2png", "-q", "--package", pak, image, "-o", path.join(reference, "frame.png")]);
    const rows = await page.$$("#entries tbody tr");
    await rows[wanted.indexOf(image)].click();
    await page.waitForSelector("#frame[data-ready='1']");
    await page.waitForFunction(() => document.getElementById("frame").dataset.frame !== "0");
    check(true, "the animation advances past frame 0");
    const shown = await page.evaluate(() => {
      const canvas = document.getElementById("frame");
      const pixels = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
      return { frame: Number(canvas.dataset.frame), width: canvas.width, height: canvas.height, pixels: Array.from(pixels) };
    });
    const expected = readPng(path.join(reference, "frame-" + shown.frame + ".png"));
    check(shown.width === expected.width && shown.height === expected.height,
      "the canvas is the frame's size: " + shown.width + "x" + shown.height);
    const mismatches = comparePixels(shown.pixels, expected.rgba);
    check(mismatches === 0, "the canvas pixels of frame " + shown.frame + " are the decoded frame's (" + mismatches + " differ)");

    // A text entry shows its text.
    await page.$eval("#filter", (input) => { input.value = ""; });
    await page.type("#filter", "readme");
    await page.waitForFunction(() => document.querySelectorAll("#entries tbody tr").length === 1);
    await (await page.$("#entries tbody tr")).click();
    await page.waitForSelector("#text");
    const text = await page.$eval("#text", (pre) => pre.textContent);
    const readme = names.find((n) => n.toLowerCase().includes("readme"));
    check(text === execFileSync(korvo, ["cat", pak, readme], { encoding: "utf8" }), "a text entry shows its text");

    // The screenshot: the whole table and the animation at 4x.
    await page.$eval("#filter", (input) => { input.value = ""; });
    await page.type("#filter", " ");
    await page.waitForFunction((n) => document.querySelectorAll("#entries tbody tr").length === n, {}, names.length);
    await (await page.$$("#entries tbody tr"))[names.indexOf(image)].click();
    await page.waitForSelector("#frame[data-ready='1']");
    const zoom = await page.$$(".toolbar button");
    await zoom[2].click();
    await page.screenshot({ path: path.join(artifacts, "view.png") });
    check(fs.statSync(path.join(artifacts, "view.png")).size > 0, "screenshot saved in " + artifacts);
    check(pageErrors.length === 0, "no script errors on the page" + (pageErrors.length ? ": " + pageErrors.join("; ") : ""));
  } finally {
    await browser.close();
    child.kill("SIGTERM");
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

main().then(
  () => process.exit(failures === 0 ? 0 : 1),
  (error) => { console.error("FAIL " + (error.stack || error)); process.exit(1); });
