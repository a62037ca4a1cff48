// The page of `korvo view`. Every address is relative to the page, so each request carries the
// session's token in its path. Only reads: GET requests to the JSON API below the page.
"use strict";

const PageSize = 200;
const state = { offset: 0, total: 0, filter: "", prefix: "", selected: -1, packages: [], timer: 0 };

const $ = (id) => document.getElementById(id);

function element(tag, props, ...children) {
  const node = document.createElement(tag);
  Object.assign(node, props || {});
  for (const child of children) node.append(child);
  return node;
}

async function api(path) {
  const response = await fetch(path, { credentials: "same-origin" });
  const body = await response.json();
  if (!response.ok) throw new Error(body.error || response.statusText);
  return body;
}

function bytes(n) {
  if (n < 1024) return n + " B";
  const units = ["KiB", "MiB", "GiB"];
  let value = n / 1024, unit = 0;
  while (value >= 1024 && unit < units.length - 1) { value /= 1024; ++unit; }
  return value.toFixed(1) + " " + units[unit];
}

function ratio(entry) {
  return entry.ratio === null ? "-" : (entry.ratio * 100).toFixed(1) + "%";
}

function packageName(index) {
  const p = state.packages[index];
  return p ? p.token.split(/[\\/]/).pop() : "#" + index;
}

function mountText(entry) {
  if (!entry.winner) return "shadowed by #" + entry.shadowedBy;
  return entry.shadows > 0 ? "wins over " + entry.shadows : "";
}

// ---- summary and mount chain

async function loadInfo() {
  const info = await api("api/info");
  state.packages = info.packages;
  const what = info.mode === "game" ? "game directory " + info.root : info.packages.map((p) => p.path).join(", ");
  $("summary").textContent = info.entryCount + " entries - " + what;
  if (info.mode === "game" || info.packages.length > 1) {
    $("chain").hidden = false;
    const list = $("packages");
    if (info.listProblem) list.append(element("li", { className: "problem", textContent: info.listProblem }));
    for (const p of info.packages) {
      const item = element("li", {}, element("code", { textContent: p.token }),
        " " + (p.mounted ? p.indexed + " entries" : ""));
      if (p.problem) item.append(" ", element("span", { className: "problem", textContent: p.problem }));
      list.append(item);
    }
    list.append(element("li", { className: "note", textContent: "a later package wins for a name" }));
  }
}

// ---- tree, loaded one folder at a time

async function fillFolder(list, prefix) {
  const tree = await api("api/tree?prefix=" + encodeURIComponent(prefix));
  list.textContent = "";
  for (const folder of tree.folders) {
    const label = element("span", { className: "folder", textContent: folder.name + " " },
      element("span", { className: "count", textContent: "(" + folder.count + ")" }));
    const children = element("ul");
    const item = element("li", {}, label, children);
    let loaded = false;
    label.addEventListener("click", async () => {
      const open = label.classList.toggle("open");
      children.hidden = !open;
      if (open && !loaded) { loaded = true; await fillFolder(children, folder.path); }
      setPrefix(folder.path);
    });
    list.append(item);
  }
  for (const file of tree.files) {
    const item = element("li", { className: "file", textContent: file.leaf });
    item.dataset.id = file.id;
    item.addEventListener("click", () => select(file.id));
    list.append(item);
  }
  if (tree.moreFiles > 0) list.append(element("li", { className: "count", textContent: "... " + tree.moreFiles + " more in the table" }));
}

function setPrefix(prefix) {
  state.prefix = prefix;
  state.offset = 0;
  $("folder").textContent = prefix ? "in " + prefix : "";
  $("clear-folder").hidden = !prefix;
  loadTable();
}

// ---- table, one page at a time

