#include "eeprom/bus.h"

#include "eeprom/samples.h"
#include "platform/tick.h"
#include "spi/batch.h"
#include "spi/pio.h"

namespace zel {
namespace {

// A device may stretch the clock this long during start and stop.
constexpr uint32_t kStretchLimitMs = 10;

// Both bus lines are open-drain: their level bits stay 0 while enabled, so
// enabling a line pulls it low and releasing it lets the pull-up raise it.
void Release(int line) { SetLineEnable(line, false); }
void PullLow(int line) { SetLineEnable(line, true); }

// The bus lines as chosen when a step starts.
struct Lines {
    int clock;
    int data;
};
Lines BusLines() { return {ClockLine(), DataLine()}; }

// Samples `line` until it reads high or `limitMs` have passed since `start`,
// then samples it once more: that last sample decides.
bool WaitHigh(int line, uint32_t start, uint32_t limitMs) {
    while (!Sample(line, true, Role::Wait) && platform::TickMs() - start < limitMs) {
    }
    return Sample(line, true, Role::Decide);
}

// As WaitHigh from now; with no limit: two samples, the second decides.
bool CheckHigh(int line, uint32_t limitMs) {
    if (limitMs == 0) {
        Sample(line, true, Role::Discard);
        return Sample(line, true, Role::Decide);
    }
    return WaitHigh(line, platform::TickMs(), limitMs);
}

// A refused register access may have put a wrong bit on the bus, and the
// device may have latched a wrong byte: it must see a start before any stop,
// so that it drops the write. With the clock low first, releasing the data
// line cannot make a stop; the recovery then clocks out an acknowledge the
// device may still drive and starts before it stops. The transaction failed.
uint16_t AbortTransfer() {
    PullLow(BusLines().clock);
    BusRecover();
    return 0;
}

} // namespace

void BusRelease() {
    const Lines lines = BusLines();
    SetLineLevel(lines.data, false);
    SetLineLevel(lines.clock, false);
    Release(lines.data);
    Release(lines.clock);
}

bool BusStart() {
    BeginStep(Step::Start);
    const Lines lines = BusLines();
    SetLineLevel(lines.data, false);
    SetLineLevel(lines.clock, false);
    Release(lines.data);
    const bool busFree = CheckHigh(lines.data, 0);
    Release(lines.clock);
    const bool clockRose = CheckHigh(lines.clock, kStretchLimitMs);
    PullLow(lines.data); // start: data falls while the clock is high
    PullLow(lines.clock);
    return busFree && clockRose;
}

bool BusStop() {
    BeginStep(Step::Stop);
    const Lines lines = BusLines();
    PullLow(lines.data);
    Release(lines.clock);
    const bool clockRose = CheckHigh(lines.clock, kStretchLimitMs);
    Release(lines.data); // stop: data rises while the clock is high
    const bool dataRose = CheckHigh(lines.data, 0);
    // a line that reads high gets level 1 until the next release or start
    if (Sample(lines.data, true, Role::Level)) {
        SetLineLevel(lines.data, true);
    }
    if (Sample(lines.clock, true, Role::Level)) {
        SetLineLevel(lines.clock, true);
    }
    return clockRose && dataRose;
}

bool BusRecover() {
    BusRelease();
    // every attempt clocks once: up to 9 pulses free a device stuck mid-byte
    bool started = false;
    for (int attempt = 0; attempt < 9 && !started; ++attempt) {
        started = BusStart();
    }
    const bool stopped = BusStop();
    return started && stopped;
}

bool BusWriteByte(uint8_t value) {
    BeginStep(Step::ByteOut);
    const Lines lines = BusLines();
    for (int bit = 7; bit >= 0; --bit) {
        // clock is low here
        if ((value >> bit) & 1) {
            Release(lines.data);
        } else {
            PullLow(lines.data);
        }
        Release(lines.clock);
        PullLow(lines.clock);
    }
    Release(lines.data); // the device drives the acknowledge
    Release(lines.clock);
    const bool clockRose = CheckHigh(lines.clock, 0);
    const bool acked = !Sample(lines.data, false, Role::Decide);
    PullLow(lines.clock);
    return clockRose && acked;
}

bool BusReadByte(uint8_t *destination) {
    BeginStep(Step::ByteIn);
    const Lines lines = BusLines();
    Release(lines.data);
    uint8_t value = 0;
    bool clockRose = true;
    for (int bit = 7; bit >= 0; --bit) {
        Release(lines.clock);
        bool clockHigh = false;
        if (SampleBit(lines.clock, lines.data, clockHigh, destination, bit)) {
            value = static_cast<uint8_t>(value | (1u << bit));
        }
        clockRose = clockRose && clockHigh;
        PullLow(lines.clock);
    }
    if (destination != nullptr) {
        *destination = value; // queued: the bits land when the batch is back
    }
    return clockRose;
}

bool BusSendAck(bool ack) {
    BeginStep(Step::Acknowledge);
    const Lines lines = BusLines();
    bool dataFree = true;
    if (ack) {
        PullLow(lines.data);
    } else {
        Release(lines.data);
        dataFree = CheckHigh(lines.data, 0);
    }
    Release(lines.clock);
    const bool clockRose = CheckHigh(lines.clock, 0);
    PullLow(lines.clock);
    // after an acknowledge the data line stays low; the next byte or stop takes it over
    return dataFree && clockRose;
}

namespace {

struct Transaction {
    uint8_t device;
    const uint8_t *send;
    uint16_t sendCount;
    uint8_t *receive;
    uint16_t receiveCount;
    bool repeatedStart;
    bool writeAddress;
    bool readAddress;
    bool writesData; // a device takes these bytes at the stop
};

// The steps before the stop; the bytes that completed on the bus.
uint16_t TransferSteps(const Transaction &t) {
    uint16_t count = 0;
    BusRelease();
    bool ok = BusStart();
    if (ok && t.writeAddress) {
        ok = BusWriteByte(t.device);
        count = ok ? 1 : 0;
    }
    for (uint16_t i = 0; ok && i < t.sendCount; ++i) {
        ok = BusWriteByte(t.send[i]);
        count = static_cast<uint16_t>(count + (ok ? 1 : 0));
    }
    if (ok && t.repeatedStart) {
        ok = BusStart();
    }
    if (ok && t.readAddress) {
        ok = BusWriteByte(static_cast<uint8_t>(t.device | 1));
        count = static_cast<uint16_t>(count + (ok ? 1 : 0));
    }
    for (uint16_t i = 0; ok && i < t.receiveCount; ++i) {
        // every byte but the last is acknowledged; the last ends the read
        const bool more = i + 1 < t.receiveCount;
        ok = BusReadByte(&t.receive[i]) && BusSendAck(more);
        count = static_cast<uint16_t>(count + (ok ? 1 : 0));
    }
    return count;
}

// Access by access: every decision on the sample just taken.
uint16_t LiveTransfer(const Transaction &t) {
    const uint32_t failedBefore = FailedAccesses();
    const uint16_t count = TransferSteps(t);
    if (FailedAccesses() != failedBefore) {
        return AbortTransfer();
    }
    // sent bytes a device may hold as data, and no repeated start it answered
    if (t.writesData && t.readAddress && count < t.sendCount + 2) {
        return AbortTransfer();
    }
    // a stop that did not come through leaves a device holding a line: clock it free
    const bool stopped = BusStop();
    if (!stopped) {
        BusRecover();
    }
    if (FailedAccesses() != failedBefore) {
        return 0;
    }
    // a device takes a write only at its stop, and the recovery's start
    // makes it drop what it latched: that write did not happen
    return stopped || !t.writesData ? count : 0;
}

// Whether a queued stop came through. One that went out while the device
// held the clock low was no stop: it goes out again access by access.
bool QueuedStopCameThrough(const Mismatch &mismatch) {
    if (!mismatch.found) {
        return true;
    }
    return mismatch.role == Role::Wait && BusStop();
}

// After a batch that went wrong. A write's batch ends before its stop, with
// both level bits 0: the abort keeps the device from taking what it latched.
// A batch with its stop may have set level bits, and latched nothing: the
// recovery clears them first.
uint16_t RecoverAfterBatch(bool stopQueued) {
    if (stopQueued) {
        BusRecover();
        return 0;
    }
    return AbortTransfer();
}

// The stop of a write whose every check passed, in a batch of its own.
uint16_t StopWrite(uint16_t count) {
    OpenQueue();
    ClearSamples();
    BusStop();
    if (SendQueue() < QueuedCount() || !QueuedStopCameThrough(FirstMismatch(0))) {
        BusRecover();
        return 0;
    }
    return count;
}

// The steps of a transaction went out in one batch and `mismatch` is the
// first sample that read otherwise than the success path had it.
uint16_t AfterMismatch(const Transaction &t, const Mismatch &mismatch, size_t stopStep, uint16_t count) {
    if (mismatch.kind == Step::Stop) { // every step before the stop succeeded
        if (!QueuedStopCameThrough(mismatch)) {
            BusRecover();
        }
        return count;
    }
    const uint16_t bytes = BytesBefore(mismatch.step);
    if (t.writesData) {
        // no stop after a failed check: the device drops what it latched
        AbortTransfer();
        return bytes;
    }
    // a read or a probe went on to its stop: whatever the device sent after
    // the failed step, the stop ends it
    if (!QueuedStopCameThrough(FirstMismatch(stopStep))) {
        BusRecover();
    }
    return bytes;
}

// The steps queued as they go when every check passes, sent as one batch
// (a read's or a probe's stop with them), then checked. A write's stop goes
// out only after its checks passed.
uint16_t QueuedTransfer(const Transaction &t) {
    OpenQueue();
    ClearSamples();
    const uint16_t count = TransferSteps(t);
    const size_t stopStep = StepCount();
    if (!t.writesData) {
        BusStop();
    }
    if (QueueOverflowed() || SamplesOverflowed()) {
        DiscardQueue(); // nothing went out
        return LiveTransfer(t);
    }
    const uint32_t sent = platform::TickMs();
    if (SendQueue() < QueuedCount()) {
        return RecoverAfterBatch(!t.writesData);
    }
    DeliverBits();
    const Mismatch mismatch = FirstMismatch(0);
    if (!mismatch.found) {
        return t.writesData ? StopWrite(count) : count;
    }
    // a device held the clock low at a start: access by access the start
    // would have waited for it, so if it rises in time the whole
    // transaction goes again that way
    if (mismatch.role == Role::Wait && mismatch.kind == Step::Start &&
        WaitHigh(ClockLine(), sent, kStretchLimitMs)) {
        const uint32_t failedBefore = FailedAccesses();
        RecoverAfterBatch(!t.writesData);
        return FailedAccesses() == failedBefore ? LiveTransfer(t) : 0;
    }
    return AfterMismatch(t, mismatch, stopStep, count);
}

uint16_t BatchedTransfer(const Transaction &t) {
    const uint32_t failedBefore = FailedAccesses();
    const uint16_t count = QueuedTransfer(t);
    return FailedAccesses() == failedBefore ? count : 0;
}

} // namespace

uint16_t BusTransfer(uint8_t deviceAddress, const uint8_t *sendBytes, uint16_t sendCount, bool readFlag,
                     uint8_t *receiveBytes, uint16_t receiveCount) {
    const bool repeatedStart = sendCount > 0 && receiveCount > 0 && readFlag;
    const Transaction t{deviceAddress,
                        sendBytes,
                        sendCount,
                        receiveBytes,
                        receiveCount,
                        repeatedStart,
                        sendCount > 0 || (receiveCount == 0 && !readFlag),
                        repeatedStart || (sendCount == 0 && (receiveCount > 0 || readFlag)),
                        sendCount > 0 && receiveCount == 0};
    // a read from the device's own address counter is not run twice: it
    // always goes access by access
    const bool fromCounter = sendCount == 0 && receiveCount > 0;
    return BatchingInUse() && !fromCounter ? BatchedTransfer(t) : LiveTransfer(t);
}

uint16_t BusReadGuarded(uint8_t deviceAddress, const uint8_t *sendBytes, uint16_t sendCount, uint8_t *receiveBytes,
                        uint16_t receiveCount) {
    // as a write: the stop goes out only once every check passed
    const Transaction t{deviceAddress, sendBytes, sendCount, receiveBytes, receiveCount, true, true, true, true};
    return BatchingInUse() ? BatchedTransfer(t) : LiveTransfer(t);
}

} // namespace zel
