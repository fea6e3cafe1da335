// The MPSSE command processor of one channel (FTDI AN_108): commands are
// carried out in stream order as soon as they are whole, replies queue in the
// IN FIFO, and the pins' drive goes to the EEPROM's lines at once.
#include "emulator.h"

#include <algorithm>

namespace ftdi_emu {
namespace {

constexpr uint8_t kBitmodeReset = 0x00; // libftdi1 ftdi.h BITMODE_RESET
constexpr uint8_t kBitmodeMpsse = 0x02; // BITMODE_MPSSE
constexpr uint8_t kBadCommand = 0xFA;   // FTDI "Bad Commands": 0xFA, then the byte
constexpr uint16_t kGpiol1 = 1u << 5;   // ADBUS5, watched by the wait commands
constexpr size_t kPacketPayload = 510;  // a 512-byte high-speed packet less its 2 status bytes

} // namespace

bool Channel::Wired() const { return world_.EepromOn(*this) != nullptr; }

size_t Channel::CommandLength(uint8_t op) const {
    if (!Known(op))
        return 1;
    switch (op) {
    case 0x80:
    case 0x82:
    case 0x86:
    case 0x8F:
    case 0x9C:
    case 0x9D:
    case 0x9E:
        return 3;
    case 0x8E:
        return 2;
    default:
        return 1;
    }
}

// Opcodes with bit 7 set that this chip knows; every other one is a bad command.
bool Channel::Known(uint8_t op) const {
    switch (op) {
    case 0x82:
    case 0x83:
        return chip_.width == 16;
    case 0x9E:
        return chip_.drainOnly;
    case 0x80:
    case 0x81:
    case 0x84:
    case 0x85:
    case 0x86:
    case 0x87:
    case 0x88:
    case 0x89:
    case 0x8A:
    case 0x8B:
    case 0x8C:
    case 0x8D:
    case 0x8E:
    case 0x8F:
    case 0x94:
    case 0x95:
    case 0x96:
    case 0x97:
    case 0x9C:
    case 0x9D:
        return true;
    default:
        return false;
    }
}

size_t Channel::Write(std::span<const uint8_t> bytes) {
    size_t taken = 0;
    for (uint8_t byte : bytes) {
        if (unplugged_ || out_.size() >= chip_.outFifo)
            break;
        if (mpsseOn_)
            out_.push_back(byte);
        ++taken;
        Run();
    }
    return taken;
}

void Channel::Run() {
    while (Step()) {
    }
}

// Carries out the command at the front; false when it is not whole yet, the
// IN FIFO has no room for its reply, or the processor has stopped.
bool Channel::Step() {
    if (hung_ || out_.empty())
        return false;
    const uint8_t op = out_.front();
    const size_t length = CommandLength(op);
    if (out_.size() < length)
        return false;
    const bool bad = op >= 0x80 && !Known(op);
    const size_t reply = bad ? 2 : (op == 0x81 || op == 0x83) ? 1 : 0;
    if (in_.size() + reply > chip_.inFifo)
        return false;
    uint8_t args[2] = {0, 0};
    for (size_t i = 1; i < length; ++i)
        args[i - 1] = out_[i];
    if (bad) {
        Reply(kBadCommand);
        Reply(op);
        world_.stats.badCommands.push_back(op);
    } else if (op < 0x80) {
        ++world_.stats.unemulated;
        hung_ = world_.stats.hung = true;
        return false;
    } else if (!Execute(op, args)) {
        hung_ = world_.stats.hung = true;
        return false;
    }
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(length));
    return true;
}

// False when the command would never end on the chip.
bool Channel::Execute(uint8_t op, const uint8_t *args) {
    switch (op) {
    case 0x80:
    case 0x82: {
        const int byte = op == 0x80 ? 0 : 1;
        value_[byte] = args[0];
        dir_[byte] = args[1];
        Drive();
        return true;
    }
    case 0x81:
        Reply(static_cast<uint8_t>(Levels()));
        return true;
    case 0x83:
        Reply(static_cast<uint8_t>(Levels() >> 8));
        return true;
    case 0x86:
        divisor_ = static_cast<uint16_t>(args[0] | args[1] << 8);
        return true;
    case 0x87:
        due_ = in_.size();
        return true;
    case 0x88:
    case 0x89:
    case 0x94:
    case 0x95:
        return WaitsOnGpiol1(op == 0x88 || op == 0x94);
    case 0x8A:
    case 0x8B:
        divideBy5_ = op == 0x8B;
        return true;
    case 0x8E:
        Clock(uint64_t{args[0]} + 1);
        return !adaptive_;
    case 0x8F:
        Clock(8 * (uint64_t{static_cast<uint16_t>(args[0] | args[1] << 8)} + 1));
        return !adaptive_;
    case 0x9C:
    case 0x9D:
        // ends at once when GPIOL1 is already at the level; no clock of
        // ours moves ADBUS5, so otherwise it runs the whole count
        if (WaitsOnGpiol1(op == 0x9C))
            return true;
        Clock(8 * (uint64_t{static_cast<uint16_t>(args[0] | args[1] << 8)} + 1));
        return !adaptive_;
    case 0x96:
    case 0x97:
        adaptive_ = op == 0x96;
        return true;
    case 0x9E:
        drainOnly_[0] = args[0];
        drainOnly_[1] = args[1];
        Drive();
        return true;
    default: // loopback and three-phase clocking touch only the serial commands
        return true;
    }
}

