#include "mpsse.h"

namespace hoplink::ftdi {
namespace {

constexpr uint64_t kBaseHz = 60000000; // FT232H/FT2232H/FT4232H with divide-by-5 off (FTDI AN_108)

uint8_t Low(uint16_t word) { return static_cast<uint8_t>(word & 0xFF); }
uint8_t High(uint16_t word) { return static_cast<uint8_t>(word >> 8); }

// The value bits the chip gets: a level bit counts only on an output.
uint16_t Values(const Pins &pins) { return static_cast<uint16_t>(pins.level & pins.enable & ~kPacingPin); }
uint16_t Directions(const Pins &pins) { return static_cast<uint16_t>(pins.enable | kPacingPin); }

void AppendByte(std::vector<uint8_t> &out, uint8_t opcode, uint16_t values, uint16_t directions, bool high) {
    out.push_back(opcode);
    out.push_back(high ? High(values) : Low(values));
    out.push_back(high ? High(directions) : Low(directions));
}

} // namespace

uint32_t Pacing::Nanos() const {
    return static_cast<uint32_t>(uint64_t{1000000000} * 2 * (1 + divisor) * periods / kBaseHz);
}

// 1.25 MHz: 6 periods of 0.8 us. 6 MHz: 8 periods of 166.7 ns.
Pacing PacingFor(Speed speed) { return speed == Speed::Standard ? Pacing{23, 6} : Pacing{4, 8}; }

void AppendSet(std::vector<uint8_t> &out, const Pins &from, const Pins &to, bool wide, const Pacing &pacing) {
    const uint16_t values = Values(to), directions = Directions(to);
    const bool lowChanges = Low(values) != Low(Values(from)) || Low(directions) != Low(Directions(from));
    const bool highChanges = High(values) != High(Values(from)) || High(directions) != High(Directions(from));
    if (!lowChanges && !(wide && highChanges))
        return;
    if (lowChanges)
        AppendByte(out, kSetLow, values, directions, false);
    if (wide && highChanges)
        AppendByte(out, kSetHigh, values, directions, true);
    out.insert(out.end(), {kClockBits, static_cast<uint8_t>(pacing.periods - 1)});
}

size_t AppendGet(std::vector<uint8_t> &out, bool wide) {
    out.push_back(kGetLow);
    if (!wide)
        return 1;
    out.push_back(kGetHigh);
    return 2;
}

void AppendSetup(std::vector<uint8_t> &out, bool wide, const Pacing &pacing) {
    out.insert(out.end(),
               {kDivideBy5Off, kThreePhaseOff, kLoopbackOff, kDivisor, Low(pacing.divisor), High(pacing.divisor)});
    AppendByte(out, kSetLow, 0, kPacingPin, false);
    if (wide)
        AppendByte(out, kSetHigh, 0, 0, true);
}

} // namespace hoplink::ftdi
