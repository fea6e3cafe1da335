// The zelprog GUI in a real browser: Debian's chromium, headless, driven by
// Playwright against `zelprog gui --no-browser` on the virtual target. Each
// test has a server and a state folder (so backing files) of its own, and
// saves a screenshot of what it ends on into the artifacts folder.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { mkdtempSync, mkdirSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { chromium } from "playwright-core";

const ZELPROG = process.env.ZELPROG;
const ARTIFACTS = process.env.ZEL_ARTIFACTS || join(process.cwd(), "artifacts");
const CHROMIUM = process.env.ZEL_CHROMIUM || "/usr/bin/chromium";
const TIMEOUT = 60_000;

let browser;
let profile;

before(async () => {
  assert.ok(ZELPROG, "ZELPROG names the zelprog binary");
  mkdirSync(ARTIFACTS, { recursive: true });
  profile = mkdtempSync(join(tmpdir(), "zelprog-chromium-"));
  // a fresh profile folder (--user-data-dir) for every run
  browser = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    viewport: { width: 1400, height: 900 },
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
});

after(async () => {
  await browser?.close();
  rmSync(profile, { recursive: true, force: true });
});

// Starts a server with its own state folder; resolves with its address.
function startGui(extraEnv = {}, args = ["gui", "--no-browser"], state = mkdtempSync(join(tmpdir(), "zelprog-gui-state-"))) {
  const child = spawn(ZELPROG, args, {
    env: { ...process.env, XDG_STATE_HOME: state, ...extraEnv },
    stdio: ["ignore", "pipe", "pipe"],
  });
  let stderr = "";
  child.stderr.on("data", (d) => { stderr += d; });
  const url = new Promise((resolve, reject) => {
    let out = "";
    child.stdout.on("data", (d) => {
      out += d;
      const line = out.split("\n")[0];
      if (out.includes("\n")) resolve(line.trim());
    });
    child.on("exit", (code) => reject(new Error(`zelprog gui ended with ${code}: ${stderr}`)));
  });
  const stop = async () => {
    const ended = new Promise((resolve) => child.on("exit", (code, signal) => resolve({ code, signal })));
    child.kill("SIGINT"); // Ctrl-C: stops a job, ends the server
    const how = await ended;
    rmSync(state, { recursive: true, force: true });
    return how;
  };
  return { url, stop };
}

// The page with the test hook (window.zel) unless `hook` is false.
async function openPage(gui, hook = true) {
  const page = await browser.newPage();
  page.setDefaultTimeout(TIMEOUT);
  if (hook) await page.addInitScript(() => { window.zelTestHook = true; });
  await page.goto(await gui.url);
  await page.waitForSelector("#control-status:text('not connected')");
  return page;
}

async function openDevice(page, part, pageSize = "-1") {
  await page.selectOption("#link-kind", "virtual");
  await page.selectOption("#link-part", part);
  await page.selectOption("#link-page", pageSize);
  await page.click("#link-open");
  await page.waitForSelector("#control-status:text('ready')");
}

async function loadFile(page, name, bytes) {
  await page.setInputFiles("#file-input", { name, mimeType: "application/octet-stream", buffer: Buffer.from(bytes) });
}

const logText = (page) => page.textContent("#log");

async function waitForLog(page, text) {
  await page.waitForFunction((t) => document.getElementById("log").textContent.includes(t), text);
}

async function shot(page, name) {
  await page.screenshot({ path: join(ARTIFACTS, `${name}.png`) });
}

function randomBytes(n, seed) {
  const out = new Uint8Array(n);
  let x = seed;
  for (let i = 0; i < n; i++) {
    x = (x * 1103515245 + 12345) >>> 0;
    out[i] = (x >>> 16) % 0xff; // never the erased value
  }
  return out;
}

// The editor's element of byte `i` (its row must be in view).
const cell = (page, i) => page.evaluateHandle((at) => window.zel.editor.cellOf(at), i);
const cellClass = async (page, i) => (await cell(page, i)).evaluate((el) => el.className);

const bufferBytes = (page) => page.evaluate(() => Array.from(window.zel.buffer.bytes));