async function loadTable() {
  const params = new URLSearchParams({ offset: state.offset, limit: PageSize });
  if (state.prefix) params.set("prefix", state.prefix);
  if (state.filter) params.set(/[*?[]/.test(state.filter) ? "glob" : "filter", state.filter);
  let listing;
  try {
    listing = await api("api/entries?" + params);
  } catch (error) {
    $("range").textContent = error.message;
    return;
  }
  state.total = listing.total;
  const body = $("entries").tBodies[0];
  body.textContent = "";
  for (const entry of listing.entries) {
    const row = element("tr", {},
      element("td", { className: "num", textContent: entry.id }),
      element("td", { className: "name", textContent: entry.name }),
      element("td", { className: "num", textContent: bytes(entry.size) }),
      element("td", { className: "num", textContent: bytes(entry.packedSize) }),
      element("td", { className: "num", textContent: ratio(entry) }),
      element("td", { textContent: packageName(entry.package) }),
      element("td", { textContent: mountText(entry) }));
    row.dataset.id = entry.id;
    if (!entry.winner) row.classList.add("shadowed");
    if (entry.id === state.selected) row.classList.add("selected");
    row.addEventListener("click", () => select(entry.id));
    body.append(row);
  }
  const last = Math.min(state.offset + listing.entries.length, state.total);
  $("range").textContent = state.total === 0 ? "no entries" : (state.offset + 1) + "-" + last + " of " + state.total;
  $("prev").disabled = state.offset === 0;
  $("next").disabled = last >= state.total;
}

// ---- one entry

let player = null;

function stopPlayer() {
  if (player) { clearTimeout(player.timer); player = null; }
}

async function select(id) {
  stopPlayer();
  state.selected = id;
  for (const row of $("entries").tBodies[0].rows) row.classList.toggle("selected", Number(row.dataset.id) === id);
  const detail = $("detail");
  detail.className = "";
  detail.textContent = "Loading...";
  let entry;
  try {
    entry = await api("api/entry/" + id);
  } catch (error) {
    detail.textContent = "";
    detail.append(element("p", { className: "error", textContent: error.message }));
    return;
  }
  if (state.selected !== id) return;
  detail.textContent = "";
  detail.dataset.id = id;
  detail.dataset.kind = entry.kind;
  const meta = element("dl", { className: "meta" });
  const add = (term, value) => meta.append(element("dt", { textContent: term }), element("dd", { textContent: value }));
  add("Entry", "#" + entry.id);
  add("Name", entry.name);
  add("Package", entry.packagePath);
  add("Size", bytes(entry.size) + " (" + entry.size + " bytes)");
  add("Packed", bytes(entry.packedSize) + " (" + ratio(entry) + ")");
  if (!entry.winner) add("Mount", "shadowed by #" + entry.shadowedBy);
  for (const other of entry.shadowList) add("Shadows", "#" + other.id + " in " + packageName(other.package));
  detail.append(element("h2", { textContent: entry.name }), meta,
    element("a", { className: "download", href: "api/entry/" + id + "/raw", download: "", textContent: "Download the raw entry" }));
  if (entry.error) detail.append(element("p", { className: "error", textContent: entry.error }));
  if (entry.kind === "image" && entry.image) await showImage(detail, id, entry.image);
  else if (entry.kind === "text") await showText(detail, id);
  else if (entry.kind === "binary") await showHex(detail, id);
}

async function frameBitmap(id, n) {
  const response = await fetch("api/entry/" + id + "/frames/" + n + ".png");
  if (!response.ok) throw new Error((await response.json()).error);
  return createImageBitmap(await response.blob(), { premultiplyAlpha: "none", colorSpaceConversion: "none" });
}

async function showImage(detail, id, image) {
  if (image.count === 0 || image.width === 0 || image.height === 0) {
    detail.append(element("p", { textContent: image.count + " frames of " + image.width + "x" + image.height }));
    return;
  }
  const canvas = element("canvas", { id: "frame", width: image.width, height: image.height });
  const context = canvas.getContext("2d", { willReadFrequently: true });
  const stage = element("div", { className: "stage" }, canvas);
  const info = element("span", { id: "frame-info" });
  const toolbar = element("div", { className: "toolbar" });
  let zoom = 1;
  const zooms = [];
  for (const z of [1, 2, 4]) {
    const button = element("button", { textContent: z + "\u00d7" });
    button.addEventListener("click", () => { zoom = z; applyZoom(); });
    zooms.push([z, button]);
    toolbar.append(button);
  }
  const applyZoom = () => {
    canvas.style.width = image.width * zoom + "px";
    canvas.style.height = image.height * zoom + "px";
    for (const [z, button] of zooms) button.classList.toggle("on", z === zoom);
  };
  const play = element("button", { id: "play", textContent: "Pause" });
  const frameLink = element("a", { className: "download", download: "", textContent: "Save this frame (PNG)" });
  const sheetLink = element("a", { className: "download", href: "api/entry/" + id + "/sheet.png", download: "", textContent: "Save all frames as a sheet (PNG)" });
  toolbar.append(play, info);
  detail.append(toolbar, stage, element("div", {}, frameLink, sheetLink));
  applyZoom();

  const frames = [];
  const show = async (n) => {
    if (!frames[n]) frames[n] = await frameBitmap(id, n);
    context.clearRect(0, 0, image.width, image.height);
    context.drawImage(frames[n], 0, 0);
    canvas.dataset.frame = n;
    const value = image.values.length > n ? ", value " + image.values[n] : "";
    info.textContent = "frame " + (n + 1) + " of " + image.count + value + " - " + image.width + "x" + image.height;
    frameLink.href = "api/entry/" + id + "/frames/" + n + ".png";
  };
  try {
    await show(0);
  } catch (error) {
    detail.append(element("p", { className: "error", textContent: error.message }));
    return;
  }
  canvas.dataset.ready = "1";
  if (image.count < 2) { play.hidden = true; return; }
  const mine = { timer: 0, frame: 0, playing: true };
  player = mine;
  const step = async () => {
    if (player !== mine || !mine.playing) return;
    mine.frame = (mine.frame + 1) % image.count;
    try { await show(mine.frame); } catch (error) { info.textContent = error.message; return; }
    if (player === mine && mine.playing) schedule();
  };
  const schedule = () => {
    const value = image.values[mine.frame] || 100;
    mine.timer = setTimeout(step, Math.min(Math.max(value, 20), 2000));
  };
  play.addEventListener("click", () => {
    mine.playing = !mine.playing;
    play.textContent = mine.playing ? "Pause" : "Play";
    if (mine.playing) schedule(); else clearTimeout(mine.timer);
  });
  schedule();
}

async function headBytes(id, count) {
  const response = await fetch("api/entry/" + id + "/head?bytes=" + count);
  if (!response.ok) throw new Error((await response.json()).error);
  return new Uint8Array(await response.arrayBuffer());
}

function escapedText(data) {
  let text = "";
  for (const b of data) {
    text += (b >= 0x20 && b < 0x7f) || b === 10 || b === 9 ? String.fromCharCode(b) : "\\x" + b.toString(16).padStart(2, "0");
  }
  return text;
}

async function showText(detail, id) {
  const limit = 262144;
  const data = await headBytes(id, limit);
  let text;
  try {
    text = new TextDecoder("utf-8", { fatal: true }).decode(data);
  } catch (error) {
    text = escapedText(data);
  }
  detail.append(element("pre", { id: "text", textContent: text }));
  if (data.length === limit) detail.append(element("p", { className: "empty", textContent: "The first " + limit + " bytes." }));
}

async function showHex(detail, id) {
  const data = await headBytes(id, 4096);
  const lines = [];
  for (let offset = 0; offset < data.length; offset += 16) {
    const row = data.subarray(offset, offset + 16);
    const hex = Array.from(row, (b) => b.toString(16).padStart(2, "0")).join(" ");
    const ascii = Array.from(row, (b) => (b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : ".")).join("");
    lines.push(offset.toString(16).padStart(8, "0") + "  " + hex.padEnd(48) + "  " + ascii);
  }
  detail.append(element("pre", { id: "hex", textContent: lines.join("\n") }));
  detail.append(element("p", { className: "empty", textContent: "The first " + data.length + " bytes." }));
}

// ---- start

function start() {
  $("filter").addEventListener("input", () => {
    clearTimeout(state.timer);
    state.timer = setTimeout(() => { state.filter = $("filter").value.trim(); state.offset = 0; loadTable(); }, 150);
  });
  $("prev").addEventListener("click", () => { state.offset = Math.max(0, state.offset - PageSize); loadTable(); });
  $("next").addEventListener("click", () => { state.offset += PageSize; loadTable(); });
  $("clear-folder").addEventListener("click", () => setPrefix(""));
  loadInfo().then(() => Promise.all([fillFolder($("tree"), ""), loadTable()]))
    .then(() => { document.body.dataset.ready = "1"; })
    .catch((error) => { $("summary").textContent = error.message; });
}

start();
