// An emulated FTDI FT232H, FT2232H or FT4232H for tests: the MPSSE command
// processor of FTDI AN_108 as a GPIO bit-banger drives it, behind a stand-in
// libftdi1 (libftdi1.so.2, built against libftdi1's own ftdi.h), with the
// virtual target's bit-level EEPROM on three of its pins.
//
// The emulated world comes from ZEL_FTDI_EMU, "key=value;key=value;..."
// (keys in any case, blanks around words ignored):
//   device=<chip>:<serial>[@<bus>/<address>]
//       a device on the bus; repeat the key for more (listed in that order).
//       chip: FT232H, FT2232H or FT4232H. Bus/address default to 1/<n>.
//   eeprom=<serial>[:<A|B>]   the device and channel the EEPROM is wired to
//                             (default: the first device, channel A)
//   scl=<pin> sda=<pin> wp=<pin>
//       MPSSE pins of the EEPROM's lines, bit numbers 0-15 (ADBUS0-7 = 0-7,
//       ACBUS0-7 = 8-15; below 8 on an FT4232H). Default 6, 7, 8. SCL and SDA
//       have pull-ups: a pin that nobody pulls low reads high, and the
//       EEPROM's own pull on SDA is wired-AND with the chip's pins.
//   part=<part> file=<backing file>
//       the EEPROM part and the file of its cells (default 24C256, in memory)
//   sim=<virtual target keys>   any further keys of the virtual target, blank
//                               separated (SIMVARIANT=, SIMTWR=, SIMFAULT=, SIMVCD=...)
//   speed=standard|fast   the I2C limits the timing check applies (default standard)
//   rtt_us=<n>            one USB round trip, microseconds (default 250: a
//                         high-speed microframe each way plus the host's turn)
//   denied=<serial>|*     opening that device (any device) is refused for want
//                         of permission, as without the udev rule
//   unplug_bytes=<n>      the EEPROM's device is unplugged once n bytes have
//                         been written to it
//   unplug_us=<t>         ...or once t microseconds of emulated time have passed
// A bad value is named on stderr and leaves no device present.
//
// The world is built at the first call and again when ZEL_FTDI_EMU or
// ZEL_FTDI_EMU_REPORT changed while no device is open and no list held.
//
// ZEL_FTDI_EMU_REPORT=<file> ("%p" in it stands for the process id): on
// ftdi_usb_close, ftdi_free and at exit a JSON object is written there:
// elapsed_ns, round_trips, latency_waits, bytes_out, bytes_in, bad_commands
// (with the opcodes), write_stalls, unemulated (commands this emulator does
// not carry out), hung, contention, speed, violations_total and violations
// (the first 64: kind, at_ns, measured_ns, min_ns). Kinds: scl_low,
// scl_high, data_setup, data_hold, start_setup, start_hold, stop_setup,
// bus_free, wp_setup, wp_hold.
//
// Time passes only where FTDI documents it: clocked commands (0x8E, 0x8F,
// 0x9C, 0x9D) take their clock periods at the divisor set (0x86; 60 MHz base
// after 0x8A, 12 MHz after 0x8B, which is the state after reset), a bulk-IN
// transfer takes a round trip, and one that finds no reply released by Send
// Immediate (0x87) or by a full packet waits out the latency timer (AN232B-04).
// Setting pins (0x80, 0x82) takes no time: FTDI gives no figure for it.
//
// Choices where FTDI's documents are silent, made so that a careless host
// shows up in a test rather than passing by luck:
// - 0x82, 0x83 on an FT4232H (no high byte) and 0x9E on any chip but the
//   FT232H are bad commands: 0xFA and the byte come back.
// - Opcodes below 0x80 (the serial data commands) are not carried out: the
//   processor stops there, as do 0x88/0x89/0x94/0x95 waits on a GPIOL1
//   (ADBUS5) level that no command can bring, and clocked commands with
//   adaptive clocking on (nothing drives RTCK); the report says hung.
// - 0x8E/0x8F toggle ADBUS0 while it is an output; three-phase clocking does
//   not change their length.
// - set_bitmode(mask, MPSSE) makes the low byte's masked pins outputs driving
//   low; BITMODE_RESET makes every pin an input. Other modes are refused.
// - A full IN FIFO stops the processor until the host reads; a write that
//   then finds the OUT FIFO full fails after the write timeout (no byte is
//   dropped silently).
// - ftdi_usb_get_strings of a denied device fails with -4, as libusb_open does;
//   every open of it fails with -8.
// - A device that is in use by another context, or whose EEPROM backing file
//   another process holds, fails to open with -5.
#pragma once

