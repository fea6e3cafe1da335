// The FTDI adapters the transport found, each offered by the configuration
// string that opens it (the server takes only one of those it lists).
const PREFIX = "SPITRANS=FTDI";

export const isFtdiPort = (name) => name.startsWith(PREFIX);

export class FtdiDevices {
  constructor(select) {
    this.select = select;
  }

  fill(ports) {
    const chosen = this.select.value;
    this.select.textContent = "";
    const found = ports.filter(isFtdiPort);
    for (const name of found) this.select.append(new Option(name.slice(PREFIX.length).trim(), name));
    if (found.length === 0) this.select.append(new Option("none found: plug one in and reload", ""));
    if (found.includes(chosen)) this.select.value = chosen;
  }

  chosen() {
    return this.select.value;
  }
}