test("a 24C02: load a binary, Write reaches 100 %, Verify passes", async () => {
  const gui = startGui();
  const page = await openPage(gui);
  try {
    await openDevice(page, "24c02");
    const image = randomBytes(256, 1);
    await loadFile(page, "image.bin", image);
    await waitForLog(page, "loaded image.bin");
    assert.deepEqual(await bufferBytes(page), Array.from(image));
    await page.click("#act-write");
    await page.waitForSelector("#progress-state:text('Write: done')");
    assert.equal(await page.textContent("#progress-percent"), "100%");
    await page.click("#act-verify");
    await page.waitForSelector("#progress-state:text('Verify: done')");
    assert.match(await logText(page), /Verify: done, the chip matches the buffer/);
    await shot(page, "write-verify");
  } finally {
    await page.close();
    await gui.stop();
  }
});

test("Detect on a written 24C16 names it in the log, and the chip keeps its bytes", async () => {
  const gui = startGui();
  const page = await openPage(gui);
  try {
    await openDevice(page, "24c16");
    const image = randomBytes(2048, 3);
    await loadFile(page, "image.bin", image);
    await waitForLog(page, "loaded image.bin");
    await page.click("#act-write");
    await page.waitForSelector("#progress-state:text('Write: done')");
    await page.click("#act-detect");
    await page.waitForSelector("#progress-state:text('Detect: done')");
    assert.match(await logText(page), /Detect: answering 0xa0 0xa2 0xa4 0xa6 0xa8 0xaa 0xac 0xae; 1 address byte; 2048 bytes; parts: 24c16 \(sure\)/);
    await page.click("#act-verify");
    await page.waitForSelector("#progress-state:text('Verify: done')");
    await shot(page, "detect");
  } finally {
    await page.close();
    await gui.stop();
  }
});

test("an edited byte: Verify colours it, lists it and marks its page", async () => {
  const gui = startGui();
  const page = await openPage(gui);
  try {
    await openDevice(page, "24c02");
    await loadFile(page, "image.bin", randomBytes(256, 2));
    await waitForLog(page, "loaded image.bin");
    await page.click("#act-write");
    await page.waitForSelector("#progress-state:text('Write: done')");
    const offset = 0x23;
    const before = await page.evaluate((i) => window.zel.buffer.bytes[i], offset);
    const value = before ^ 0x5a;
    await (await cell(page, offset)).click();
    await page.keyboard.type(value.toString(16).padStart(2, "0"));
    assert.match(await cellClass(page, offset), /edited/);
    assert.match(await page.textContent("#selection"), /offset 0x0024/); // the cursor moved on
    await page.click("#act-verify");
    await page.waitForSelector("#progress-state:text('Verify: failed')");
    assert.match(await cellClass(page, offset), /differs/);
    const others = await page.$$eval("#hex .b.differs", (cells) => cells.map((c) => window.zel.editor.indexOf(c)));
    assert.deepEqual(others, [offset], "only the edited byte differs");
    assert.match(await logText(page), /ERROR: byte 0x23 read as 0x[0-9a-f]+ instead of 0x[0-9a-f]+/);
    const pages = await page.evaluate(() => window.zel.pagemap.states.flatMap((s, p) => (s === "differs" ? [p] : [])));
    assert.deepEqual(pages, [Math.floor(offset / 8)]);
    const pixel = await page.evaluate((p) => {
      const { pagemap } = window.zel;
      const columns = pagemap.columns();
      const data = pagemap.canvas.getContext("2d").getImageData((p % columns) * 12 + 5, Math.floor(p / columns) * 12 + 5, 1, 1).data;
      return Array.from(data.slice(0, 3));
    }, Math.floor(offset / 8));
    const red = await page.evaluate(() => getComputedStyle(document.documentElement).getPropertyValue("--map-differs").trim());
    assert.deepEqual(pixel, [1, 3, 5].map((i) => parseInt(red.slice(i, i + 2), 16)), "the page's cell in the page's red");
    await shot(page, "verify-mismatch");
  } finally {
    await page.close();
    await gui.stop();
  }
});

