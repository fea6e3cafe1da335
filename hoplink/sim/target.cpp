// The chip: three PIO registers over 16 open-drain lines with pull-ups, and
// the EEPROM on the clock, data and write-protect lines.
#include "hoplink/sim.h"

#include "backing.h"
#include "bus_log.h"
#include "eeprom.h"
#include "vcd.h"

#include <cstring>
#include <vector>

namespace hoplink::sim {

struct Target::Impl {
    Impl(const Config &config, const Part &part, std::unique_ptr<BackingFile> backing)
        : config(config), part(part), faults(config.faults), file(std::move(backing)),
          ram(file ? 0 : part.size, 0xFF), cells(file ? file->Cells() : std::span<uint8_t>(ram)),
          eeprom({&this->part, config.chipAddress, config.stretchMs}, cells, faults, counters),
          clockMask(static_cast<uint16_t>(1u << config.clockLine)),
          dataMask(static_cast<uint16_t>(1u << config.dataLine)),
          writeProtectMask(static_cast<uint16_t>(1u << config.writeProtectLine)) {
        eeprom.SetClock(clock);
    }

    bool OpenTraces(std::string &error);
    bool Fails(const AccessFault &fault, uint64_t count) const;
    bool LinkLost() const { return faults.linkLostAfter != 0 && accesses > faults.linkLostAfter; }
    void Settle();
    void ArmIfDue(BusEvent event);
    void NoteContention(uint16_t clash);
    void Trace(uint16_t clash);
    void Tick();
    void RoundTrip();
    int WriteAccess(uint32_t address, uint32_t value);
    int ReadAccess(uint32_t address, uint16_t *value);

    const Config config;
    const Part part;
    SteadyClock steady;
    Clock *clock = &steady;
    Faults faults;
    Counters counters;
    std::unique_ptr<BackingFile> file;
    std::vector<uint8_t> ram; // the cells when there is no backing file
    std::span<uint8_t> cells;
    Eeprom eeprom;
    EdgeDecoder decoder;
    std::unique_ptr<VcdWriter> vcd;
    std::unique_ptr<BusLog> log;

