// The EEPROM actions and what each does to the buffer's view of the chip
// when its job ends. A mismatch event of a verify names the byte's address
// and what the chip holds there; a job stopped on request ends with the
// exit code of an interrupt.
import { clearMarkOnInput, readHexField } from "./offset.js";

const $ = (id) => document.getElementById(id);
const EXIT_INTERRUPTED = 130;

const isMismatch = (e) => Number.isInteger(e.address) && Number.isInteger(e.read);

export class Actions {
  constructor(api, buffer, log, progress, onIdle) {
    this.api = api;
    this.buffer = buffer;
    this.log = log;
    this.progress = progress;
    this.onIdle = onIdle;
    this.job = null; // {command, fill} of the running job
    this.reads = [];
    this.buttons = ["act-read", "act-write", "act-verify", "act-erase", "act-check", "act-header", "act-detect"]
      .map($);
    this.stopButton = $("act-stop");
    $("act-read").addEventListener("click", () => this.start("dump", "Read", () => api.read()));
    $("act-write").addEventListener("click", () => this.start("program", "Write", () => api.write(buffer.bytes)));
    $("act-verify").addEventListener("click", () => this.start("verify", "Verify", () => api.verify(buffer.bytes)));
    $("act-erase").addEventListener("click", () => this.erase());
    $("act-check").addEventListener("click", () => this.start("check-size", "Check size", () => api.checkSize()));
    $("act-header").addEventListener("click", () => this.start("write-header", "Write header", () => api.writeHeader()));
    $("act-detect").addEventListener("click", () => this.start("detect", "Detect", () => api.detect()));
    this.stopButton.addEventListener("click", () => api.stop().catch((e) => log.add(`stop: ${e.message}`, "error")));
    clearMarkOnInput($("act-fill"));
  }

  busy() { return this.job !== null; }

  enable(open) {
    for (const b of this.buttons) b.disabled = !open || this.busy();
    this.stopButton.disabled = !this.busy();
  }

  erase() {
    const fill = readHexField($("act-fill"), 0xff, "fill byte");
    if (fill === null) {
      this.log.add($("act-fill").validationMessage, "error");
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
    case "detect": this.detected(e); break;
    case "message":
      if (isMismatch(e)) this.reads.push([e.address, e.read]);
      this.log.add(e.text, "error");
      break;
    case "result": await this.finished(true, "", false); break;
    case "error": await this.finished(false, e.message, e.exitCode === EXIT_INTERRUPTED); break;
    }
  }

  // What the bus reads showed (0: the reads cannot tell).
  detected(e) {
    const addressBytes = e.addressBytes ? `${e.addressBytes} address byte${e.addressBytes === 1 ? "" : "s"}`
      : "address bytes unknown";
    const size = e.bytes ? `${e.bytes} bytes` : "size unknown";
    const parts = e.candidates.length ? e.candidates.join(", ") : "none";
    this.log.add(`Detect: answering ${e.answering.join(" ") || "none"}; ${addressBytes}; ${size}; ` +
                 `parts: ${parts}${e.sure ? " (sure)" : ""}`, "result");
    if (e.note) this.log.add(e.note, "note");
  }

  async finished(ok, message, stopped) {
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
    if (ok) this.log.add(`${job.title}: done${job.command === "verify" ? ", the chip matches the buffer" : ""}`, "result");
    else this.log.add(`${job.title}: ${message}`, "error");
    this.progress.end(ok, ok ? `${job.title}: done` : stopped ? `${job.title}: stopped` : `${job.title}: failed`);
    this.job = null;
    this.onIdle();
  }
}
