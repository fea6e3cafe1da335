// The MPSSE commands the backend sends (FTDI AN_108) and the pacing that
// keeps every bus interval at or above the configured mode's minimum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hoplink::ftdi {

// Opcodes of FTDI AN_108.
inline constexpr uint8_t kSetLow = 0x80;        // value, direction of ADBUS0-7
inline constexpr uint8_t kGetLow = 0x81;        // answers one byte: ADBUS0-7 as they read
inline constexpr uint8_t kSetHigh = 0x82;       // value, direction of ACBUS0-7
inline constexpr uint8_t kGetHigh = 0x83;       // answers one byte: ACBUS0-7
inline constexpr uint8_t kLoopbackOff = 0x85;   //
inline constexpr uint8_t kDivisor = 0x86;       // divisor low, high: clock = 60 MHz / ((1 + divisor) * 2)
inline constexpr uint8_t kSendImmediate = 0x87; // the answers go to the host now
inline constexpr uint8_t kDivideBy5Off = 0x8A;  // 60 MHz master clock
inline constexpr uint8_t kThreePhaseOff = 0x8D; //
inline constexpr uint8_t kClockBits = 0x8E;     // n: n + 1 clock periods on ADBUS0, no data
inline constexpr uint8_t kBadCommandEcho =
    0xFA; // the chip's answer to an opcode it does not know, then the opcode

// The pacing clock runs on ADBUS0 (TCK), which the clocked no-data command
// toggles: the backend drives that pin itself and it carries no bus line.
inline constexpr uint16_t kPacingPin = 0x0001;

enum class Speed { Standard, Fast };

// One bus interval: `periods` periods (1 to 8) of the clock that `divisor`
// sets. A slow clock keeps the clocked command short: few edges on ADBUS0.
struct Pacing {
    uint16_t divisor;
    uint8_t periods;
    uint32_t Nanos() const; // the interval's length
};
// Standard mode: 4.8 us (the clock's shortest low time is 4.7 us); fast
// mode: 1.33 us (1.3 us).
Pacing PacingFor(Speed speed);

// The pins as the chip's registers set them: a pin whose enable bit is set
// is an output that drives its level bit.
struct Pins {
    uint16_t enable = 0;
    uint16_t level = 0;
    bool operator==(const Pins &) const = default;
};

// The commands that take the pins from `from` to `to` (only the bytes that
// change), then one bus interval; nothing when no pin changes. A released
// pin keeps its value bit 0, so enabling it can only pull low.
void AppendSet(std::vector<uint8_t> &out, const Pins &from, const Pins &to, bool wide, const Pacing &pacing);

// The commands that read the pins: one answer byte each, low byte first.
size_t AppendGet(std::vector<uint8_t> &out, bool wide);

// The opening commands: master clock, divisor, no loopback, three-phase
// clocking off, every pin an input but the pacing pin (driven low).
void AppendSetup(std::vector<uint8_t> &out, bool wide, const Pacing &pacing);

} // namespace hoplink::ftdi