    const uint16_t clockMask, dataMask, writeProtectMask;
    uint16_t enable = 0;     // register 0x0061
    uint16_t level = 0;      // register 0x0062
    uint16_t lines = 0xFFFF; // what register 0xFFC2 reads
    uint16_t contention = 0; // lines driven high by the chip and pulled low by a device
    uint64_t accesses = 0;
    uint64_t armAt = 0; // transaction whose START runs `arming`
    Arming arming;
};

bool Target::Impl::OpenTraces(std::string &error) {
    if (!config.vcdPath.empty()) {
        vcd = std::make_unique<VcdWriter>();
        if (!vcd->Open(config.vcdPath, error))
            return false;
    }
    if (!config.logPath.empty()) {
        log = std::make_unique<BusLog>();
        if (!log->Open(config.logPath, error))
            return false;
    }
    return true;
}

bool Target::Impl::Fails(const AccessFault &fault, uint64_t count) const {
    return fault.always || fault.nth == count || LinkLost();
}

// Resolves the lines after a change and feeds every bus edge to the EEPROM
// until nothing moves: the device changes the data line only while the clock
// is low, so this ends after one event.
void Target::Impl::Settle() {
    for (;;) {
        const uint16_t pulled =
            static_cast<uint16_t>((eeprom.PullsClock() ? clockMask : 0) | (eeprom.PullsData() ? dataMask : 0));
        const uint16_t driven = static_cast<uint16_t>(enable & ~level);
        lines = static_cast<uint16_t>(~(driven | pulled));
        const uint16_t clash = static_cast<uint16_t>(enable & level & pulled);
        if (clash != contention)
            NoteContention(clash);
        eeprom.SetWriteProtect(config.writeProtectWired && (lines & writeProtectMask) != 0);
        if (vcd)
            Trace(clash);
        const bool data = (lines & dataMask) != 0;
        const BusEvent event = decoder.Step((lines & clockMask) != 0, data);
        if (event == BusEvent::None)
            return;
        if (log)
            log->OnEvent(accesses, event, data);
        ArmIfDue(event);
        eeprom.OnEvent(event, data);
    }
}

// A START outside a transaction opens the next one (a repeated START does not).
void Target::Impl::ArmIfDue(BusEvent event) {
    if (!arming || event != BusEvent::Start || eeprom.InTransaction() || counters.transactions + 1 != armAt)
        return;
    const Arming arm = std::move(arming);
    arming = nullptr;
    arm(faults, counters);
}

void Target::Impl::NoteContention(uint16_t clash) {
    const uint16_t fresh = static_cast<uint16_t>(clash & ~contention);
    contention = clash;
    if (fresh == 0)
        return;
    ++counters.contentionEvents;
    if (log)
        log->OnContention(accesses, fresh);
}

void Target::Impl::Trace(uint16_t clash) {
    const uint8_t wires = static_cast<uint8_t>(
        ((lines & clockMask) ? VcdWriter::kClock : 0) | ((lines & dataMask) ? VcdWriter::kData : 0) |
        ((lines & writeProtectMask) ? VcdWriter::kWriteProtect : 0) | (clash ? VcdWriter::kContention : 0));
    vcd->Sample(accesses, wires);
}

// Time moves the lines only when a clock hold runs out.
void Target::Impl::Tick() {
    if (eeprom.PullsClock() && eeprom.ReleaseClockIfDue())
        Settle();
}

namespace {

bool CheckFaultAddresses(const Faults &faults, const Part &part, std::string &error) {
    for (uint32_t address : faults.wornBytes)
        if (address >= part.size) {
            error = "SIMFAULT worn address " + std::to_string(address) + " lies outside the " + part.name;
            return false;
        }
    for (uint32_t flip : faults.flippedBits)
        if (flip >> 8 >= part.size) {
            error = "SIMFAULT flip address " + std::to_string(flip >> 8) + " lies outside the " + part.name;
            return false;
        }
    return true;
}

// The part of the configuration: its vendor's values, then SIMTWR and SIMWP.
bool ConfiguredPart(const Config &config, Part &part, std::string &error) {
    if (!ResolvePart(config.part, config.variant, part)) {
        error = FindPart(config.part) ? "unknown SIMVARIANT '" + config.variant + "'"
                                      : "unknown part '" + config.part + "'";
        return false;
    }
    part.writeCycleMs = config.writeCycleMs.value_or(part.writeCycleMs);
    part.ackWhileProtected = config.ackWhileProtected.value_or(part.ackWhileProtected);
    return true;
}

} // namespace

std::unique_ptr<Target> Target::Create(const Config &config, std::string &error) {
    Part part{};
    if (!ConfiguredPart(config, part, error) || !CheckFaultAddresses(config.faults, part, error))
        return nullptr;
    std::unique_ptr<BackingFile> file;
    if (!config.file.empty()) {
        file = std::make_unique<BackingFile>();
        if (!file->Open(config.file, part.size, error))
            return nullptr;
    }
    auto impl = std::make_unique<Impl>(config, part, std::move(file));
    if (!impl->OpenTraces(error))
        return nullptr;
    impl->Settle();
    return std::unique_ptr<Target>(new Target(std::move(impl)));
}

Target::Target(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Target::~Target() = default;

// Every call of the link is one round trip, however many accesses it carries.
void Target::Impl::RoundTrip() {
    ++counters.calls;
    if (config.latencyMicros != 0)
        clock->Wait(config.latencyMicros);
}

int Target::Write(uint32_t address, uint32_t value) {
    impl_->RoundTrip();
    return impl_->WriteAccess(address, value);
}

int Target::Read(uint32_t address, uint16_t *value) {
    impl_->RoundTrip();
    return impl_->ReadAccess(address, value);
}

int32_t Target::Batch(hoplink_access *accesses, int32_t count) {
    Impl &t = *impl_;
    t.RoundTrip();
    if (!accesses || count < 1 || count > HOPLINK_BATCH_MAX)
        return -1;
    ++t.counters.batches;
    for (int32_t i = 0; i < count; ++i) {
        hoplink_access &access = accesses[i];
        uint16_t value = 0;
        int result = 1;
        if (access.kind == HOPLINK_ACCESS_WRITE) {
            result = t.WriteAccess(access.address, access.value);
        } else if (access.kind == HOPLINK_ACCESS_READ) {
            result = t.ReadAccess(access.address, &value);
            if (result == 0)
                access.value = value;
        } else {
            ++t.counters.failedAccesses;
        }
        if (result != 0)
            return i;
    }
    return count;
}

int Target::Impl::WriteAccess(uint32_t address, uint32_t value) {
    Impl &t = *this;
    t.clock->OnAccess();
    ++t.accesses;
    ++t.counters.registerWrites;
    if (t.Fails(t.faults.writeFail, t.counters.registerWrites)) {
        ++t.counters.failedAccesses;
        return 1;
    }
    if (address == kRegOutputEnable) {
        t.enable = static_cast<uint16_t>(value);
    } else if (address == kRegOutputLevel) {
        t.level = static_cast<uint16_t>(value);
    } else {
        ++t.counters.failedAccesses;
        return 1;
    }
    if (t.faults.stuckDataClocks != 0) {
        t.eeprom.Stick(t.faults.stuckDataClocks);
        t.faults.stuckDataClocks = 0;
    }
    t.Tick();
    t.Settle();
    return 0;
}

int Target::Impl::ReadAccess(uint32_t address, uint16_t *value) {
    Impl &t = *this;
    t.clock->OnAccess();
    ++t.accesses;
    ++t.counters.registerReads;
    if (t.Fails(t.faults.readFail, t.counters.registerReads) || address != kRegInputLevel || !value) {
        ++t.counters.failedAccesses;
        return 1;
    }
    t.Tick();
    *value = t.lines;
    return 0;
}

void Target::SetClock(Clock *clock) {
    impl_->clock = clock ? clock : &impl_->steady;
    impl_->eeprom.SetClock(impl_->clock);
}

Clock &Target::GetClock() { return *impl_->clock; }
const Part &Target::GetPart() const { return impl_->part; }
std::span<uint8_t> Target::Memory() { return impl_->cells; }
void Target::Fill(uint8_t value) { std::memset(impl_->cells.data(), value, impl_->cells.size()); }
Faults &Target::GetFaults() { return impl_->faults; }
void Target::ArmAtTransaction(uint64_t transaction, Arming arm) {
    impl_->armAt = transaction;
    impl_->arming = std::move(arm);
}

Counters Target::GetCounters() const { return impl_->counters; }
bool Target::WriteCycleActive() { return impl_->eeprom.WriteCycleActive(); }

uint16_t Target::Lines() {
    impl_->Tick();
    return impl_->lines;
}

} // namespace hoplink::sim
