// The virtual target's C++ interface, for tests, benchmarks and tools built in
// this tree. The shared library exports only the C interface of hoplink.h;
// everything here is reached by linking the static library hoplink_sim.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hoplink.h"

namespace hoplink::sim {

// Chip registers, bit n = PIO line n.
inline constexpr uint32_t kRegOutputEnable = 0x0061;
inline constexpr uint32_t kRegOutputLevel = 0x0062;
inline constexpr uint32_t kRegInputLevel = 0xFFC2;

// A part as the target models it: one row of the table of parts, with the
// values of the vendor that SIMVARIANT names (the strictest by default).
struct Part {
    const char *name;           // "24C256"
    uint32_t size;              // bytes
    uint8_t addressBytes;       // memory-address bytes after the device address (1 or 2)
    uint8_t blockMask;          // device-address bits that carry the top memory-address bits
    uint16_t pageSize;          // bytes in one page write
    uint8_t pinMask;            // device-address bits compared with the chip-address pins
    bool readsRollAtBlockEnd;   // a sequential read stays inside the block the block bits select
    uint32_t writeCycleMs;      // the longest write cycle of the datasheet
    bool ackWhileProtected;     // data bytes under write-protect are acknowledged (and dropped)
    uint32_t romFirst, romLast; // always write-protected (inclusive); romFirst > romLast when none
    // Bytes of one read window: the whole memory, or one block.
    uint32_t ReadWindow() const;
};
// Every part of the table, with the strictest values.
std::span<const Part> Parts();
const Part *FindPart(std::string_view name); // name or alias, case-insensitive; null when unknown
// The part with the values of `variant` (a vendor named in the table, or ""
// for the strictest); false when the part or the vendor is unknown.
bool ResolvePart(std::string_view name, std::string_view variant, Part &part);
bool KnownVariant(std::string_view variant);

// Time of the target in microseconds. The real clock follows the steady
// clock; a virtual clock moves only when told to, or by a fixed step on
// every register access, so stretch and write-cycle times are exact in tests.
class Clock {
public:
    virtual ~Clock() = default;
    virtual uint64_t NowMicros() = 0;
    virtual void OnAccess() {}              // called once per register access
    virtual void Wait(uint64_t micros) = 0; // a link's round trip: time passes, nothing else
};
class SteadyClock final : public Clock {
public:
    uint64_t NowMicros() override;
    void Wait(uint64_t micros) override; // really waits
};
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(uint32_t microsPerAccess = 1) : step_(microsPerAccess) {}
    uint64_t NowMicros() override { return now_; }
    void OnAccess() override { now_ += step_; }
    void Wait(uint64_t micros) override { now_ += micros; }
    void Advance(uint64_t micros) { now_ += micros; }
    void SetStep(uint32_t microsPerAccess) { step_ = microsPerAccess; }
    uint32_t NowMillis() const { return static_cast<uint32_t>(now_ / 1000); }

private:
    uint64_t now_ = 0;
    uint32_t step_;
};

// How a register access fails.
struct AccessFault {
    bool always = false; // every access fails
    uint64_t nth = 0;    // only the nth access of its kind (1-based) fails; 0 = off
};

// Faults, each switchable while the target runs. Byte and transaction
// numbers are 1-based; a transaction runs from START to STOP.
struct Faults {
    uint32_t nakByte = 0;              // device does not acknowledge the nth byte of a transaction
                                       // (the address byte is byte 1); 0 = off
    uint32_t nakTransaction = 0;       // ...only in this transaction (0 = in every transaction)
    uint32_t stuckDataClocks = 0;      // device holds the data line low for this many clock
                                       // pulses, from the next clock pulse on (stuck mid-byte)
    uint32_t holdClockMs = 0;          // device holds the clock low this long after the next START
    AccessFault writeFail;             // register writes fail
    AccessFault readFail;              // register reads fail
    bool absent = false;               // no device on the bus
    uint64_t linkLostAfter = 0;        // every access after this many fails; 0 = off
    std::vector<uint32_t> wornBytes;   // addresses that acknowledge a write but keep the old value
    std::vector<uint32_t> flippedBits; // address << 8 | bit mask: those bits read back flipped
};

// The write cycle the target takes unless SIMTWR says otherwise: the 5 ms
// that most datasheets promise at most (SIMTWR=max takes the part's own).
inline constexpr uint32_t kTypicalWriteCycleMs = 5;

