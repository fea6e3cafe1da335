// The serial EEPROM device: bus events in, acknowledges, data bits and
// memory cells out. One instance sits on the clock and data lines.
#pragma once

#include "edges.h"
#include "hoplink/sim.h"

#include <array>
#include <cstdint>
#include <span>

namespace hoplink::sim {

struct EepromSetup {
    const Part *part;    // with the configuration's write-cycle time and write-protect answer
    uint8_t chipAddress; // A2..A0 pins, 0..7
    uint32_t stretchMs;
};

class Eeprom {
public:
    Eeprom(const EepromSetup &setup, std::span<uint8_t> cells, Faults &faults, Counters &counters);

    void SetClock(Clock *clock) { clock_ = clock; }
    void SetWriteProtect(bool high) { writeProtect_ = high; }
    void OnEvent(BusEvent event, bool data);

    bool PullsData() const { return dataLow_ || stuckClocks_ != 0; }
    bool PullsClock() const { return clockHeld_; }
    // Lets the clock go once a hold has run out; true when it did.
    bool ReleaseClockIfDue();
    // Starts holding the data line low for `clocks` falling clock edges.
    void Stick(uint32_t clocks) { stuckClocks_ = clocks; }
    bool WriteCycleActive();
    bool InTransaction() const { return busy_; } // between a START and its STOP

private:
    enum class Phase : uint8_t {
        Idle, // ignores the bus until the next START
        DeviceAddress,
        MemoryAddress,
        WriteData,
        ReadData,
    };

    template <typename Listener> friend void Deliver(Listener &listener, BusEvent event, bool data);
    void OnStart();
    void OnStop();
    void OnRise(bool data);
    void OnFall();
    void FallWhileReceiving();
    void FallWhileSending();
    bool Receive(uint8_t byte);
    bool ReceiveDeviceAddress(uint8_t byte);
    void ReceiveMemoryAddress(uint8_t byte);
    bool ReceiveData(uint8_t byte);
    bool NakFault() const;
    uint32_t BlockAddressBits(uint8_t deviceAddress) const;
    void LoadNextByte();
    uint8_t ReadCell(uint32_t address) const;
    bool IsWorn(uint32_t address) const;
    void DropPage();
    void CommitPage();
    void ArmHold();

    const Part &part_;
    const EepromSetup setup_;
    const uint8_t pinMask_; // device-address bits compared with the pins
    const uint8_t pins_;
    std::span<uint8_t> cells_;
    Faults &faults_;
    Counters &counters_;
    Clock *clock_ = nullptr;

    Phase phase_ = Phase::Idle;
    bool busy_ = false; // between START and STOP
    bool writeProtect_ = true;
    bool dataLow_ = false; // this device pulls the data line low
    bool sampled_ = true;  // data level at the last clock rise
    bool pulse_ = false;   // the clock rose since the last START or fall
    uint8_t bit_ = 0;      // clock pulses completed in this byte; 8 = acknowledge clock
    uint8_t shift_ = 0;
    uint8_t out_ = 0;         // byte being sent
    uint8_t addressLeft_ = 0; // memory-address bytes still to come
    uint32_t byteNumber_ = 0; // bytes received in this transaction
    uint32_t blockBits_ = 0;  // memory-address bits from the device address
    uint32_t address_ = 0;    // memory address being received
    uint32_t counter_ = 0;    // the address counter
    uint32_t pageBase_ = 0;
    uint32_t pageCount_ = 0; // data bytes latched in the page buffer
    std::array<uint8_t, 256> page_{};
    std::array<bool, 256> latched_{};
    uint64_t busyUntil_ = 0; // end of the write cycle, target microseconds
    bool holdArmed_ = false; // hold the clock at its next fall
    bool clockHeld_ = false;
    uint64_t holdUntil_ = 0;
    uint32_t stuckClocks_ = 0;
};

} // namespace hoplink::sim
