#include "eeprom/bus.h"

#include "platform/tick.h"
#include "spi/pio.h"

namespace zel {
namespace {

// A device may stretch the clock this long during start and stop.
constexpr uint32_t kStretchLimitMs = 10;

// Both bus lines are open-drain: their level bits stay 0 while enabled, so
// enabling a line pulls it low and releasing it lets the pull-up raise it.
void Release(int line) { SetLineEnable(line, false); }
void PullLow(int line) { SetLineEnable(line, true); }
bool IsHigh(int line) { return ReadLine(line) != 0; }

// The bus lines as chosen when a step starts.
struct Lines {
    int clock;
    int data;
};
Lines BusLines() { return {ClockLine(), DataLine()}; }

// Samples `line` until it reads high or `limitMs` have passed, then samples
// it once more: that last sample decides. With no limit: two samples.
bool CheckHigh(int line, uint32_t limitMs) {
    if (limitMs == 0) {
        IsHigh(line);
        return IsHigh(line);
    }
    const uint32_t start = platform::TickMs();
    while (!IsHigh(line) && platform::TickMs() - start < limitMs) {
    }
    return IsHigh(line);
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
    const Lines lines = BusLines();
    SetLineLevel(lines.data, false);
    SetLineLevel(lines.clock, false);
    Release(lines.data);
    const bool busFree = CheckHigh(lines.data, 0);
    Release(lines.clock);
    const bool clockRose = CheckHigh(lines.clock, kStretchLimitMs);
    PullLow(lines.data);    // start: data falls while the clock is high
    PullLow(lines.clock);
    return busFree && clockRose;
}

bool BusStop() {
    const Lines lines = BusLines();
    PullLow(lines.data);
    Release(lines.clock);
    const bool clockRose = CheckHigh(lines.clock, kStretchLimitMs);
    Release(lines.data);    // stop: data rises while the clock is high
    const bool dataRose = CheckHigh(lines.data, 0);
    // a line that reads high gets level 1 until the next release or start
    if (IsHigh(lines.data)) {
        SetLineLevel(lines.data, true);
    }
    if (IsHigh(lines.clock)) {
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
    Release(lines.data);    // the device drives the acknowledge
    Release(lines.clock);
    const bool clockRose = CheckHigh(lines.clock, 0);
    const bool acked = !IsHigh(lines.data);
    PullLow(lines.clock);
    return clockRose && acked;
}

bool BusReadByte(uint8_t *destination) {
    const Lines lines = BusLines();
    Release(lines.data);
    uint8_t value = 0;
    bool clockRose = true;
    for (int bit = 7; bit >= 0; --bit) {
        Release(lines.clock);
        const uint16_t inputs = ReadInputs();   // one sample gives clock and data
        clockRose = clockRose && LineBit(inputs, lines.clock) != 0;
        if (LineBit(inputs, lines.data) != 0) {
            value = static_cast<uint8_t>(value | (1u << bit));
        }
        PullLow(lines.clock);
    }
    if (destination != nullptr) {
        *destination = value;
    }
    return clockRose;
}

bool BusSendAck(bool ack) {
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

uint16_t BusTransfer(uint8_t deviceAddress, const uint8_t *sendBytes, uint16_t sendCount,
                     bool readFlag, uint8_t *receiveBytes, uint16_t receiveCount) {
    const bool repeatedStart = sendCount > 0 && receiveCount > 0 && readFlag;
    const bool writeAddress = sendCount > 0 || (receiveCount == 0 && !readFlag);
    const bool readAddress = repeatedStart || (sendCount == 0 && (receiveCount > 0 || readFlag));

    const uint32_t failedBefore = FailedAccesses();
    uint16_t count = 0;
    BusRelease();
    bool ok = BusStart();
    if (ok && writeAddress) {
        ok = BusWriteByte(deviceAddress);
        count = ok ? 1 : 0;
    }
    for (uint16_t i = 0; ok && i < sendCount; ++i) {
        ok = BusWriteByte(sendBytes[i]);
        count = static_cast<uint16_t>(count + (ok ? 1 : 0));
    }
    if (ok && repeatedStart) {
        ok = BusStart();
    }
    if (ok && readAddress) {
        ok = BusWriteByte(static_cast<uint8_t>(deviceAddress | 1));
        count = static_cast<uint16_t>(count + (ok ? 1 : 0));
    }
    for (uint16_t i = 0; ok && i < receiveCount; ++i) {
        // every byte but the last is acknowledged; the last ends the read
        const bool more = i + 1 < receiveCount;
        ok = BusReadByte(&receiveBytes[i]) && BusSendAck(more);
        count = static_cast<uint16_t>(count + (ok ? 1 : 0));
    }
    if (FailedAccesses() != failedBefore) {
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
    const bool writesData = sendCount > 0 && receiveCount == 0;
    return stopped || !writesData ? count : 0;
}

} // namespace zel
