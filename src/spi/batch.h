// Batches of register accesses: a whole sequence in one transport call, where
// the transport has the batch entry point and the host turned batching on.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zel {

// The host's switch, off at load. True when batches are used from now on:
// on, and the loaded transport has the entry point.
bool SetBatching(bool on);
bool BatchingInUse();

// While this thread has its queue open, the PIO port queues its register
// accesses instead of sending them, and reads give 0xFFFF. A queue holds at
// most one transport batch; OpenQueue drops what the queue held before.
void OpenQueue();
bool QueueOpen();
// The queue ran full: it cannot be sent, and nothing of it went out.
bool QueueOverflowed();
size_t QueuedCount(); // the index the next queued access gets
void DiscardQueue();

// Sends the queue as one batch and closes it. Returns how many accesses were
// carried out: all, or the index of the first that failed (a refused batch:
// 0). A failure counts as one failed access.
size_t SendQueue();

// What the queued read at `index` got from the last batch; 0xFFFF when it
// was not carried out.
uint16_t QueuedReadValue(size_t index);

// Called by the PIO port while the queue is open.
void QueueWrite(uint32_t address, uint16_t value);
void QueueRead(uint32_t address);

} // namespace zel
