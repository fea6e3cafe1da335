// The hex editor: 16 bytes a row with offset and ASCII columns. Only the
// rows in view are in the document; scrolling re-fills a fixed pool of
// rows. Typing two hex digits edits the byte under the cursor and moves on.
const COLUMNS = 16;
const ROW_HEIGHT = 20; // px, as --row in app.css

const hex2 = (v) => v.toString(16).padStart(2, "0");
const hexOffset = (v) => v.toString(16).padStart(6, "0");

export class HexEditor {
  constructor(element, buffer, onSelect) {
    this.el = element;
    this.buffer = buffer;
    this.onSelect = onSelect;
    this.cursor = 0;
    this.anchor = 0;
    this.pendingNibble = null; // the first digit typed of the byte under the cursor
    this.pool = [];
    this.firstRow = -1;
    this.build();
    buffer.onChange(() => this.refresh());
    element.addEventListener("scroll", () => this.render());
    element.addEventListener("mousedown", (e) => this.click(e));
    element.addEventListener("keydown", (e) => this.key(e));
    new ResizeObserver(() => this.render(true)).observe(element);
  }

  build() {
    this.el.textContent = "";
    const head = document.createElement("div");
    head.className = "head";
    head.innerHTML = `<span class="off">offset</span><span class="bytes">${[...Array(COLUMNS).keys()]
      .map((i) => `<span class="b">${hex2(i)}</span>`).join("")}</span><span class="ascii">ascii</span>`;
    this.spacer = document.createElement("div");
    this.spacer.className = "spacer";
    this.rowsEl = document.createElement("div");
    this.rowsEl.className = "rows";
    this.spacer.append(this.rowsEl);
    this.el.append(head, this.spacer);
    this.pool = [];
    this.firstRow = -1;
    this.refresh();
  }

  rows() { return Math.ceil(this.buffer.size / COLUMNS); }

  refresh() {
    this.spacer.style.height = `${this.rows() * ROW_HEIGHT}px`;
    if (this.cursor >= this.buffer.size) this.cursor = this.anchor = 0;
    this.render(true);
  }

  makeRow() {
    const row = document.createElement("div");
    row.className = "row";
    const off = document.createElement("span");
    off.className = "off";
    const bytes = document.createElement("span");
    bytes.className = "bytes";
    const ascii = document.createElement("span");
    ascii.className = "ascii";
    const cells = [], chars = [];
    for (let c = 0; c < COLUMNS; c++) {
      const b = document.createElement("span");
      b.className = "b";
      bytes.append(b);
      cells.push(b);
      const a = document.createElement("span");
      a.className = "a";
      ascii.append(a);
      chars.push(a);
    }
    row.append(off, bytes, ascii);
    this.rowsEl.append(row);
    return { row, off, cells, chars };
  }

  // Fills the pool with the rows in view; `force` redraws them even when the
  // first visible row stayed.
  render(force = false) {
    const visible = Math.ceil(this.el.clientHeight / ROW_HEIGHT) + 1;
    const first = Math.min(Math.floor(this.el.scrollTop / ROW_HEIGHT), Math.max(0, this.rows() - visible + 1));
    if (!force && first === this.firstRow && this.pool.length >= visible) return;
    this.firstRow = first;
    while (this.pool.length < visible) this.pool.push(this.makeRow());
    this.rowsEl.style.transform = `translateY(${first * ROW_HEIGHT}px)`;
    const lo = Math.min(this.anchor, this.cursor), hi = Math.max(this.anchor, this.cursor);
    const buf = this.buffer;
    for (let r = 0; r < this.pool.length; r++) {
      const slot = this.pool[r];
      const row = first + r;
      if (row >= this.rows()) { slot.row.style.visibility = "hidden"; continue; }
      slot.row.style.visibility = "";
      const base = row * COLUMNS;
      slot.off.textContent = hexOffset(base);
      for (let c = 0; c < COLUMNS; c++) {
        const i = base + c;
        const v = buf.bytes[i];
        const cell = slot.cells[c];
        cell.textContent = i === this.cursor && this.pendingNibble !== null ? this.pendingNibble + "_" : hex2(v);
        cell.dataset.i = i;
        let cls = "b";
        if (buf.differs(i)) cls += " differs";
        else if (buf.edited[i]) cls += " edited";
        else if (buf.written[i]) cls += " written";
        else if (v === 0xff) cls += " erased";
        if (i === this.cursor) cls += " cursor";
        else if (i >= lo && i <= hi && lo !== hi) cls += " sel";
        cell.className = cls;
        slot.chars[c].textContent = v >= 0x20 && v < 0x7f ? String.fromCharCode(v) : ".";
      }
    }
  }

  select(cursor, extend) {
    this.cursor = Math.max(0, Math.min(this.buffer.size - 1, cursor));
    if (!extend) this.anchor = this.cursor;
    this.pendingNibble = null;
    this.scrollTo(this.cursor, false);
    this.render(true);
    const lo = Math.min(this.anchor, this.cursor), hi = Math.max(this.anchor, this.cursor);
    this.onSelect(lo, hi - lo + 1);
  }

  // Brings `offset` into view; `top` puts its row at the top.
  scrollTo(offset, top = true) {
    const y = Math.floor(offset / COLUMNS) * ROW_HEIGHT;
    const view = this.el.clientHeight - 2 * ROW_HEIGHT; // the sticky header covers one row
    if (top || y < this.el.scrollTop) this.el.scrollTop = y;
    else if (y > this.el.scrollTop + view) this.el.scrollTop = y - view;
    this.render();
  }

  click(e) {
    const i = e.target.dataset?.i;
    if (i === undefined) return;
    e.preventDefault();
    this.el.focus();
    this.select(Number(i), e.shiftKey);
  }

  key(e) {
    const moves = { ArrowLeft: -1, ArrowRight: 1, ArrowUp: -COLUMNS, ArrowDown: COLUMNS, PageUp: -COLUMNS * 16,
                    PageDown: COLUMNS * 16 };
    if (e.key in moves) {
      e.preventDefault();
      this.select(this.cursor + moves[e.key], e.shiftKey);
      return;
    }
    if (e.key === "Home" || e.key === "End") {
      e.preventDefault();
      this.select(e.key === "Home" ? 0 : this.buffer.size - 1, e.shiftKey);
      return;
    }
    if (!/^[0-9a-fA-F]$/.test(e.key) || e.ctrlKey || e.metaKey || e.altKey) return;
    e.preventDefault();
    const digit = e.key.toLowerCase();
    if (this.pendingNibble === null) {
      this.pendingNibble = digit;
      this.anchor = this.cursor;
      this.render(true);
      return;
    }
    const value = parseInt(this.pendingNibble + digit, 16);
    this.pendingNibble = null;
    const at = this.cursor;
    this.buffer.setByte(at, value);
    this.select(Math.min(at + 1, this.buffer.size - 1), false);
  }
}
