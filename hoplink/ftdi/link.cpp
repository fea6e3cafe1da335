#include "link.h"

#include <cstdio>

#include "hoplink/sim.h"

namespace hoplink::ftdi {
namespace {

// Answer bytes the chip holds for the host: two bytes of its IN FIFO stay
// free for the USB status bytes.
constexpr size_t kStatusBytes = 2;

bool TellOnce(bool &told, const std::string &line) {
    if (!told)
        std::fprintf(stderr, "hoplink: %s\n", line.c_str());
    told = true;
    return true;
}

} // namespace

int Link::Open(const char *text) {
    Close();
    Config config;
    std::string error;
    if (!ParseConfig(text ? text : "", config, error) || !(device_ = Device::Open(config, error))) {
        std::fprintf(stderr, "hoplink: %s\n", error.c_str());
        return 0;
    }
    pacing_ = PacingFor(config.speed);
    registers_ = sent_ = Pins{};
    toldLineZero_ = toldWidth_ = toldRegister_ = false;
    return 1;
}

void Link::Close() {
    device_.reset();
    commands_.clear();
    answers_.clear();
}

int Link::Write(uint32_t address, uint32_t value) {
    hoplink_access access{HOPLINK_ACCESS_WRITE, address, value};
    return Batch(&access, 1) == 1 ? 0 : 1;
}

int Link::Read(uint32_t address, uint16_t *value) {
    if (!value)
        return 1;
    hoplink_access access{HOPLINK_ACCESS_READ, address, 0};
    if (Batch(&access, 1) != 1)
        return 1;
    *value = static_cast<uint16_t>(access.value);
    return 0;
}

int32_t Link::Batch(hoplink_access *accesses, int32_t count) {
    if (!device_ || !accesses || count < 1 || count > HOPLINK_BATCH_MAX)
        return -1;
    const int32_t done = Run(accesses, count);
    commands_.clear();
    answers_.clear();
    return done;
}

// ADBUS0 paces the bus; an FT4232H channel has no ACBUS.
bool Link::Refuses(const Pins &pins) {
    const uint16_t used = static_cast<uint16_t>(pins.enable | pins.level);
    if (used & kPacingPin)
        return TellOnce(toldLineZero_, "line 0 (ADBUS0) carries the clock that paces the bus with SPITRANS=FTDI: "
                                       "wire SCL, SDA and WP to other pins and choose them with --pio");
    if (!device_->GetChip().wide && (used & 0xFF00))
        return TellOnce(toldWidth_, std::string("an ") + device_->GetChip().name +
                                        " channel has lines 0-7 (ADBUS0-7) only: choose the lines with --pio");
    return false;
}

// The accesses go out in segments whose answers fit the chip's IN FIFO; each
// segment ends with Send Immediate and its answers are read before the next.
// A refused access ends the batch after the accesses before it went out.
int32_t Link::Run(hoplink_access *accesses, int32_t count) {
    const bool wide = device_->GetChip().wide;
    const size_t answerBytes = wide ? 2 : 1;
    const size_t budget = static_cast<size_t>(device_->GetChip().fifoBytes) - kStatusBytes;
    int32_t segmentStart = 0;
    for (int32_t i = 0; i < count; ++i) {
        hoplink_access &access = accesses[i];
        const bool read = access.kind == HOPLINK_ACCESS_READ && access.address == sim::kRegInputLevel;
        if (read && (answers_.size() + 1) * answerBytes > budget) {
            if (!Flush())
                return segmentStart;
            segmentStart = i;
        }
        Pins next = registers_;
        const bool write = access.kind == HOPLINK_ACCESS_WRITE &&
                           (access.address == sim::kRegOutputEnable || access.address == sim::kRegOutputLevel);
        if (write)
            (access.address == sim::kRegOutputEnable ? next.enable : next.level) =
                static_cast<uint16_t>(access.value);
        if ((!read && !write) || (write && Refuses(next))) {
            if (!read && !write) {
                char line[96];
                std::snprintf(line, sizeof line, "no register 0x%04X for a %s on this link", access.address,
                              access.kind == HOPLINK_ACCESS_READ ? "read" : "write");
                TellOnce(toldRegister_, line);
            }
            return Flush() ? i : segmentStart;
        }
        if (write) {
            AppendSet(commands_, sent_, next, wide, pacing_);
            registers_ = sent_ = next;
        } else {
            AppendGet(commands_, wide);
            answers_.push_back(&access.value);
        }
    }
    return Flush() ? count : segmentStart;
}

bool Link::Flush() {
    const bool wide = device_->GetChip().wide;
    if (!answers_.empty())
        commands_.push_back(kSendImmediate);
    std::vector<uint8_t> replies(answers_.size() * (wide ? 2 : 1));
    const bool ok = (commands_.empty() || device_->Send(commands_)) &&
                    (replies.empty() || device_->Receive(replies.data(), replies.size()));
    for (size_t i = 0; ok && i < answers_.size(); ++i)
        *answers_[i] = wide ? static_cast<uint32_t>(replies[2 * i] | replies[2 * i + 1] << 8) : replies[i];
    commands_.clear();
    answers_.clear();
    return ok;
}

std::vector<std::string> PortNames() {
    std::string error;
    std::vector<std::string> names;
    for (const Found &found : ListDevices(error)) {
        for (int channel = 0; channel < found.chip->channels; ++channel) {
            std::string name = std::string("SPITRANS=FTDI FTDICHIP=") + found.chip->name;
            if (!found.serial.empty() && found.serial.find('"') == std::string::npos)
                name += found.serial.find(' ') == std::string::npos ? " FTDISERIAL=" + found.serial
                                                                    : " FTDISERIAL=\"" + found.serial + "\"";
            if (found.chip->channels > 1)
                name += channel == 0 ? " FTDIIFACE=A" : " FTDIIFACE=B";
            names.push_back(name);
        }
    }
    return names;
}

} // namespace hoplink::ftdi
