// The production view: the sites that the command line named, run all at
// once on the buffer's image (or the command line's), each site's state,
// serial, progress, last result and counts, and the unit records, filtered
// and saved as CSV.
const FIELDS = ["time", "station", "site", "serial", "where", "image", "imageSha256", "ranges", "result", "reason",
                "durationMs", "mismatches", "factoryId"];
const SHOWN = ["time", "site", "serial", "result", "reason", "durationMs", "mismatches"];

// One CSV cell: quoted, and a leading = + - @ (a formula to a spreadsheet) made text.
export function csvCell(value) {
  let text = String(value ?? "");
  if (/^[=+\-@\t\r]/.test(text)) text = `'${text}`;
  return `"${text.replace(/"/g, '""')}"`;
}

export function recordsCsv(records) {
  const lines = [FIELDS.join(",")];
  for (const r of records) lines.push(FIELDS.map((f) => csvCell(r[f])).join(","));
  return lines.join("\r\n") + "\r\n";
}

export class Production {
  constructor(api, buffer, log) {
    this.api = api;
    this.buffer = buffer;
    this.log = log;
    this.$ = (id) => document.getElementById(id);
    this.sites = [];
    this.records = [];
    this.control = false;
    this.running = false;
    this.$("prod-start").addEventListener("click", () => this.start());
    this.$("prod-stop").addEventListener("click", () => this.stop());
    this.$("rec-refresh").addEventListener("click", () => this.refresh());
    this.$("rec-csv").addEventListener("click", () => this.saveCsv());
  }

  show(state) {
    const p = state.production;
    this.$("production").hidden = !p || p.sites.length === 0;
    if (!p || p.sites.length === 0) return;
    this.setup = p;
    this.running = p.running;
    this.$("prod-image").textContent = p.image ? `${p.image} (named on the command line)` : "the buffer";
    this.$("prod-serial").textContent = p.serial || "no serial numbers";
    this.$("records").hidden = !p.records;
    this.sites = p.sites.map((link, i) => ({ site: i + 1, link, state: "idle", serial: "", step: "", percent: 0,
                                             last: "", passed: 0, failed: 0 }));
    this.render();
    if (p.records) this.refresh();
  }

  enable(control) {
    this.control = control;
    this.$("prod-start").disabled = !control || this.running;
    this.$("prod-stop").disabled = !control || !this.running;
  }

  // Events of the gang: true when the event was one of them.
  event(event) {
    if (event.event === "gang") {
      this.running = false;
      this.enable(this.control);
      if (event.message) this.log.add(`production: ${event.message}`, "error");
      if (this.setup?.records) this.refresh();
      return true;
    }
    if (event.event === "summary") {
      this.log.add(`production: ${event.passed} passed, ${event.failed} failed, ${event.numbersUsed} serial numbers used`,
                   event.failed ? "error" : "result");
      return true;
    }
    if (!("site" in event)) return false;
    const site = this.sites[event.site - 1];
    if (!site) return true;
    if (event.event === "site") {
      site.state = event.state;
      site.serial = event.serial;
      site.percent = event.percent;
      site.passed = event.passed;
      site.failed = event.failed;
      site.last = event.last;
    } else if (event.event === "progress" || event.event === "state") {
      site.step = event.state;
      site.percent = event.percent ?? site.percent;
    }
    this.render();
    return true;
  }

  render() {
    const body = this.$("prod-sites");
    body.replaceChildren(...this.sites.map((s) => {
      const row = document.createElement("tr");
      row.className = `site-${s.state}`;
      const cells = [s.site, s.link, s.state, s.serial, `${s.state === "writing" ? s.step + " " : ""}${s.percent}%`,
                     s.last, s.passed, s.failed];
      for (const value of cells) {
        const cell = document.createElement("td");
        cell.textContent = String(value);
        row.append(cell);
      }
      return row;
    }));
  }

  async start() {
    try {
      const upload = !this.setup.image;
      await this.api.startProduction(upload ? this.buffer.bytes : null);
      this.running = true;
      for (const s of this.sites) Object.assign(s, { state: "starting", step: "", percent: 0 });
      this.render();
      this.enable(this.control);
      this.log.add(`production: started ${this.sites.length} sites on ${upload ? "the buffer" : this.setup.image}`);
    } catch (error) {
      this.log.add(`production: ${error.message}`, "error");
    }
  }

  async stop() {
    try {
      await this.api.stopProduction();
    } catch (error) {
      this.log.add(`production: ${error.message}`, "error");
    }
  }

  filter() {
    return { serial: this.$("rec-serial").value.trim(), result: this.$("rec-result").value,
             since: this.$("rec-since").value.trim() };
  }

  async refresh() {
    try {
      this.records = (await this.api.getRecords(this.filter())).records;
    } catch (error) {
      this.log.add(`records: ${error.message}`, "error");
      return;
    }
    const body = this.$("rec-table");
    body.replaceChildren(...this.records.map((r) => {
      const row = document.createElement("tr");
      for (const field of SHOWN) {
        const cell = document.createElement("td");
        cell.textContent = String(r[field] ?? "");
        row.append(cell);
      }
      return row;
    }));
    this.$("rec-count").textContent = `${this.records.length} records`;
  }

  saveCsv() {
    const blob = new Blob([recordsCsv(this.records)], { type: "text/csv" });
    const a = document.createElement("a");
    a.href = URL.createObjectURL(blob);
    a.download = "unit-records.csv";
    a.click();
    setTimeout(() => URL.revokeObjectURL(a.href), 0);
  }
}
