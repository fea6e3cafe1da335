#include "eeprom.h"

#include <algorithm>
#include <bit>

namespace hoplink::sim {
namespace {

constexpr uint8_t kFamilyMask = 0xF0;
constexpr uint8_t kFamily = 0xA0; // 1010xxx
constexpr uint8_t kReadBit = 0x01;

// Address bits that the memory-address bytes carry; the block bits sit above them.
uint32_t UnfoldedBits(const Part &part) {
    return static_cast<uint32_t>(std::countr_zero(part.size) - std::popcount(part.blockMask));
}

} // namespace

Eeprom::Eeprom(const EepromSetup &setup, std::span<uint8_t> cells, Faults &faults, Counters &counters)
    : part_(*setup.part), setup_(setup), pinMask_(setup.part->pinMask),
      pins_(static_cast<uint8_t>((setup.chipAddress << 1) & pinMask_)), cells_(cells), faults_(faults),
      counters_(counters) {}

void Eeprom::OnEvent(BusEvent event, bool data) { Deliver(*this, event, data); }

bool Eeprom::WriteCycleActive() { return busyUntil_ > clock_->NowMicros(); }

bool Eeprom::ReleaseClockIfDue() {
    if (!clockHeld_ || clock_->NowMicros() < holdUntil_)
        return false;
    clockHeld_ = false;
    return true;
}

// A START, also in the middle of a byte, begins a new device address; a page
// not yet committed by a STOP is dropped.
void Eeprom::OnStart() {
    if (!busy_) {
        ++counters_.transactions;
        byteNumber_ = 0;
    }
    busy_ = true;
    pulse_ = false;
    DropPage();
    dataLow_ = false;
    bit_ = 0;
    shift_ = 0;
    phase_ = faults_.absent ? Phase::Idle : Phase::DeviceAddress;
    if (!faults_.absent)
        ArmHold();
}

// The write cycle starts only at a STOP after a whole data byte.
void Eeprom::OnStop() {
    const bool wholeBytes = phase_ == Phase::WriteData && bit_ == 0;
    if (wholeBytes && pageCount_ != 0 && !writeProtect_)
        CommitPage();
    DropPage();
    busy_ = false;
    holdArmed_ = false;
    dataLow_ = false;
    bit_ = 0;
    phase_ = Phase::Idle;
}

void Eeprom::OnRise(bool data) {
    sampled_ = data;
    pulse_ = true;
}

void Eeprom::OnFall() {
    if (stuckClocks_ != 0)
        --stuckClocks_;
    if (holdArmed_) {
        holdArmed_ = false;
        clockHeld_ = clock_->NowMicros() < holdUntil_;
    }
    // the fall that follows a START ends no clock pulse
    if (!pulse_ || phase_ == Phase::Idle)
        return;
    pulse_ = false;
    if (phase_ == Phase::ReadData)
        FallWhileSending();
    else
        FallWhileReceiving();
}

// Bits are taken MSB first at each fall; after the eighth the device drives
// its acknowledge through the ninth clock and lets go at its fall.
void Eeprom::FallWhileReceiving() {
    if (bit_ < 8) {
        shift_ = static_cast<uint8_t>(shift_ << 1 | (sampled_ ? 1 : 0));
        if (++bit_ == 8)
            dataLow_ = Receive(shift_);
        return;
    }
    bit_ = 0;
    dataLow_ = false;
    if (phase_ == Phase::ReadData)
        LoadNextByte();
}

// The device drives each bit while the clock is low and holds it through the
// high phase; after the eighth bit it lets the master acknowledge.
void Eeprom::FallWhileSending() {
    if (bit_ < 7) {
        ++bit_;
        dataLow_ = (out_ & (0x80 >> bit_)) == 0;
        return;
    }
    if (bit_ == 7) {
        bit_ = 8;
        dataLow_ = false;
        return;
    }
    bit_ = 0;
    if (sampled_) {
        phase_ = Phase::Idle; // not acknowledged: the read ends
        return;
    }
    LoadNextByte();
}

// A sequential read rolls over at the end of its read window: the memory,
// or on some parts the block that the block bits selected.
void Eeprom::LoadNextByte() {
    out_ = ReadCell(counter_);
    const uint32_t window = part_.ReadWindow();
    counter_ = counter_ - counter_ % window + (counter_ + 1) % window;
    dataLow_ = (out_ & 0x80) == 0;
}

bool Eeprom::Receive(uint8_t byte) {
    ++byteNumber_;
    if (NakFault()) {
        DropPage();
        phase_ = Phase::Idle;
        return false;
    }
    switch (phase_) {
    case Phase::DeviceAddress:
        return ReceiveDeviceAddress(byte);
    case Phase::MemoryAddress:
        ReceiveMemoryAddress(byte);
        return true;
    case Phase::WriteData:
        return ReceiveData(byte);
    default:
        return false;
    }
}

bool Eeprom::NakFault() const {
    return faults_.nakByte == byteNumber_ &&
           (faults_.nakTransaction == 0 || faults_.nakTransaction == counters_.transactions);
}

// During a write cycle the device does not answer its address.
bool Eeprom::ReceiveDeviceAddress(uint8_t byte) {
    const bool mine = (byte & kFamilyMask) == kFamily && (byte & pinMask_) == pins_;
    if (!mine || WriteCycleActive()) {
        phase_ = Phase::Idle;
        return false;
    }
    if (byte & kReadBit) {
        phase_ = Phase::ReadData; // current-address read
        return true;
    }
    blockBits_ = BlockAddressBits(byte);
    address_ = 0;
    addressLeft_ = part_.addressBytes;
    phase_ = Phase::MemoryAddress;
    return true;
}

// Block-select bits of the device address, lowest first, continue the memory
// address above the bits of its address bytes.
uint32_t Eeprom::BlockAddressBits(uint8_t deviceAddress) const {
    uint32_t bits = 0;
    uint32_t next = 1u << UnfoldedBits(part_);
    for (uint8_t mask = 0x02; mask <= 0x08; mask = static_cast<uint8_t>(mask << 1)) {
        if (!(part_.blockMask & mask))
            continue;
        if (deviceAddress & mask)
            bits |= next;
        next <<= 1;
    }
    return bits;
}

void Eeprom::ReceiveMemoryAddress(uint8_t byte) {
    address_ = address_ << 8 | byte;
    if (--addressLeft_ != 0)
        return;
    // address-byte bits above the part's size are don't care
    counter_ = blockBits_ | (address_ & ((1u << UnfoldedBits(part_)) - 1));
    pageBase_ = counter_ - counter_ % part_.pageSize;
    phase_ = Phase::WriteData;
}

// Data bytes fill the page buffer, rolling over inside the page.
bool Eeprom::ReceiveData(uint8_t byte) {
    if (writeProtect_ && !part_.ackWhileProtected)
        return false;
    const uint32_t offset = counter_ - pageBase_;
    page_[offset] = byte;
    latched_[offset] = true;
    ++pageCount_;
    counter_ = pageBase_ + (offset + 1) % part_.pageSize;
    return true;
}

void Eeprom::DropPage() {
    if (pageCount_ == 0)
        return;
    std::fill(latched_.begin(), latched_.end(), false);
    pageCount_ = 0;
}

// The cells change at the STOP; the write cycle then keeps the device off the
// bus for the write-cycle time. Cells of the part's read-only range keep
// their value.
void Eeprom::CommitPage() {
    for (uint32_t offset = 0; offset < part_.pageSize; ++offset) {
        const uint32_t address = pageBase_ + offset;
        const bool readOnly = address >= part_.romFirst && address <= part_.romLast;
        if (!latched_[offset] || IsWorn(address) || readOnly)
            continue;
        cells_[address] = page_[offset];
        ++counters_.bytesWritten;
    }
    ++counters_.writeCycles;
    busyUntil_ = clock_->NowMicros() + uint64_t{part_.writeCycleMs} * 1000;
}

bool Eeprom::IsWorn(uint32_t address) const {
    return std::find(faults_.wornBytes.begin(), faults_.wornBytes.end(), address) != faults_.wornBytes.end();
}

uint8_t Eeprom::ReadCell(uint32_t address) const {
    uint8_t value = cells_[address];
    for (uint32_t flip : faults_.flippedBits)
        if (flip >> 8 == address)
            value = static_cast<uint8_t>(value ^ (flip & 0xFF));
    return value;
}

// The clock is held low from the fall after a START until the stretch time has passed.
void Eeprom::ArmHold() {
    uint32_t millis = setup_.stretchMs;
    if (faults_.holdClockMs != 0) {
        millis = std::max(millis, faults_.holdClockMs);
        faults_.holdClockMs = 0;
    }
    if (millis == 0)
        return;
    holdUntil_ = clock_->NowMicros() + uint64_t{millis} * 1000;
    holdArmed_ = true;
}

} // namespace hoplink::sim
