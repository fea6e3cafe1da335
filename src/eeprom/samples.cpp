#include "eeprom/samples.h"

#include <vector>

#include "spi/batch.h"
#include "spi/pio.h"

namespace zel {
namespace {

// A page write of 256 bytes notes about 800 samples and 260 steps.
constexpr size_t kMaxSamples = 2048;
constexpr size_t kMaxSteps = 1024;
constexpr size_t kMaxBits = 1024;

struct Noted {
    size_t access; // index in the queue
    int line;
    bool high; // the level of a step that succeeds
    Role role;
    size_t step;
};

struct Bit {
    size_t access;
    int line;
    uint8_t *destination;
    uint8_t mask;
};

// Per thread, as the queue: a thread that a stop gave up on may still judge
// its own batch when it comes back.
struct Samples {
    std::vector<Noted> noted;
    std::vector<Step> steps;
    std::vector<Bit> bits;
    bool overflowed = false;
};
thread_local Samples samples;

template <typename Item> void Push(std::vector<Item> &list, size_t limit, const Item &item) {
    if (list.size() >= limit) {
        samples.overflowed = true;
        return;
    }
    try {
        list.push_back(item);
    } catch (...) {
        samples.overflowed = true; // out of memory: the transaction goes access by access
    }
}

// The step under way; samples before any step belong to step 0.
size_t CurrentStep() { return samples.steps.empty() ? 0 : samples.steps.size() - 1; }

} // namespace

bool Sample(int line, bool high, Role role) {
    if (!QueueOpen()) {
        return ReadLine(line) != 0;
    }
    Push(samples.noted, kMaxSamples, Noted{QueuedCount(), line, high, role, CurrentStep()});
    ReadInputs();
    return high;
}

bool SampleBit(int clock, int data, bool &clockHigh, uint8_t *destination, int bit) {
    if (!QueueOpen()) {
        const uint16_t inputs = ReadInputs(); // one sample gives clock and data
        clockHigh = LineBit(inputs, clock) != 0;
        return LineBit(inputs, data) != 0;
    }
    const size_t access = QueuedCount();
    Push(samples.noted, kMaxSamples, Noted{access, clock, true, Role::Decide, CurrentStep()});
    if (destination != nullptr) {
        Push(samples.bits, kMaxBits, Bit{access, data, destination, static_cast<uint8_t>(1u << bit)});
    }
    ReadInputs();
    clockHigh = true;
    return false;
}

void BeginStep(Step kind) {
    if (QueueOpen()) {
        Push(samples.steps, kMaxSteps, kind);
    }
}

void ClearSamples() {
    samples.noted.clear();
    samples.steps.clear();
    samples.bits.clear();
    samples.overflowed = false;
}

bool SamplesOverflowed() { return samples.overflowed; }
size_t StepCount() { return samples.steps.size(); }

uint16_t BytesBefore(size_t step) {
    uint16_t bytes = 0;
    for (size_t s = 0; s < step && s < samples.steps.size(); ++s) {
        if (samples.steps[s] == Step::ByteOut || samples.steps[s] == Step::Acknowledge) {
            ++bytes;
        }
    }
    return bytes;
}

Mismatch FirstMismatch(size_t fromStep) {
    for (const Noted &n : samples.noted) {
        if (n.step < fromStep || n.role == Role::Discard || n.role == Role::Level) {
            continue;
        }
        const bool high = LineBit(QueuedReadValue(n.access), n.line) != 0;
        if (high != n.high) {
            const Step kind = n.step < samples.steps.size() ? samples.steps[n.step] : Step::Start;
            return {true, n.role, n.step, kind};
        }
    }
    return {};
}

void DeliverBits() {
    for (const Bit &b : samples.bits) {
        if (LineBit(QueuedReadValue(b.access), b.line) != 0) {
            *b.destination = static_cast<uint8_t>(*b.destination | b.mask);
        } else {
            *b.destination = static_cast<uint8_t>(*b.destination & ~b.mask);
        }
    }
}

} // namespace zel