test("Stop during a long write on a 24C256 (5 ms write cycles): stopped, and the next Read works", async () => {
  const gui = startGui({ HOPLINK_SIM: "SIMTWR=5" });
  const page = await openPage(gui);
  try {
    await openDevice(page, "24c256", "0"); // byte writes: 32768 write cycles, a long job
    await loadFile(page, "big.bin", randomBytes(32768, 3));
    await waitForLog(page, "loaded big.bin");
    await page.click("#act-write");
    await page.waitForFunction(() => parseInt(document.getElementById("progress-percent").textContent) >= 1);
    await page.click("#act-stop");
    await page.waitForSelector("#progress-state:text('Write: stopped')");
    assert.match(await logText(page), /interrupted: stopped programming/);
    await shot(page, "stopped");
    await page.click("#act-read");
    await page.waitForSelector("#progress-state:text('Read: done')");
    assert.equal(await page.textContent("#progress-percent"), "100%");
  } finally {
    await page.close();
    await gui.stop();
  }
});

test("a broken Intel HEX file: the error names the line, the buffer is unchanged", async () => {
  const gui = startGui();
  const page = await openPage(gui);
  try {
    await openDevice(page, "24c02");
    await loadFile(page, "image.bin", randomBytes(256, 4));
    await waitForLog(page, "loaded image.bin");
    const before = await bufferBytes(page);
    const hex = [":10000000000102030405060708090A0B0C0D0E0F78", ":10001000101112131415161718191A1B1C1D1E1F68",
                 ":1000200020212223242526272829ZA2B2C2D2E2F58", ":00000001FF", ""].join("\n");
    await loadFile(page, "broken.hex", new TextEncoder().encode(hex));
    await waitForLog(page, "broken.hex:");
    assert.match(await logText(page), /broken\.hex: .*line 3.*the buffer is unchanged/);
    assert.deepEqual(await bufferBytes(page), before);
    await shot(page, "broken-hex");
  } finally {
    await page.close();
    await gui.stop();
  }
});

test("a second page is told that the EEPROM is in use", async () => {
  const gui = startGui();
  const first = await openPage(gui);
  const second = await browser.newPage();
  try {
    await second.goto(await gui.url);
    await second.waitForSelector("#in-use:not([hidden])");
    assert.equal(await second.evaluate(() => typeof window.zel), "undefined", "no test hook unless asked for");
    assert.match(await second.textContent("#in-use"), /in use by another page/);
    assert.equal(await second.isDisabled("#link-open"), true);
  } finally {
    await second.close();
    await first.close();
    await gui.stop();
  }
});

test("speed of the editor on a 24C1024 (printed, not asserted)", async () => {
  const gui = startGui();
  const page = await openPage(gui);
  try {
    await openDevice(page, "24c1024");
    const times = await page.evaluate(() => {
      const hex = document.getElementById("hex");
      const { editor } = window.zel;
      const steps = [];
      const t0 = performance.now();
      for (let y = 0; y <= hex.scrollHeight; y += hex.clientHeight) {
        const s = performance.now();
        hex.scrollTop = y;
        editor.render();
        steps.push(performance.now() - s);
      }
      const scrollAll = performance.now() - t0;
      const jump = performance.now();
      hex.scrollTop = 0;
      editor.render();
      hex.scrollTop = hex.scrollHeight;
      editor.render();
      const jumpMs = performance.now() - jump;
      editor.select(0x1fff0, false);
      const typing = [];
      for (let n = 0; n < 9; n++) { // nine bytes, each two hex digits; the cursor moves on by itself
        const k = performance.now();
        for (const key of ["a", "5"]) hex.dispatchEvent(new KeyboardEvent("keydown", { key, bubbles: true }));
        typing.push(performance.now() - k);
      }
      typing.sort((a, b) => a - b);
      const typeMs = typing[4], typeMaxMs = typing[8];
      return { pages: steps.length, maxStepMs: Math.max(...steps), scrollAllMs: scrollAll, jumpMs, typeMs, typeMaxMs,
               rowsInDom: hex.querySelectorAll(".row").length, typed: window.zel.buffer.bytes[0x1fff0] };
    });
    assert.equal(times.typed, 0xa5);
    assert.equal(await page.evaluate(() => window.zel.buffer.bytes[0x1fff8]), 0xa5, "each byte typed went to the next");
    assert.ok(times.rowsInDom < 100, `only the visible rows are in the document (${times.rowsInDom})`);
    const report = (`24C1024 editor: ${times.pages} screens scrolled top to bottom in ${times.scrollAllMs.toFixed(1)} ms ` +
                `of script (slowest screen ${times.maxStepMs.toFixed(2)} ms), top-to-bottom jump ` +
                `${times.jumpMs.toFixed(2)} ms, typing a byte ${times.typeMs.toFixed(2)} ms (median of 9, slowest ${times.typeMaxMs.toFixed(2)} ms); ${times.rowsInDom} rows in the DOM`);
    console.log(report);
    writeFileSync(join(ARTIFACTS, "speed.txt"), report + "\n"); // ctest shows output only on failure
    await shot(page, "large-part");
  } finally {
    await page.close();
    await gui.stop();
  }
});

