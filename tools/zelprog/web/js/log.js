// Every message, error and result, newest at the bottom. The last
// MAX_LINES are kept; a line at the top says how many went before them.
export const MAX_LINES = 2000;

export class Log {
  constructor(element) {
    this.el = element;
    this.dropped = 0;
    this.droppedLine = null;
    this.follow = null; // within a frame: whether the view was at the end before its lines came
  }

  add(text, kind = "") {
    const line = document.createElement("div");
    if (kind) line.className = kind;
    const time = document.createElement("span");
    time.className = "t";
    time.textContent = new Date().toLocaleTimeString([], { hour12: false });
    line.append(time, document.createTextNode(text));
    if (this.follow === null) {
      // one layout a frame however many lines come (a verify may bring thousands)
      this.follow = this.el.scrollTop + this.el.clientHeight >= this.el.scrollHeight - 4;
      requestAnimationFrame(() => {
        if (this.follow) this.el.scrollTop = this.el.scrollHeight;
        this.follow = null;
      });
    }
    this.el.append(line);
    if (this.el.childElementCount - (this.droppedLine ? 1 : 0) > MAX_LINES) this.dropOldest();
  }

  dropOldest() {
    if (!this.droppedLine) {
      this.droppedLine = document.createElement("div");
      this.droppedLine.className = "dropped";
      this.el.prepend(this.droppedLine);
    }
    this.droppedLine.nextElementSibling.remove();
    this.dropped++;
    this.droppedLine.textContent = `${this.dropped} earlier line${this.dropped === 1 ? "" : "s"} dropped; the last ${MAX_LINES} are kept`;
  }
}