#include "hoplink/sim.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ftdi_emu {

struct ChipFacts {
    const char *name;
    int productId;
    int chipType;        // enum ftdi_chip_type
    int interfaces;      // USB interfaces (channels)
    int mpsseChannels;   // channels with an MPSSE, from A on
    int width;           // GPIO pins of one MPSSE channel
    size_t outFifo;      // host to chip, bytes
    size_t inFifo;       // chip to host, bytes
    bool drainOnly;      // has 0x9E (drive only a zero)
    const char *product; // the default product string
};

const ChipFacts *FindChip(std::string_view name);

// I2C limits in nanoseconds, the strictest of the datasheets.
struct Limits {
    uint32_t low, high, startSetup, startHold, stopSetup, busFree, dataSetup, dataHold, wpSetup, wpHold;
};

// Watches the lines as the EEPROM sees them and records every limit broken.
class TimingCheck {
public:
    struct Violation {
        const char *kind;
        uint64_t atPs, measuredPs;
        uint32_t minNs;
    };
    static constexpr size_t kKept = 64;

    void SetLimits(const Limits &limits) { limits_ = limits; }
    // Levels after a change at `ps`; SCL and SDA changing together are taken
    // as the data changing while the clock is low.
    void Observe(uint64_t ps, bool scl, bool sda, bool wp);
    const std::vector<Violation> &Kept() const { return kept_; }
    uint64_t Total() const { return total_; }

private:
    void Check(const char *kind, bool known, uint64_t since, uint64_t ps, uint32_t minNs);
    void OnData(uint64_t ps, bool sda);
    void OnClock(uint64_t ps, bool scl);
    void OnWriteProtect(uint64_t ps, bool wp);

    Limits limits_{};
    bool scl_ = true, sda_ = true, wp_ = false, wpSeen_ = false;
    bool riseSeen_ = false, fallSeen_ = false, stopSeen_ = false, wpChangeSeen_ = false;
    bool startPending_ = false;   // a START whose clock has not fallen yet
    bool dataChangedLow_ = false; // SDA moved during this clock low
    uint64_t rise_ = 0, fall_ = 0, dataChange_ = 0, start_ = 0, stop_ = 0, wpChange_ = 0;
    std::vector<Violation> kept_;
    uint64_t total_ = 0;
};

class World;

// One MPSSE channel: its command processor, FIFOs and pins.
class Channel {
public:
    Channel(World &world, const ChipFacts &chip, bool mpsse, const bool &unplugged)
        : world_(world), chip_(chip), mpsse_(mpsse), unplugged_(unplugged) {}

    // Bytes the chip took from the host, in order; fewer than given when
    // the OUT FIFO is full and the processor cannot go on.
    size_t Write(std::span<const uint8_t> bytes);
    // One bulk-IN transfer of at most `max` payload bytes into `host`.
    size_t Transfer(std::deque<uint8_t> &host, size_t max);
    bool SetMode(uint8_t mask, uint8_t mode);
    void FlushOut();
    void FlushIn();
    void SetLatency(uint8_t ms) { latencyMs_ = ms; }
    uint8_t Latency() const { return latencyMs_; }
    uint8_t ReadLowPins() { return static_cast<uint8_t>(Levels()); }
    // Puts the pins' drive on the EEPROM's lines; `fresh`: the EEPROM has
    // just come up with every line released.
    void Drive(bool fresh = false);

private:
    bool Step();
    void Run();
    bool Execute(uint8_t op, const uint8_t *args);
    size_t CommandLength(uint8_t op) const;
    bool Known(uint8_t op) const;
    void Reply(uint8_t byte) { in_.push_back(byte); }
    void Clock(uint64_t periods);
    bool WaitsOnGpiol1(bool high);
    uint64_t PeriodPs() const;
    uint16_t Levels();
    bool Wired() const;
    void Apply(hoplink::sim::Target &eeprom, uint32_t reg, uint16_t &applied, uint16_t wanted);

