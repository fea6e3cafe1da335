// One cell per EEPROM page: erased, holding data, differing from the chip,
// or written by the last job. Drawn on one canvas, so that a thousand pages
// cost the document one element; a click scrolls the editor to the page.
const CELL = 10, GAP = 2, STEP = CELL + GAP;
const COLOURS = { erased: "#e5e7eb", data: "#93c5fd", written: "#4ade80", differs: "#ef4444" };

export class PageMap {
  constructor(element, buffer, onPick) {
    this.el = element;
    this.buffer = buffer;
    this.pageSize = 8;
    this.states = [];
    this.canvas = document.createElement("canvas");
    element.append(this.canvas);
    this.canvas.addEventListener("click", (e) => {
      const page = this.pageAt(e.offsetX, e.offsetY);
      if (page !== null) onPick(page * this.pageSize);
    });
    this.canvas.addEventListener("mousemove", (e) => {
      const page = this.pageAt(e.offsetX, e.offsetY);
      this.canvas.title = page === null ? "" : `page ${page}: 0x${(page * this.pageSize).toString(16).padStart(4, "0")}, ${this.states[page]}`;
    });
    buffer.onChange((from, to) => this.update(from, to));
  }

  pages() { return Math.ceil(this.buffer.size / this.pageSize); }
  columns() { return Math.max(1, Math.floor((this.el.clientWidth + GAP) / STEP)); }

  pageAt(x, y) {
    const column = Math.floor(x / STEP), row = Math.floor(y / STEP);
    const page = row * this.columns() + column;
    return column < this.columns() && page < this.pages() ? page : null;
  }

  setPageSize(bytes) {
    this.pageSize = bytes > 0 ? bytes : 8;
    this.states = [];
    this.update(0, this.buffer.size);
  }

  // The state of each page from `from` to `to`, then a redraw of those cells.
  update(from, to) {
    if (this.states.length !== this.pages()) {
      this.states = new Array(this.pages()).fill("erased");
      from = 0;
      to = this.buffer.size;
      this.layout();
    }
    const b = this.buffer, size = this.pageSize;
    const first = Math.floor(from / size), last = Math.min(this.pages(), Math.ceil(to / size));
    const context = this.canvas.getContext("2d");
    const columns = this.columns();
    for (let p = first; p < last; p++) {
      let erased = true, differs = false, written = false;
      const end = Math.min(b.size, (p + 1) * size);
      for (let i = p * size; i < end; i++) {
        if (b.bytes[i] !== 0xff) erased = false;
        if (b.differs(i)) differs = true;
        if (b.written[i]) written = true;
      }
      const state = differs ? "differs" : written ? "written" : erased ? "erased" : "data";
      this.states[p] = state;
      context.fillStyle = COLOURS[state];
      context.fillRect((p % columns) * STEP, Math.floor(p / columns) * STEP, CELL, CELL);
    }
  }

  layout() {
    const columns = this.columns();
    this.canvas.width = columns * STEP;
    this.canvas.height = Math.ceil(this.pages() / columns) * STEP;
  }
}
