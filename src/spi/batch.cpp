#include "spi/batch.h"

#include <atomic>
#include <vector>

#include "hoplink.h"
#include "platform/module.h"
#include "spi/pio.h"
#include "spi/transport.h"

namespace zel {
namespace {

std::atomic<bool> batching{false}; // the host's switch

// The transport's entry point, looked up once in the library that holds
// hoplink_write; null when it has none.
hoplink_batch_fn Entry() {
    static const hoplink_batch_fn entry = reinterpret_cast<hoplink_batch_fn>(
        platform::FindSiblingFunction(reinterpret_cast<const void *>(&hoplink_write), "hoplink_batch"));
    return entry;
}

// Each thread queues into its own: a thread that a stop gave up on may
// still be inside the transport with its batch, which must stay its own.
struct Queue {
    std::vector<hoplink_access> accesses;
    size_t carriedOut = 0; // of the last batch sent
    bool open = false;
    bool overflowed = false;
};
thread_local Queue queue;

void Append(uint32_t kind, uint32_t address, uint32_t value) {
    if (queue.accesses.size() >= HOPLINK_BATCH_MAX) {
        queue.overflowed = true;
        return;
    }
    try {
        queue.accesses.push_back({kind, address, value});
    } catch (...) {
        queue.overflowed = true; // out of memory: the transaction goes access by access
    }
}

// The transport's answer as a count of accesses carried out: anything
// outside 0..count (a refusal is -1) carried out none.
size_t CarriedOut(int32_t result, size_t count) {
    return result >= 0 && static_cast<size_t>(result) <= count ? static_cast<size_t>(result) : 0;
}

} // namespace

bool SetBatching(bool on) {
    batching = on;
    return BatchingInUse();
}

bool BatchingInUse() { return batching && Entry() != nullptr; }

void OpenQueue() {
    queue.accesses.clear();
    queue.carriedOut = 0;
    queue.open = true;
    queue.overflowed = false;
}

bool QueueOpen() { return queue.open; }
bool QueueOverflowed() { return queue.overflowed; }
size_t QueuedCount() { return queue.accesses.size(); }

void DiscardQueue() {
    queue.open = false;
    queue.accesses.clear();
}

size_t SendQueue() {
    queue.open = false;
    queue.carriedOut = 0;
    const size_t queued = queue.accesses.size();
    if (queue.overflowed || queued == 0) {
        return queued;
    }
    int32_t done = -1;
    const Access access = TransportBatch(Entry(), queue.accesses.data(), static_cast<int32_t>(queued), done);
    if (access == Access::Refused) {
        NoteFailedAccess(false); // never handed on: a thread given up on, a link changed under the job
        return 0;
    }
    queue.carriedOut = CarriedOut(done, queued);
    if (queue.carriedOut < queued) {
        NoteFailedAccess(queue.accesses[queue.carriedOut].kind == HOPLINK_ACCESS_WRITE);
    }
    return queue.carriedOut;
}

uint16_t QueuedReadValue(size_t index) {
    return index < queue.carriedOut ? static_cast<uint16_t>(queue.accesses[index].value) : 0xFFFF;
}

void QueueWrite(uint32_t address, uint16_t value) { Append(HOPLINK_ACCESS_WRITE, address, value); }

void QueueRead(uint32_t address) { Append(HOPLINK_ACCESS_READ, address, 0); }

} // namespace zel
