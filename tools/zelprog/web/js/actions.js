// The EEPROM actions and what each does to the buffer's view of the chip
// when its job ends. Mismatch messages of a verify tell which bytes differ
// and what the chip holds there.
const $ = (id) => document.getElementById(id);
const MISMATCH = /^ERROR: (word|byte) 0x([0-9a-f]+) read as 0x([0-9a-f]+) instead of 0x([0-9a-f]+)/;

// Byte offset -> value read, for one mismatch text; null for other texts.
export function mismatchReads(text) {
  const m = MISMATCH.exec(text);
  if (!m) return null;
  const index = parseInt(m[2], 16), read = parseInt(m[3], 16), expected = parseInt(m[4], 16);
  if (m[1] === "byte") return [[index, read]];
  const reads = [];
  if ((read & 0xff) !== (expected & 0xff)) reads.push([2 * index, read & 0xff]);
  if ((read >> 8) !== (expected >> 8)) reads.push([2 * index + 1, read >> 8]);
  return reads;
}

export class Actions {
  constructor(api, buffer, log, progress, onIdle) {
    this.api = api;
    this.buffer = buffer;
    this.log = log;
    this.progress = progress;
    this.onIdle = onIdle;
    this.job = null; // {command, fill} of the running job
    this.reads = [];
    this.buttons = ["act-read", "act-write", "act-verify", "act-erase", "act-check", "act-header"].map($);
    this.stopButton = $("act-stop");
    $("act-read").addEventListener("click", () => this.start("dump", "Read", () => api.read()));
    $("act-write").addEventListener("click", () => this.start("program", "Write", () => api.write(buffer.bytes)));
    $("act-verify").addEventListener("click", () => this.start("verify", "Verify", () => api.verify(buffer.bytes)));
    $("act-erase").addEventListener("click", () => this.erase());
    $("act-check").addEventListener("click", () => this.start("check-size", "Check size", () => api.checkSize()));
    $("act-header").addEventListener("click", () => this.start("write-header", "Write header", () => api.writeHeader()));
    this.stopButton.addEventListener("click", () => api.stop().catch((e) => log.add(`stop: ${e.message}`, "error")));
  }

  busy() { return this.job !== null; }

  enable(open) {
    for (const b of this.buttons) b.disabled = !open || this.busy();
    this.stopButton.disabled = !this.busy();
  }

  erase() {
    const text = $("act-fill").value.trim().replace(/^0x/i, "");
    const fill = /^[0-9a-f]{1,2}$/i.test(text) ? parseInt(text, 16) : NaN;
    if (Number.isNaN(fill)) {
      this.log.add("the fill byte is two hex digits, 00 to ff", "error");
      return;
    }
    this.start("clear", `Erase (fill 0x${fill.toString(16).padStart(2, "0")})`, () => this.api.erase(fill), { fill });
  }

  async start(command, title, request, extra = {}) {
    if (this.busy()) return;
    this.job = { command, title, ...extra };
    this.reads = [];
    this.progress.begin(title);
    this.log.add(`${title}…`);
    this.onIdle();
    try {
      await request();
    } catch (error) {
      this.log.add(`${title}: ${error.message}`, "error");
      this.progress.end(false, `${title}: refused`);
      this.job = null;
      this.onIdle();
    }
  }

  // One event of the running job (the objects `zelprog --json` prints).
  async event(e) {
    switch (e.event) {
    case "state": this.progress.show(e.state, 0, ""); break;
    case "progress": this.progress.update(e); break;
    case "note": this.log.add(e.text, "note"); break;
    case "message": {
      const reads = mismatchReads(e.text);
      if (reads) this.reads.push(...reads);
      this.log.add(e.text, "error");
      break;
    }
    case "result": await this.finished(true, ""); break;
    case "error": await this.finished(false, e.message); break;
    }
  }

  async finished(ok, message) {
    const job = this.job;
    if (job === null) return;
    const b = this.buffer;
    try {
      if (job.command === "dump" && ok) b.loadFromChip(await this.api.getChip());
      else if (job.command === "program") ok ? b.wrote() : this.reads.length ? b.verified(this.reads) : b.forgetChip();
      else if (job.command === "verify" && (ok || this.reads.length)) b.verified(this.reads);
      else if (job.command === "clear") ok ? b.filled(job.fill) : b.forgetChip();
      else if (job.command === "write-header" && ok) b.forgetChip();
    } catch (error) {
      this.log.add(`${job.title}: ${error.message}`, "error");
    }
    const stopped = message.startsWith("interrupted");
    if (ok) this.log.add(`${job.title}: done${job.command === "verify" ? ", the chip matches the buffer" : ""}`, "result");
    else this.log.add(`${job.title}: ${message}`, "error");
    this.progress.end(ok, ok ? `${job.title}: done` : stopped ? `${job.title}: stopped` : `${job.title}: failed`);
    this.job = null;
    this.onIdle();
  }
}
