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

} // namespace

void BusRelease() {
    SetLineLevel(DataLine(), false);
    SetLineLevel(ClockLine(), false);
    Release(DataLine());
    Release(ClockLine());
}

bool BusStart() {
    SetLineLevel(DataLine(), false);
    SetLineLevel(ClockLine(), false);
    Release(DataLine());
    const bool busFree = CheckHigh(DataLine(), 0);
    Release(ClockLine());
    const bool clockRose = CheckHigh(ClockLine(), kStretchLimitMs);
    PullLow(DataLine());    // start: data falls while the clock is high
    PullLow(ClockLine());
    return busFree && clockRose;
}

bool BusStop() {
    PullLow(DataLine());
    Release(ClockLine());
    const bool clockRose = CheckHigh(ClockLine(), kStretchLimitMs);
    Release(DataLine());    // stop: data rises while the clock is high
    const bool dataRose = CheckHigh(DataLine(), 0);
    // a line that reads high gets level 1 until the next release or start
    if (IsHigh(DataLine())) {
        SetLineLevel(DataLine(), true);
    }
    if (IsHigh(ClockLine())) {
        SetLineLevel(ClockLine(), true);
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
    for (int bit = 7; bit >= 0; --bit) {
        // clock is low here
        if ((value >> bit) & 1) {
            Release(DataLine());
        } else {
            PullLow(DataLine());
        }
        Release(ClockLine());
        PullLow(ClockLine());
    }
    Release(DataLine());    // the device drives the acknowledge
    Release(ClockLine());
    const bool clockRose = CheckHigh(ClockLine(), 0);
    const bool acked = !IsHigh(DataLine());
    PullLow(ClockLine());
    return clockRose && acked;
}

bool BusReadByte(uint8_t *destination) {
    Release(DataLine());
    const int clock = ClockLine();
    const int data = DataLine();
    uint8_t value = 0;
    bool clockRose = true;
    for (int bit = 7; bit >= 0; --bit) {
        Release(clock);
        const uint16_t inputs = ReadInputs();   // one sample gives clock and data
        clockRose = clockRose && LineBit(inputs, clock) != 0;
        if (LineBit(inputs, data) != 0) {
            value = static_cast<uint8_t>(value | (1u << bit));
        }
        PullLow(clock);
    }
    if (destination != nullptr) {
        *destination = value;
    }
    return clockRose;
}

bool BusSendAck(bool ack) {
    bool dataFree = true;
    if (ack) {
        PullLow(DataLine());
    } else {
        Release(DataLine());
        dataFree = CheckHigh(DataLine(), 0);
    }
    Release(ClockLine());
    const bool clockRose = CheckHigh(ClockLine(), 0);
    PullLow(ClockLine());
    // after an acknowledge the data line stays low; the next byte or stop takes it over
    return dataFree && clockRose;
}

uint16_t BusTransfer(uint8_t deviceAddress, const uint8_t *sendBytes, uint16_t sendCount,
                     bool readFlag, uint8_t *receiveBytes, uint16_t receiveCount) {
    const bool repeatedStart = sendCount > 0 && receiveCount > 0 && readFlag;
    const bool writeAddress = sendCount > 0 || (receiveCount == 0 && !readFlag);
    const bool readAddress = repeatedStart || (sendCount == 0 && (receiveCount > 0 || readFlag));

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
    BusStop();
    return count;
}

} // namespace zel
