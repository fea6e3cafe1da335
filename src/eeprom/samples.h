// The samples of a transaction queued into one batch. While the queue is
// open, a sample cannot be looked at: it reads as the level of a step that
// succeeds, and is noted with what it would decide, to be judged once the
// batch is back. With no queue open a sample is just the line's level.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zel {

// What a sample decides.
enum class Role : uint8_t {
    Discard, // nothing: the first of two samples, only the second counts
    Wait,    // whether the bus code waits for the line (a clock held low)
    Decide,  // whether the step succeeds
    Level,   // only the level bit written after a stop
};

// The steps of a transaction, in the order BusTransfer takes them.
enum class Step : uint8_t { Start, ByteOut, ByteIn, Acknowledge, Stop };

// The first sample that read other than a successful step would have.
struct Mismatch {
    bool found = false;
    Role role = Role::Decide;
    size_t step = 0; // the step it belongs to
    Step kind = Step::Start;
};

// One sample of `line`: live, whether it reads high; queued, `high`.
bool Sample(int line, bool high, Role role);
// One sample of a bit that the device sends: whether the data line reads
// high, `clockHigh` whether the clock did. Queued, the bit lands in
// *destination once the batch is back.
bool SampleBit(int clock, int data, bool &clockHigh, uint8_t *destination, int bit);
// Marks the beginning of a step (nothing with no queue open).
void BeginStep(Step kind);

// A queued transaction: forget earlier samples, note from here on.
void ClearSamples();
bool SamplesOverflowed();
size_t StepCount(); // steps begun so far
// Bytes that completed before `step`, as BusTransfer counts them: each byte
// out, and each byte in with its acknowledge.
uint16_t BytesBefore(size_t step);
// Once the batch is back: the first mismatch from step `fromStep` on, and
// the received bits put in place.
Mismatch FirstMismatch(size_t fromStep);
void DeliverBits();

} // namespace zel
