// The link panel: which transport, part, PIO lines and page size; Open and
// Close; what the open link reports (device address, geometry, header).
import { FtdiDevices, isFtdiPort } from "./ftdidevices.js";

const $ = (id) => document.getElementById(id);
const PAGE_SIZES = [-1, 0, 8, 16, 32, 64, 128, 256];

export class LinkPanel {
  constructor(onPartChange) {
    this.kind = $("link-kind");
    this.part = $("link-part");
    this.port = $("link-port");
    this.ftdi = new FtdiDevices($("link-ftdi"));
    this.config = $("link-config");
    this.pio = $("link-pio");
    this.page = $("link-page");
    this.openButton = $("link-open");
    this.closeButton = $("link-close");
    this.parts = [];
    for (const size of PAGE_SIZES)
      this.page.append(new Option(size === -1 ? "the part's" : size === 0 ? "byte writes" : `${size} bytes`, size));
    this.page.value = "-1";
    this.kind.addEventListener("change", () => this.showKind());
    this.part.addEventListener("change", () => onPartChange(this.partBytes()));
    this.showKind();
  }

  fill(state) {
    this.parts = state.parts;
    const chosen = this.part.value || "24c02";
    this.part.textContent = "";
    for (const p of state.parts) this.part.append(new Option(`${p.name.toUpperCase()}  (${p.bytes} bytes)`, p.name));
    this.part.append(new Option("size from header", ""));
    this.part.value = chosen;
    this.port.textContent = "";
    this.port.append(new Option("default", "-1"));
    state.ports.forEach((name, i) => isFtdiPort(name) || this.port.append(new Option(name, String(i))));
    this.ftdi.fill(state.ports);
    const command = this.kind.querySelector("option[value=command]");
    command.hidden = !state.commandLink;
    if (state.commandLink) {
      $("link-command-row").textContent = state.commandLink;
      this.kind.value = "command";
    }
    this.showKind();
  }

  showKind() {
    const kind = this.kind.value;
    $("link-port-row").hidden = kind !== "lpt" && kind !== "usb";
    $("link-ftdi-row").hidden = kind !== "ftdi";
    $("link-config-row").hidden = kind !== "config";
    $("link-command-row").hidden = kind !== "command";
  }

  partBytes() {
    const p = this.parts.find((q) => q.name === this.part.value);
    return p ? p.bytes : 0;
  }

  // The page size of the part chosen (8 while none is).
  partPage() {
    const p = this.parts.find((q) => q.name === this.part.value);
    return p ? p.pageBytes : 8;
  }

  options() {
    return { kind: this.kind.value, part: this.part.value, port: Number(this.port.value), config: this.config.value, device: this.ftdi.chosen(),
             pio: this.pio.value.trim() === "6,7,8" ? "" : this.pio.value.trim(), pageSize: Number(this.page.value) };
  }

  show(state) {
    const link = state.link;
    $("info-state").textContent = state.open ? link.description : "closed";
    $("info-address").textContent = state.open ? link.deviceAddress : "–";
    $("info-geometry").textContent = state.open
      ? `${link.part ? link.part.toUpperCase() + ", " : ""}${link.bytes} bytes, size bits ${link.sizeBits}, block bits ${link.blockBits}, ${link.pageSize ? `page writes of ${link.pageSize}` : "byte writes"}`
      : "–";
    $("info-header").textContent = state.open ? (link.fromHeader ? "valid (size taken from it)" : "not used") : "–";
  }
}
