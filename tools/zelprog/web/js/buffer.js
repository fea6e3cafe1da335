// The buffer the page edits, and what is known of the chip beside it:
// bytes the user changed, the chip's contents where known, and the bytes
// the last job wrote. Views subscribe and redraw on change.
export class Buffer {
  constructor(size) {
    this.listeners = [];
    this.resize(size);
  }

  resize(size) {
    this.size = size;
    this.bytes = new Uint8Array(size).fill(0xff);
    this.edited = new Uint8Array(size);
    this.written = new Uint8Array(size);
    this.chip = null;
    this.changed();
  }

  onChange(listener) { this.listeners.push(listener); }
  // `from`, `to`: the bytes that changed; the whole buffer when left out.
  changed(from = 0, to = this.size) { for (const l of this.listeners) l(from, to); }

  differs(i) { return this.chip !== null && this.chip[i] !== this.bytes[i]; }

  setByte(i, value) {
    if (this.bytes[i] === value) return;
    this.bytes[i] = value;
    this.edited[i] = 1;
    this.changed(i, i + 1);
  }

  // A file or a read replaces the whole buffer.
  load(bytes) {
    this.bytes = new Uint8Array(bytes);
    this.edited.fill(0);
    this.changed();
  }

  // After a read: the chip and the buffer hold the same.
  loadFromChip(bytes) {
    this.bytes = new Uint8Array(bytes);
    this.chip = new Uint8Array(bytes);
    this.edited.fill(0);
    this.written.fill(0);
    this.changed();
  }

  // After a write that verified: the chip holds the buffer; what differed
  // before is what the job wrote (everything, when the chip was unknown).
  wrote() {
    for (let i = 0; i < this.size; i++) this.written[i] = this.chip === null || this.chip[i] !== this.bytes[i] ? 1 : 0;
    this.chip = new Uint8Array(this.bytes);
    this.edited.fill(0);
    this.changed();
  }

  filled(value) {
    for (let i = 0; i < this.size; i++) this.written[i] = this.chip === null || this.chip[i] !== value ? 1 : 0;
    this.chip = new Uint8Array(this.size).fill(value);
    this.changed();
  }

  // A verify: the chip holds the buffer except where a mismatch said
  // otherwise (`reads`: byte offset -> value read back).
  verified(reads) {
    this.chip = new Uint8Array(this.bytes);
    for (const [offset, value] of reads) if (offset < this.size) this.chip[offset] = value;
    this.edited.fill(0); // what was changed is now known to differ, or not
    this.written.fill(0);
    this.changed();
  }

  forgetChip() {
    this.chip = null;
    this.written.fill(0);
    this.changed();
  }
}