    World &world_;
    const ChipFacts &chip_;
    const bool mpsse_;
    const bool &unplugged_; // the device's: no byte reaches a chip that is gone
    bool mpsseOn_ = false;
    std::deque<uint8_t> out_; // host to chip, commands not yet carried out
    std::deque<uint8_t> in_;  // chip to host, replies
    size_t due_ = 0;          // replies at the front of in_ released by Send Immediate
    uint8_t latencyMs_ = 16;
    uint8_t value_[2] = {0, 0}, dir_[2] = {0, 0}, drainOnly_[2] = {0, 0};
    uint16_t divisor_ = 0;
    bool divideBy5_ = true;
    bool adaptive_ = false;
    bool hung_ = false;
    uint16_t floating_ = 0xFFFF;                    // levels of the pins when no EEPROM is wired here
    uint16_t appliedEnable_ = 0, appliedLevel_ = 0; // what the EEPROM's lines were last given
};

struct Device {
    const ChipFacts *chip;
    std::string serial;
    int bus, address;
    bool denied = false;
    bool unplugged = false;
    uint64_t bytesWritten = 0;
    std::vector<std::unique_ptr<Channel>> channels;
    std::vector<bool> claimed;
};

struct Stats {
    uint64_t roundTrips = 0, latencyWaits = 0, bytesOut = 0, bytesIn = 0, writeStalls = 0, unemulated = 0;
    std::vector<uint8_t> badCommands;
    bool hung = false;
};

// Everything the stand-in emulates, built from ZEL_FTDI_EMU.
class World {
public:
    World() = default;
    ~World();
    bool Load(const std::string &text, std::string &error);

    std::vector<std::unique_ptr<Device>> devices;
    Stats stats;
    TimingCheck timing;
    std::string speed = "standard";
    std::string reportPath;

    uint64_t NowPs() const { return nowPs_; }
    void Advance(uint64_t ps);
    void RoundTrip() {
        ++stats.roundTrips;
        Advance(rttPs_);
    }
    Device *Find(const void *handle);
    // The EEPROM when `channel` carries it; brought up at its first use.
    hoplink::sim::Target *EepromOn(const Channel &channel);
    // Brings the EEPROM up when `channel` carries it; false with `error`
    // when its part or backing file will not open.
    bool OpenEeprom(const Channel &channel, std::string &error);
    void CloseEeprom();      // a backing file is let go; memory cells stay
    uint16_t ObserveLines(); // the EEPROM's lines now, shown to the timing check
    void NoteWritten(Device &device, uint64_t bytes);
    uint64_t WritableBytes(const Device &device) const;
    void WriteReport() const;
    int openSessions = 0, openLists = 0;

private:
    class EmuClock final : public hoplink::sim::Clock {
    public:
        explicit EmuClock(World &world) : world_(world) {}
        uint64_t NowMicros() override { return world_.nowPs_ / 1000000; }
        void Wait(uint64_t micros) override { world_.Advance(micros * 1000000); }

    private:
        World &world_;
    };
    bool ParseKey(std::string_view key, std::string_view value, std::string &error);

    uint64_t nowPs_ = 0;
    uint64_t rttPs_ = 250000000;
    uint64_t unplugBytes_ = 0, unplugPs_ = 0;
    std::string eepromSerial_;
    int eepromChannel_ = 0;
    std::string deniedSerial_;
    hoplink::sim::Config sim_;
    Device *eepromDevice_ = nullptr;
    std::unique_ptr<hoplink::sim::Target> target_;
    uint64_t contention_ = 0; // of EEPROMs that were let go
    EmuClock clock_{*this};
};

} // namespace ftdi_emu
