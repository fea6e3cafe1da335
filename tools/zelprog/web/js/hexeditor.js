// The hex editor: 16 bytes a row with offset and ASCII columns. Only the
// rows in view are in the document; scrolling re-fills a fixed pool of
// rows. Typing two hex digits edits the byte under the cursor and moves on.
const COLUMNS = 16;
const ROW_HEIGHT = 20; // px, as --row in app.css

const hex2 = (v) => v.toString(16).padStart(2, "0");
const HEX = Array.from({ length: 256 }, (_, v) => hex2(v));
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
    // a whole new buffer may have a new size; an edit only redraws
    buffer.onChange((from, to) => (to - from === buffer.size ? this.refresh() : this.render(true)));
    element.addEventListener("scroll", () => this.render());
    element.addEventListener("mousedown", (e) => this.click(e));
    element.addEventListener("keydown", (e) => this.key(e));
    this.height = element.clientHeight;
    new ResizeObserver(() => {
      this.height = element.clientHeight;
      this.render(true);
    }).observe(element);
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

  // A row of the pool: its text nodes and class names are kept, so that a
  // redraw writes only what changed.
  makeRow(slotIndex) {
    const row = document.createElement("div");
    row.className = "row";
    const off = document.createElement("span");
    off.className = "off";
    off.append("");
    const bytes = document.createElement("span");
    bytes.className = "bytes";
    const ascii = document.createElement("span");
    ascii.className = "ascii";
    ascii.append("");
    const cells = [];
    for (let c = 0; c < COLUMNS; c++) {
      const b = document.createElement("span");
      b.className = "b";
      b.append("");
      b.zelColumn = c;
      b.zelSlot = slotIndex;
      bytes.append(b);
      cells.push({ el: b, text: b.firstChild, value: "", cls: "b" });
    }
    row.append(off, bytes, ascii);
    this.rowsEl.append(row);
    return { row, off: off.firstChild, ascii: ascii.firstChild, cells, base: -1, hidden: false };
  }

  // The element of byte `i` while its row is in view, else null.
  cellOf(i) {
    const r = Math.floor(i / COLUMNS) - this.firstRow;
    return r >= 0 && r < this.pool.length ? this.pool[r].cells[i % COLUMNS].el : null;
  }

  indexOf(element) {
    if (element.zelSlot === undefined) return null;
    const i = (this.firstRow + element.zelSlot) * COLUMNS + element.zelColumn;
    return i < this.buffer.size ? i : null;
  }

  // Fills the pool with the rows in view; `force` redraws them even when the
  // first visible row stayed.
  render(force = false) {
    const visible = Math.ceil(this.height / ROW_HEIGHT) + 1;
    const first = Math.min(Math.floor(this.el.scrollTop / ROW_HEIGHT), Math.max(0, this.rows() - visible + 1));
    if (!force && first === this.firstRow && this.pool.length >= visible) return;
    this.firstRow = first;
    while (this.pool.length < visible) this.pool.push(this.makeRow(this.pool.length));
    this.rowsEl.style.transform = `translateY(${first * ROW_HEIGHT}px)`;
    const lo = Math.min(this.anchor, this.cursor), hi = Math.max(this.anchor, this.cursor);
    const buf = this.buffer, rows = this.rows();
    for (let r = 0; r < this.pool.length; r++) {
      const slot = this.pool[r];
      const row = first + r;
      const hidden = row >= rows;
      if (hidden !== slot.hidden) {
        slot.row.style.visibility = hidden ? "hidden" : "";
        slot.hidden = hidden;
      }
      if (hidden) continue;
      const base = row * COLUMNS;
      if (slot.base !== base) {
        slot.off.nodeValue = hexOffset(base);
        slot.base = base;
      }
      let ascii = "";
      for (let c = 0; c < COLUMNS; c++) {
        const i = base + c;
        const v = buf.bytes[i];
        const cell = slot.cells[c];
        const text = i === this.cursor && this.pendingNibble !== null ? this.pendingNibble + "_" : HEX[v];
        if (cell.value !== text) {
          cell.text.nodeValue = text;
          cell.value = text;
        }
        let cls = "b";
        if (buf.edited[i]) cls += " edited";
        else if (buf.differs(i)) cls += " differs";
        else if (buf.written[i]) cls += " written";
        else if (v === 0xff) cls += " erased";
        if (i === this.cursor) cls += " cursor";
        else if (i >= lo && i <= hi && lo !== hi) cls += " sel";
        if (cell.cls !== cls) {
          cell.el.className = cls;
          cell.cls = cls;
        }
        ascii += v >= 0x20 && v < 0x7f ? String.fromCharCode(v) : ".";
      }
      slot.ascii.nodeValue = ascii;
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
    const view = this.height - 2 * ROW_HEIGHT; // the sticky header covers one row
    if (top || y < this.el.scrollTop) this.el.scrollTop = y;
    else if (y > this.el.scrollTop + view) this.el.scrollTop = y - view;
    this.render();
  }

  click(e) {
    const i = this.indexOf(e.target);
    if (i === null) return;
    e.preventDefault();
    this.el.focus();
    this.select(i, e.shiftKey);
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