// Everything that configures a target. Keys of the configuration string:
// SPITRANS SPIPORT SIMPART SIMVARIANT SIMFILE SIMADDR SIMLINES SIMTWR
// SIMSTRETCH SIMWP SIMVCD SIMLOG SIMFAULT (see README).
struct Config {
    std::string spiTrans; // any value is accepted
    int spiPort = -1;
    std::string part = "24C256";
    std::string variant;     // a vendor of the table; empty = the strictest values
    std::string file;        // backing file; empty = in memory, erased
    uint8_t chipAddress = 0; // chip-address pins A2..A0 (0..7)
    int clockLine = 6, dataLine = 7, writeProtectLine = 8;
    // unset (SIMTWR=max): the longest write cycle of the part's datasheets
    std::optional<uint32_t> writeCycleMs = kTypicalWriteCycleMs;
    uint32_t stretchMs = 0;                // clock held low after each START
    uint32_t latencyMicros = 0;            // every call of the link (an access or a batch) takes this long
    std::optional<bool> ackWhileProtected; // acknowledge data bytes while write-protected; unset: the part's
    bool writeProtectWired = true;         // false (SIMWP=off): the part's write-protect pin is tied low
    std::string vcdPath, logPath;
    Faults faults;
};

// Parses "KEY=VALUE KEY=VALUE ..." onto `config`. Keys are case-insensitive.
// On an unknown key or a bad value returns false with one line in `error`
// that names it.
bool ParseConfig(std::string_view text, Config &config, std::string &error);

// One KEY=VALUE word of a configuration string: the key in upper case, the
// value without the double quotes that may enclose it.
struct ConfigWord {
    std::string key;
    std::string value;
};
// The words of `text` as ParseConfig cuts them; false with one line in
// `error` when a word is not KEY=VALUE or a quote is not closed.
bool SplitConfigWords(std::string_view text, std::vector<ConfigWord> &words, std::string &error);

// HOPLINK_SIM from the environment first, then `text` (a key in the text wins).
bool LoadConfig(const char *text, Config &config, std::string &error);

struct Counters {
    uint64_t registerWrites = 0;
    uint64_t registerReads = 0;
    uint64_t failedAccesses = 0;
    uint64_t writeCycles = 0;      // completed write cycles
    uint64_t bytesWritten = 0;     // bytes committed to the memory
    uint64_t contentionEvents = 0; // chip drove a line high while a device pulled it low
    uint64_t transactions = 0;     // STARTs after a STOP (a repeated START continues a transaction)
    uint64_t calls = 0;            // round trips: single accesses and batches, refused ones too
    uint64_t batches = 0;          // batches carried out (their accesses count as register accesses)
};

class Target {
public:
    // Null with a one-line `error` when the part is unknown, the backing file
    // has the wrong size or is held by another process, or a trace cannot be
    // opened.
    static std::unique_ptr<Target> Create(const Config &config, std::string &error);
    ~Target();

    // The register interface: 0 on success, nonzero on failure.
    int Write(uint32_t address, uint32_t value);
    int Read(uint32_t address, uint16_t *value);
    // hoplink_batch: the accesses in order as one call; stops at the first
    // that fails and returns its index, -1 for a batch it refuses.
    int32_t Batch(hoplink_access *accesses, int32_t count);

    void SetClock(Clock *clock); // not owned; null = the target's own steady clock
    Clock &GetClock();

    const Part &GetPart() const;
    std::span<uint8_t> Memory(); // the EEPROM cells; writes here land in the backing file at the next commit
    void Fill(uint8_t value);
    Faults &GetFaults();
    // Runs `arm` once, at the START of transaction `transaction` (1-based, as
    // Counters::transactions counts them) and before the device sees that
    // START, so faults set there act on that transaction from its first
    // clock on. The counters passed are those of that moment: a register
    // fault "from the next access" is counters.registerWrites + 1, and so on.
    // A later call replaces an arming that has not run yet; null disarms.
    using Arming = std::function<void(Faults &, const Counters &)>;
    void ArmAtTransaction(uint64_t transaction, Arming arm);
    Counters GetCounters() const;
    bool WriteCycleActive(); // a write cycle is in progress now
    uint16_t Lines();        // levels of the 16 lines as they read now

    struct Impl;

private:
    explicit Target(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// The process-wide open link behind the C interface: one target at a time.
// Open parses the configuration (environment first), creates the target and
// replaces any target that is open.
class Link {
public:
    int Open(const char *config, int reserved, uint16_t linkParam);
    int Close();
    int CpuStop();
    int Write(uint32_t address, uint32_t value);
    int Read(uint32_t address, uint16_t *value);
    int32_t Batch(hoplink_access *accesses, int32_t count);
    // The ports offered ("sim0", "sim1"), as hoplink_enumerate_strings lists them.
    int Enumerate(intptr_t count, intptr_t names, intptr_t size, intptr_t flags) const;
    Target *Current(); // null while closed
    bool CpuStopped() const;

private:
    std::unique_ptr<Target> target_;
    bool cpuStopped_ = false;
};

// The virtual target's ports, and the list as hoplink_enumerate_strings
// hands any list of ports to its caller.
std::vector<std::string> VirtualPorts();
int WritePortList(const std::vector<std::string> &ports, intptr_t count, intptr_t names, intptr_t size,
                  intptr_t flags);

} // namespace hoplink::sim