// Foreground against the first background that is not transparent, as WCAG counts contrast.
async function contrastOf(element) {
  return element.evaluate((el) => {
    const rgb = (text) => text.match(/[\d.]+/g).map(Number);
    const luminance = ([r, g, b]) => {
      const c = [r, g, b].map((v) => v / 255).map((v) => (v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4));
      return 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
    };
    let back = el;
    while (back && rgb(getComputedStyle(back).backgroundColor)[3] === 0) back = back.parentElement;
    const f = luminance(rgb(getComputedStyle(el).color)), b = luminance(rgb(getComputedStyle(back).backgroundColor));
    return (Math.max(f, b) + 0.05) / (Math.min(f, b) + 0.05);
  });
}

test("every offset field reads hex (0x optional) and refuses a bad value visibly", async () => {
  const gui = startGui();
  const page = await openPage(gui);
  try {
    await openDevice(page, "24c04"); // 512 bytes
    const cases = [
      { field: "#goto", text: "100", offset: 0x100 },
      { field: "#goto", text: "0x1F", offset: 0x1f },
      { field: "#goto", text: "1f0", offset: 0x1f0 },
      { field: "#goto", text: "1g", refused: /not hexadecimal/ },
      { field: "#goto", text: "-1", refused: /not hexadecimal/ },
      { field: "#goto", text: "200", refused: /beyond the last, 0x1ff/ },
      { field: "#act-fill", text: "1g", refused: /not hexadecimal/ },
      { field: "#act-fill", text: "0x100", refused: /beyond the last, 0xff/ },
    ];
    for (const c of cases) {
      const before = await page.textContent("#selection");
      await page.fill(c.field, c.text);
      if (c.field === "#goto") await page.press("#goto", "Enter");
      else await page.click("#act-erase");
      const invalid = await page.$eval(c.field, (el) => [!el.validity.valid, el.getAttribute("aria-invalid"), el.validationMessage]);
      if (c.refused) {
        assert.deepEqual(invalid.slice(0, 2), [true, "true"], `${c.text} is marked on its field`);
        assert.match(invalid[2], c.refused);
        assert.match(await logText(page), c.refused);
        assert.equal(await page.textContent("#selection"), before, `${c.text} moved nothing`);
        assert.equal(await page.textContent("#progress-state"), "Idle", `${c.text} started no job`);
      } else {
        assert.deepEqual(invalid.slice(0, 2), [false, "false"]);
        assert.match(await page.textContent("#selection"), new RegExp(`offset 0x${c.offset.toString(16).padStart(4, "0")},`));
      }
    }
    assert.match(await page.getAttribute("#goto", "placeholder"), /hex/);
    await shot(page, "offset-refused");
  } finally {
    await page.close();
    await gui.stop();
  }
});

test("the log keeps its last 2000 lines and says how many went before", async () => {
  const gui = startGui();
  const page = await openPage(gui);
  try {
    await waitForLog(page, "zelprog gui ready");
    const lines = await page.evaluate(() => {
      const log = document.getElementById("log");
      const before = log.childElementCount;
      for (let i = 0; i < 2600; i++) window.zel.log.add(`line ${i}`);
      return { before, count: log.querySelectorAll(":scope > div:not(.dropped)").length,
               first: log.firstElementChild.textContent, last: log.lastElementChild.textContent };
    });
    assert.equal(lines.count, 2000);
    assert.match(lines.first, new RegExp(`^${lines.before + 600} earlier lines dropped`));
    assert.match(lines.last, /line 2599$/);
  } finally {
    await page.close();
    await gui.stop();
  }
});

