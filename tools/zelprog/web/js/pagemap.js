// One cell per EEPROM page: erased, holding data, differing from the chip,
// or written by the last job. Drawn on one canvas, so that a thousand pages
// cost the document one element; the layout follows the box's width. A
// click, or Enter on the page chosen with the arrow keys, scrolls the
// editor to the page. The colours are the page's own (app.css).
const CELL = 10, GAP = 2, STEP = CELL + GAP;
const STATES = ["erased", "data", "written", "differs"];

function colours() {
  const style = getComputedStyle(document.documentElement);
  const read = (name) => style.getPropertyValue(name).trim();
  return { ...Object.fromEntries(STATES.map((s) => [s, read(`--map-${s}`)])), focus: read("--map-focus") };
}

export class PageMap {
  constructor(element, buffer, onPick, status) {
    this.el = element;
    this.buffer = buffer;
    this.onPick = onPick;
    this.status = status; // says which page the keyboard is on
    this.pageSize = 8;
    this.states = [];
    this.focused = 0;
    this.laidColumns = 0;
    this.colours = colours();
    this.canvas = document.createElement("canvas");
    this.canvas.tabIndex = 0;
    this.canvas.setAttribute("role", "application");
    this.canvas.setAttribute("aria-label", "Page map: arrow keys choose a page, Enter shows it in the editor");
    element.append(this.canvas);
    this.canvas.addEventListener("click", (e) => {
      const page = this.pageAt(e.offsetX, e.offsetY);
      if (page !== null) this.pick(page);
    });
    this.canvas.addEventListener("mousemove", (e) => {
      const page = this.pageAt(e.offsetX, e.offsetY);
      this.canvas.title = page === null ? "" : this.describe(page);
    });
    this.canvas.addEventListener("keydown", (e) => this.key(e));
    this.canvas.addEventListener("focus", () => this.moveFocus(this.focused));
    this.canvas.addEventListener("blur", () => this.drawCell(this.focused));
    buffer.onChange((from, to) => this.update(from, to));
    new ResizeObserver(() => {
      if (this.columns() !== this.laidColumns) this.redraw();
    }).observe(element);
  }

  pages() { return Math.ceil(this.buffer.size / this.pageSize); }
  columns() { return Math.max(1, Math.floor((this.el.clientWidth + GAP) / STEP)); }

  describe(page) {
    const first = page * this.pageSize, last = Math.min(this.buffer.size, first + this.pageSize) - 1;
    const hex = (v) => v.toString(16).padStart(4, "0");
    return `page ${page}: 0x${hex(first)}-0x${hex(last)}, ${this.states[page]}`;
  }

  pageAt(x, y) {
    const column = Math.floor(x / STEP), row = Math.floor(y / STEP);
    const page = row * this.columns() + column;
    return column < this.columns() && page < this.pages() ? page : null;
  }

  pick(page) {
    this.moveFocus(page);
    this.onPick(page * this.pageSize);
  }

  key(e) {
    const columns = this.laidColumns;
    const moves = { ArrowLeft: -1, ArrowRight: 1, ArrowUp: -columns, ArrowDown: columns, PageUp: -8 * columns,
                    PageDown: 8 * columns };
    let page = null;
    if (e.key in moves) page = this.focused + moves[e.key];
    else if (e.key === "Home") page = 0;
    else if (e.key === "End") page = this.pages() - 1;
    else if (e.key === "Enter" || e.key === " ") {
      e.preventDefault();
      this.pick(this.focused);
      return;
    } else return;
    e.preventDefault();
    this.moveFocus(Math.max(0, Math.min(this.pages() - 1, page)));
  }

  moveFocus(page) {
    const before = this.focused;
    this.focused = page;
    this.drawCell(before);
    this.drawCell(page);
    this.status.textContent = this.describe(page);
    const row = Math.floor(page / this.laidColumns) * STEP;
    if (row < this.el.scrollTop || row + STEP > this.el.scrollTop + this.el.clientHeight)
      this.el.scrollTop = row - this.el.clientHeight / 2;
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
      this.focused = Math.min(this.focused, this.pages() - 1);
      from = 0;
      to = this.buffer.size;
      this.layout();
    }
    const b = this.buffer, size = this.pageSize;
    const first = Math.floor(from / size), last = Math.min(this.pages(), Math.ceil(to / size));
    for (let p = first; p < last; p++) {
      let erased = true, differs = false, written = false;
      const end = Math.min(b.size, (p + 1) * size);
      for (let i = p * size; i < end; i++) {
        if (b.bytes[i] !== 0xff) erased = false;
        if (b.differs(i)) differs = true;
        if (b.written[i]) written = true;
      }
      this.states[p] = differs ? "differs" : written ? "written" : erased ? "erased" : "data";
      this.drawCell(p);
    }
  }

  drawCell(p) {
    if (p >= this.states.length) return;
    const context = this.canvas.getContext("2d");
    const x = (p % this.laidColumns) * STEP, y = Math.floor(p / this.laidColumns) * STEP;
    context.clearRect(x - 1, y - 1, CELL + 2, CELL + 2);
    context.fillStyle = this.colours[this.states[p]];
    context.fillRect(x, y, CELL, CELL);
    if (p === this.focused && document.activeElement === this.canvas) {
      context.strokeStyle = this.colours.focus;
      context.lineWidth = 2;
      context.strokeRect(x, y, CELL, CELL);
    }
  }

  redraw() {
    this.layout();
    for (let p = 0; p < this.states.length; p++) this.drawCell(p);
  }

  layout() {
    this.laidColumns = this.columns();
    this.canvas.width = this.laidColumns * STEP;
    this.canvas.height = Math.ceil(this.pages() / this.laidColumns) * STEP;
  }
}
