// Every message, error and result, newest at the bottom.
export class Log {
  constructor(element) { this.el = element; }

  add(text, kind = "") {
    const line = document.createElement("div");
    if (kind) line.className = kind;
    const time = document.createElement("span");
    time.className = "t";
    time.textContent = new Date().toLocaleTimeString([], { hour12: false });
    line.append(time, document.createTextNode(text));
    const atEnd = this.el.scrollTop + this.el.clientHeight >= this.el.scrollHeight - 4;
    this.el.append(line);
    if (atEnd) this.el.scrollTop = this.el.scrollHeight;
  }
}
