// Open and Save of the buffer. Files are parsed and written by zelprog's own
// converters on the server; nothing here names a path on its disk.
const $ = (id) => document.getElementById(id);
const EXTENSIONS = { bin: "bin", ihex: "hex", srec: "srec", text: "txt" };

export function formatOf(name, chosen) {
  if (chosen !== "auto") return chosen;
  const lower = name.toLowerCase();
  if (lower.endsWith(".bin")) return "bin";
  if (lower.endsWith(".hex") || lower.endsWith(".ihex")) return "ihex";
  if ([".srec", ".s19", ".s28", ".s37"].some((tail) => lower.endsWith(tail))) return "srec";
  return "text";
}

export class Files {
  constructor(api, buffer, log) {
    this.input = $("file-input");
    this.format = $("file-format");
    this.openButton = $("file-open");
    this.saveButton = $("file-save");
    this.openButton.addEventListener("click", () => this.input.click());
    this.input.addEventListener("change", () => this.load(api, buffer, log));
    this.saveButton.addEventListener("click", () => this.save(api, buffer, log));
  }

  async load(api, buffer, log) {
    const file = this.input.files[0];
    this.input.value = "";
    if (!file) return;
    const format = formatOf(file.name, this.format.value);
    try {
      const bytes = await api.decode(await file.arrayBuffer(), format, buffer.size);
      buffer.load(bytes);
      log.add(`loaded ${file.name} (${format}, ${file.size} bytes) into the buffer`, "result");
    } catch (error) {
      log.add(`${file.name}: ${error.message}; the buffer is unchanged`, "error");
    }
  }

  async save(api, buffer, log) {
    const format = this.format.value === "auto" ? "bin" : this.format.value;
    try {
      const data = await api.encode(buffer.bytes, format);
      const link = document.createElement("a");
      link.href = URL.createObjectURL(new Blob([data]));
      link.download = `eeprom.${EXTENSIONS[format]}`;
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 10000);
      log.add(`saved the buffer as ${link.download}`, "result");
    } catch (error) {
      log.add(`save: ${error.message}`, "error");
    }
  }
}
