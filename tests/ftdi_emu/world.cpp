// The emulated world: devices on the bus, the EEPROM on one channel's pins,
// the emulated clock and the report.
#include "emulator.h"

#include "numbers.h"

#include <cctype>
#include <cstdio>
#include <sstream>
#include <unistd.h>

namespace ftdi_emu {
namespace {

// USB product ids, FIFO sizes and widths: see the FT232H, FT2232H and
// FT4232H datasheets; the FT4232H's channels C and D have no MPSSE.
constexpr ChipFacts kChips[] = {
    {"FT232H", 0x6014, 6, 1, 1, 16, 1024, 1024, true, "Single RS232-HS"},
    {"FT2232H", 0x6010, 4, 2, 2, 16, 4096, 4096, false, "Dual RS232-HS"},
    {"FT4232H", 0x6011, 5, 4, 2, 8, 2048, 2048, false, "Quad RS232-HS"},
};

// The strictest values of the 24Cxx datasheets, nanoseconds; write-protect
// set-up and hold around a STOP from the parts that specify them.
constexpr Limits kStandard = {4700, 4000, 4700, 4000, 4000, 4700, 250, 0, 600, 2500};
constexpr Limits kFast = {1300, 600, 600, 600, 600, 1300, 100, 0, 600, 2500};

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

bool Pin(std::string_view text, int &pin) {
    uint64_t number = 0;
    if (!hoplink::sim::ParseNumber(text, 15, number))
        return false;
    pin = static_cast<int>(number);
    return true;
}

} // namespace

const ChipFacts *FindChip(std::string_view name) {
    for (const ChipFacts &chip : kChips)
        if (SameText(chip.name, name))
            return &chip;
    return nullptr;
}

World::~World() {
    WriteReport();
    target_.reset();
}

// "<chip>:<serial>[@<bus>/<address>]"
static bool ParseDevice(std::string_view value, World &world, std::string &error) {
    const size_t colon = value.find(':');
    const size_t at = value.find('@');
    const ChipFacts *chip = FindChip(value.substr(0, colon));
    std::string serial(colon == std::string_view::npos ? "" : value.substr(colon + 1, at - colon - 1));
    if (!chip || serial.empty()) {
        error =
            "device wants <FT232H|FT2232H|FT4232H>:<serial>[@<bus>/<address>], not " + hoplink::sim::Quoted(value);
        return false;
    }
    auto device = std::make_unique<Device>();
    device->chip = chip;
    device->serial = serial;
    device->bus = 1;
    device->address = static_cast<int>(world.devices.size()) + 1;
    if (at != std::string_view::npos) {
        const std::string_view place = value.substr(at + 1);
        const size_t slash = place.find('/');
        uint64_t bus = 0, address = 0;
        if (slash == std::string_view::npos || !hoplink::sim::ParseNumber(place.substr(0, slash), 255, bus) ||
            !hoplink::sim::ParseNumber(place.substr(slash + 1), 127, address)) {
            error = "device place wants <bus>/<address>, not " + hoplink::sim::Quoted(place);
            return false;
        }
        device->bus = static_cast<int>(bus);
        device->address = static_cast<int>(address);
    }
    for (int i = 0; i < chip->interfaces; ++i)
        device->channels.push_back(
            std::make_unique<Channel>(world, *chip, i < chip->mpsseChannels, device->unplugged));
    device->claimed.assign(static_cast<size_t>(chip->interfaces), false);
    world.devices.push_back(std::move(device));
    return true;
}

bool World::ParseKey(std::string_view key, std::string_view value, std::string &error) {
    uint64_t number = 0;
    if (SameText(key, "device"))
        return ParseDevice(value, *this, error);
    if (SameText(key, "eeprom")) {
        const size_t colon = value.find(':');
        eepromSerial_ = value.substr(0, colon);
        const std::string_view channel = colon == std::string_view::npos ? "A" : value.substr(colon + 1);
        eepromChannel_ = SameText(channel, "A") ? 0 : SameText(channel, "B") ? 1 : -1;
        return eepromChannel_ >= 0 && !eepromSerial_.empty();
    }
    if (SameText(key, "scl"))
        return Pin(value, sim_.clockLine);
    if (SameText(key, "sda"))
        return Pin(value, sim_.dataLine);
    if (SameText(key, "wp"))
        return Pin(value, sim_.writeProtectLine);
    if (SameText(key, "part"))
        return hoplink::sim::ParseConfig("SIMPART=" + std::string(value), sim_, error);
    if (SameText(key, "file")) {
        sim_.file = value;
        return true;
    }
    if (SameText(key, "sim"))
        return hoplink::sim::ParseConfig(value, sim_, error);
    if (SameText(key, "speed")) {
        speed = SameText(value, "fast") ? "fast" : "standard";
        return SameText(value, "fast") || SameText(value, "standard");
    }
    if (SameText(key, "rtt_us") && hoplink::sim::ParseNumber(value, 1000000, number)) {
        rttPs_ = number * 1000000;
        return true;
    }
    if (SameText(key, "denied")) {
        deniedSerial_ = value;
        return !value.empty();
    }
    if (SameText(key, "unplug_bytes") && hoplink::sim::ParseNumber(value, UINT32_MAX, number)) {
        unplugBytes_ = number;
        return number != 0;
    }
    if (SameText(key, "unplug_us") && hoplink::sim::ParseNumber(value, UINT32_MAX, number)) {
        unplugPs_ = number * 1000000;
        return number != 0;
    }
    return false;
}

bool World::Load(const std::string &text, std::string &error) {
    std::string_view rest = text;
    while (!rest.empty()) {
        const size_t end = rest.find(';');
        const std::string_view item = Trim(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (item.empty())
            continue;
        const size_t equals = item.find('=');
        const std::string_view key = Trim(item.substr(0, equals));
        const std::string_view value = equals == std::string_view::npos ? "" : Trim(item.substr(equals + 1));
        std::string detail;
        if (!ParseKey(key, value, detail)) {
            error = "ZEL_FTDI_EMU: bad " + hoplink::sim::Quoted(item) + (detail.empty() ? "" : ": " + detail);
            return false;
        }
    }
    timing.SetLimits(speed == "fast" ? kFast : kStandard);
    if (devices.empty())
        return true;
    eepromDevice_ = devices.front().get();
    if (!eepromSerial_.empty()) {
        eepromDevice_ = nullptr;
        for (auto &device : devices)
            if (device->serial == eepromSerial_)
                eepromDevice_ = device.get();
    }
    const auto &lines = {sim_.clockLine, sim_.dataLine, sim_.writeProtectLine};
    bool fits = eepromDevice_ && eepromChannel_ < eepromDevice_->chip->mpsseChannels;
    for (int line : lines)
        fits = fits && line < eepromDevice_->chip->width;
    if (!fits || sim_.clockLine == sim_.dataLine || sim_.clockLine == sim_.writeProtectLine ||
        sim_.dataLine == sim_.writeProtectLine) {
        error =
            "ZEL_FTDI_EMU: the EEPROM needs an MPSSE channel of a listed device and three different pins on it";
        return false;
    }
    for (auto &device : devices)
        device->denied = deniedSerial_ == "*" || device->serial == deniedSerial_;
    return true;
}

Device *World::Find(const void *handle) {
    for (auto &device : devices)
        if (device.get() == handle)
            return device.get();
    return nullptr;
}

hoplink::sim::Target *World::EepromOn(const Channel &channel) {
    if (!target_ || !eepromDevice_ ||
        eepromDevice_->channels[static_cast<size_t>(eepromChannel_)].get() != &channel)
        return nullptr;
    return target_.get();
}

bool World::OpenEeprom(const Channel &channel, std::string &error) {
    if (target_ || !eepromDevice_ ||
        eepromDevice_->channels[static_cast<size_t>(eepromChannel_)].get() != &channel)
        return true;
    target_ = hoplink::sim::Target::Create(sim_, error);
    if (!target_)
        return false;
    target_->SetClock(&clock_);
    eepromDevice_->channels[static_cast<size_t>(eepromChannel_)]->Drive(true);
    return true;
}

void World::CloseEeprom() {
    if (sim_.file.empty() || !target_)
        return;
    contention_ += target_->GetCounters().contentionEvents;
    target_.reset();
}

uint16_t World::ObserveLines() {
    const uint16_t lines = target_->Lines();
    timing.Observe(nowPs_, (lines >> sim_.clockLine) & 1, (lines >> sim_.dataLine) & 1,
                   (lines >> sim_.writeProtectLine) & 1);
    return lines;
}

void World::Advance(uint64_t ps) {
    nowPs_ += ps;
    if (unplugPs_ != 0 && nowPs_ >= unplugPs_ && eepromDevice_)
        eepromDevice_->unplugged = true;
}

void World::NoteWritten(Device &device, uint64_t bytes) {
    device.bytesWritten += bytes;
    stats.bytesOut += bytes;
    if (unplugBytes_ != 0 && &device == eepromDevice_ && device.bytesWritten >= unplugBytes_)
        device.unplugged = true;
}

// Bytes the EEPROM's device still takes before it is unplugged.
uint64_t World::WritableBytes(const Device &device) const {
    if (unplugBytes_ == 0 || &device != eepromDevice_)
        return UINT64_MAX;
    return device.bytesWritten >= unplugBytes_ ? 0 : unplugBytes_ - device.bytesWritten;
}

void World::WriteReport() const {
    if (reportPath.empty())
        return;
    std::string path = reportPath;
    const size_t mark = path.find("%p");
    if (mark != std::string::npos)
        path.replace(mark, 2, std::to_string(getpid()));
    std::ostringstream json;
    json << "{\"elapsed_ns\": " << nowPs_ / 1000 << ", \"round_trips\": " << stats.roundTrips
         << ", \"latency_waits\": " << stats.latencyWaits << ", \"bytes_out\": " << stats.bytesOut
         << ", \"bytes_in\": " << stats.bytesIn << ", \"bad_commands\": [";
    for (size_t i = 0; i < stats.badCommands.size() && i < 64; ++i)
        json << (i ? ", " : "") << unsigned{stats.badCommands[i]};
    json << "], \"bad_commands_total\": " << stats.badCommands.size()
         << ", \"write_stalls\": " << stats.writeStalls << ", \"unemulated\": " << stats.unemulated
         << ", \"hung\": " << (stats.hung ? "true" : "false")
         << ", \"contention\": " << contention_ + (target_ ? target_->GetCounters().contentionEvents : 0)
         << ", \"speed\": \"" << speed << "\", \"violations_total\": " << timing.Total() << ", \"violations\": [";
    bool first = true;
    for (const TimingCheck::Violation &v : timing.Kept()) {
        json << (first ? "" : ", ") << "{\"kind\": \"" << v.kind << "\", \"at_ns\": " << v.atPs / 1000
             << ", \"measured_ns\": " << v.measuredPs / 1000 << ", \"min_ns\": " << v.minNs << "}";
        first = false;
    }
    json << "]}\n";
    const std::string fresh = path + ".new";
    FILE *file = std::fopen(fresh.c_str(), "w");
    if (!file)
        return;
    const std::string text = json.str();
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) == 0 && written)
        std::rename(fresh.c_str(), path.c_str());
}

} // namespace ftdi_emu
