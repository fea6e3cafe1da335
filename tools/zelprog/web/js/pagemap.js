// One cell per EEPROM page: erased, holding data, differing from the chip,
// or written by the last job. A click scrolls the editor to the page.
export class PageMap {
  constructor(element, buffer, onPick) {
    this.el = element;
    this.buffer = buffer;
    this.pageSize = 8;
    this.cells = [];
    element.addEventListener("click", (e) => {
      const page = e.target.dataset?.page;
      if (page !== undefined) onPick(Number(page) * this.pageSize);
    });
    buffer.onChange((from, to) => this.update(from, to));
  }

  setPageSize(bytes) {
    this.pageSize = bytes > 0 ? bytes : 8;
    this.build();
  }

  build() {
    const pages = Math.ceil(this.buffer.size / this.pageSize);
    this.el.textContent = "";
    this.cells = [];
    const fragment = document.createDocumentFragment();
    for (let p = 0; p < pages; p++) {
      const cell = document.createElement("div");
      cell.className = "p";
      cell.dataset.page = p;
      fragment.append(cell);
      this.cells.push(cell);
    }
    this.el.append(fragment);
    this.update(0, this.buffer.size);
  }

  update(from, to) {
    if (this.cells.length !== Math.ceil(this.buffer.size / this.pageSize)) return this.build();
    const b = this.buffer;
    const first = Math.floor(from / this.pageSize), last = Math.ceil(to / this.pageSize);
    for (let p = first; p < last; p++) {
      let erased = true, differs = false, written = false;
      const end = Math.min(b.size, (p + 1) * this.pageSize);
      for (let i = p * this.pageSize; i < end; i++) {
        if (b.bytes[i] !== 0xff) erased = false;
        if (b.differs(i)) differs = true;
        if (b.written[i]) written = true;
      }
      const state = differs ? "differs" : written ? "written" : erased ? "erased" : "data";
      const cell = this.cells[p];
      cell.className = `p ${state}`;
      cell.title = `page ${p}: 0x${(p * this.pageSize).toString(16).padStart(4, "0")}, ${state}`;
    }
  }
}