bool Channel::WaitsOnGpiol1(bool high) { return ((Levels() & kGpiol1) != 0) == high; }

// One period of TCK: base / ((1 + divisor) * 2), base 60 MHz or 12 MHz.
uint64_t Channel::PeriodPs() const {
    const uint64_t base = divideBy5_ ? 12000000 : 60000000;
    return (2 * (uint64_t{divisor_} + 1) * 1000000000000 + base / 2) / base;
}

// TCK pulses on ADBUS0 while it is an output: half a period at the other
// level, then back. Pulses reach the bus only where ADBUS0 carries a line.
void Channel::Clock(uint64_t periods) {
    if (adaptive_)
        return;
    const uint64_t period = PeriodPs();
    if (!(dir_[0] & 1) || !Wired()) {
        world_.Advance(periods * period);
        return;
    }
    for (uint64_t i = 0; i < periods; ++i) {
        value_[0] ^= 1;
        Drive();
        world_.Advance(period / 2);
        value_[0] ^= 1;
        Drive();
        world_.Advance(period - period / 2);
    }
}

// A pin pulls low when it is an output at 0; it drives high when it is an
// output at 1 and not set to drive only a zero.
void Channel::Drive(bool fresh) {
    if (fresh)
        appliedEnable_ = appliedLevel_ = 0;
    const uint16_t value = static_cast<uint16_t>(value_[0] | value_[1] << 8);
    const uint16_t dir = mpsseOn_ ? static_cast<uint16_t>(dir_[0] | dir_[1] << 8) : 0;
    const uint16_t drainOnly = static_cast<uint16_t>(drainOnly_[0] | drainOnly_[1] << 8);
    const uint16_t enable = static_cast<uint16_t>(dir & ~(drainOnly & value));
    hoplink::sim::Target *eeprom = world_.EepromOn(*this);
    if (!eeprom) {
        floating_ = static_cast<uint16_t>(~(enable & ~value));
        return;
    }
    // Pins that drive before and after take their new level first, then the
    // drive changes, so every pin moves once, to where the command puts it;
    // pins that stop driving hold their old level until they let go.
    const uint16_t leaving = static_cast<uint16_t>(appliedEnable_ & ~enable);
    const uint16_t first = static_cast<uint16_t>((value & ~leaving) | (appliedLevel_ & leaving));
    Apply(*eeprom, hoplink::sim::kRegOutputLevel, appliedLevel_, first);
    Apply(*eeprom, hoplink::sim::kRegOutputEnable, appliedEnable_, enable);
    Apply(*eeprom, hoplink::sim::kRegOutputLevel, appliedLevel_, value);
}

void Channel::Apply(hoplink::sim::Target &eeprom, uint32_t reg, uint16_t &applied, uint16_t wanted) {
    if (wanted == applied)
        return;
    applied = wanted;
    eeprom.Write(reg, wanted);
    world_.ObserveLines();
}

uint16_t Channel::Levels() {
    // the EEPROM may have let the clock go since the last command
    const uint16_t levels = world_.EepromOn(*this) ? world_.ObserveLines() : floating_;
    return chip_.width == 16 ? levels : static_cast<uint16_t>(levels & 0xFF);
}

// The chip sends what it holds once Send Immediate released it or a packet
// is full; otherwise its latency timer has to run out first (AN232B-04).
size_t Channel::Transfer(std::deque<uint8_t> &host, size_t max) {
    world_.RoundTrip();
    if (due_ == 0 && in_.size() < kPacketPayload) {
        ++world_.stats.latencyWaits;
        world_.Advance(uint64_t{latencyMs_} * 1000000000);
    }
    const size_t count = std::min(max, in_.size());
    host.insert(host.end(), in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(count));
    in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(count));
    due_ -= std::min(due_, count);
    world_.stats.bytesIn += count;
    Run(); // room in the IN FIFO lets a stopped processor go on
    return count;
}

bool Channel::SetMode(uint8_t mask, uint8_t mode) {
    if (mode == kBitmodeReset) {
        mpsseOn_ = false;
        hung_ = false;
        out_.clear();
        Drive();
        return true;
    }
    if (mode != kBitmodeMpsse || !mpsse_)
        return false;
    mpsseOn_ = true;
    hung_ = false;
    value_[0] = 0;
    dir_[0] = mask;
    Drive();
    return true;
}

void Channel::FlushOut() { out_.clear(); }

void Channel::FlushIn() {
    in_.clear();
    due_ = 0;
    Run();
}

} // namespace ftdi_emu
