// Wires the panels together: the link, the buffer with its editor and page
// map, the actions, files, progress and log.
import * as api from "./api.js";
import { Actions } from "./actions.js";
import { Buffer } from "./buffer.js";
import { connectEvents } from "./events.js";
import { Files } from "./files.js";
import { HexEditor } from "./hexeditor.js";
import { LinkPanel } from "./linkpanel.js";
import { Log } from "./log.js";
import { PageMap } from "./pagemap.js";
import { Production } from "./production.js";
import { Progress } from "./progress.js";
import { clearMarkOnInput, readHexField } from "./offset.js";

const $ = (id) => document.getElementById(id);

const app = { control: false, open: false, state: null };
const log = new Log($("log"));
const buffer = new Buffer(256);
const progress = new Progress();
const selection = $("selection");
const editor = new HexEditor($("hex"), buffer, (offset, length) => {
  selection.textContent = `offset 0x${offset.toString(16).padStart(4, "0")}, length ${length} (0x${length.toString(16)})`;
});
const pagemap = new PageMap($("pagemap"), buffer, (offset) => editor.select(offset, false) || editor.scrollTo(offset),
                            $("pagemap-focus"));
const link = new LinkPanel((bytes) => {
  if (app.open) return;
  if (bytes && bytes !== buffer.size) buffer.resize(bytes);
  pagemap.setPageSize(link.partPage());
});
const actions = new Actions(api, buffer, log, progress, () => updateControls());
new Files(api, buffer, log);
const production = new Production(api, buffer, log);
// The browser tests ask for a hook into the page before it loads; no one else gets one.
if (window.zelTestHook === true) window.zel = { buffer, editor, pagemap, app, log };

function updateControls() {
  const usable = app.control && !actions.busy();
  link.openButton.disabled = !usable;
  link.closeButton.disabled = !usable || !app.open;
  actions.enable(app.control && app.open);
  production.enable(app.control);
  if (!app.control) actions.stopButton.disabled = true;
  const badge = $("control-status");
  badge.textContent = !app.control ? "watching" : actions.busy() ? "busy" : app.open ? "ready" : "not connected";
  badge.className = `badge ${!app.control ? "error" : actions.busy() ? "busy" : app.open ? "ok" : ""}`;
}

function showState(state) {
  app.state = state;
  if (state.production) production.show(state);
  app.open = state.open;
  link.show(state);
  if (state.open) {
    if (state.link.bytes !== buffer.size) buffer.resize(state.link.bytes);
    const part = state.parts?.find((p) => p.name === state.link.part);
    pagemap.setPageSize(state.link.pageSize || (part ? part.pageBytes : link.partPage()));
  }
  updateControls();
}

link.openButton.addEventListener("click", async () => {
  try {
    const state = await api.openLink(link.options());
    showState({ ...state, parts: app.state?.parts });
    log.add(`opened ${state.link.description}: device at ${state.link.deviceAddress}, ${state.link.bytes} bytes`, "result");
  } catch (error) {
    log.add(`open: ${error.message}`, "error");
  }
});

link.closeButton.addEventListener("click", async () => {
  try {
    await api.closeLink();
    buffer.forgetChip();
    showState(await api.getState());
    pagemap.setPageSize(link.partPage());
    log.add("closed the link");
  } catch (error) {
    log.add(`close: ${error.message}`, "error");
  }
});

clearMarkOnInput($("goto"));
$("goto").addEventListener("keydown", (e) => {
  if (e.key !== "Enter") return;
  const offset = readHexField(e.target, buffer.size - 1, "go to");
  if (offset === null) {
    log.add(e.target.validationMessage, "error");
    return;
  }
  editor.select(offset, false);
  editor.scrollTo(offset);
  $("hex").focus();
});

function onEvent(event) {
  if (event.event === "hello") {
    app.control = event.control;
    if (event.control) api.setPageId(event.page);
    $("in-use").hidden = event.control;
    $("in-use").textContent = event.text || "";
    if (!event.control) log.add(event.text, "error");
    updateControls();
    return;
  }
  if (event.event === "free") { log.add(event.text, "note"); return; }
  if (event.event === "disconnected") { app.control = false; updateControls(); return; }
  if (production.event(event)) return;
  actions.event(event);
}

async function start() {
  pagemap.setPageSize(8);
  updateControls();
  try {
    const state = await api.getState();
    link.fill(state);
    if (!state.open && link.partBytes()) buffer.resize(link.partBytes());
    pagemap.setPageSize(link.partPage());
    showState(state);
  } catch (error) {
    log.add(`the server did not answer: ${error.message}`, "error");
  }
  connectEvents(onEvent);
  log.add("zelprog gui ready: choose the link and press Open");
}

start();