test("the page map follows the window's width and the keyboard; erased bytes are legible", async () => {
  const gui = startGui();
  const page = await openPage(gui);
  try {
    await openDevice(page, "24c256"); // 512 pages of 64 bytes
    const layout = () => page.evaluate(() => {
      const { pagemap } = window.zel;
      return { columns: pagemap.columns(), width: pagemap.canvas.width, height: pagemap.canvas.height };
    });
    const wide = await layout();
    await page.setViewportSize({ width: 2400, height: 900 });
    await page.waitForFunction((w) => window.zel.pagemap.canvas.width !== w, wide.width);
    const wider = await layout();
    assert.ok(wider.columns > wide.columns, `${wider.columns} columns after ${wide.columns}`);
    assert.equal(wider.width, wider.columns * 12);
    assert.equal(wider.height, Math.ceil(512 / wider.columns) * 12);
    await page.setViewportSize({ width: 1400, height: 900 });
    await page.waitForFunction((w) => window.zel.pagemap.canvas.width === w, wide.width);

    await page.focus("#goto");
    await page.keyboard.press("Tab"); // on to the editor, then the page map
    await page.keyboard.press("Tab");
    assert.equal(await page.evaluate(() => document.activeElement === window.zel.pagemap.canvas), true);
    for (const key of ["ArrowRight", "ArrowRight", "ArrowDown", "Enter"]) await page.keyboard.press(key);
    const picked = (2 + wide.columns) * 64;
    assert.match(await page.textContent("#selection"), new RegExp(`offset 0x${picked.toString(16).padStart(4, "0")},`));
    assert.match(await page.textContent("#pagemap-focus"), new RegExp(`page ${2 + wide.columns}: `));

    await page.focus("#hex");
    await page.keyboard.press("Home");
    await page.keyboard.press("Shift+ArrowRight"); // byte 1 selected: the selection's background
    for (const i of [2, 1]) {
      const el = await cell(page, i);
      assert.match(await el.evaluate((e) => e.className), /erased/);
      const ratio = await contrastOf(el);
      assert.ok(ratio >= 4.5, `erased byte ${i}: contrast ${ratio.toFixed(2)}:1`);
    }
    await shot(page, "pagemap-keyboard");
  } finally {
    await page.close();
    await gui.stop();
  }
});

test("production: Start all programs every site with its own serial, and the records filter and save as CSV", async () => {
  const state = mkdtempSync(join(tmpdir(), "zelprog-gui-state-"));
  const site = (n) => `SIMPART=24c02 SIMTWR=1 SIMFILE=${join(state, `site-${n}.bin`)}`;
  const counter = join(state, "line.counter");
  const gui = startGui({}, ["--part", "24c02", "gui", "--no-browser", "--site", site(1), "--site", site(2),
                            "--site", site(3), "--serial-at", "0x20", "--counter", counter, "--first", "1000"], state);
  const page = await openPage(gui);
  try {
    await page.waitForSelector("#production:not([hidden])");
    assert.equal(await page.locator("#prod-sites tr").count(), 3);
    await loadFile(page, "image.bin", randomBytes(256, 7));
    await waitForLog(page, "loaded image.bin");
    await page.click("#prod-start");
    await waitForLog(page, "production: 3 passed, 0 failed, 3 serial numbers used");
    const serials = await page.$$eval("#prod-sites tr td:nth-child(4)", (cells) => cells.map((c) => c.textContent));
    assert.deepEqual([...serials].sort(), ["1000", "1001", "1002"]);
    assert.deepEqual(await page.$$eval("#prod-sites tr td:nth-child(7)", (c) => c.map((x) => x.textContent)),
                     ["1", "1", "1"]);
    await page.waitForFunction(() => document.querySelectorAll("#rec-table tr").length === 3);
    await page.fill("#rec-serial", "1001");
    await page.click("#rec-refresh");
    await page.waitForFunction(() => document.querySelectorAll("#rec-table tr").length === 1);
    assert.match(await page.textContent("#rec-table"), /1001.*written/);
    const download = page.waitForEvent("download");
    await page.click("#rec-csv");
    const csv = await (await download).createReadStream().then(async (stream) => {
      let text = "";
      for await (const chunk of stream) text += chunk;
      return text;
    });
    const lines = csv.trim().split("\r\n");
    assert.equal(lines.length, 2);
    assert.match(lines[0], /^time,station,site,serial,where,image,imageSha256/);
    assert.match(lines[1], /"1001"/);
    assert.match(lines[1], /"written"/);
    await shot(page, "production");
  } finally {
    await page.close();
    await gui.stop();
  }
});
