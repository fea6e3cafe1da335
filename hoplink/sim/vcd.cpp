#include "vcd.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

namespace hoplink::sim {
namespace {

struct Wire {
    uint8_t bit;
    char id;
    const char *name;
};

constexpr Wire kWires[] = {
    {VcdWriter::kClock, '!', "scl"},
    {VcdWriter::kData, '"', "sda"},
    {VcdWriter::kWriteProtect, '#', "wp"},
    {VcdWriter::kContention, '$', "contention"},
};

} // namespace

// The trace ends one time step after its last change: a decoder then sees
// the lines hold their last levels, and a final STOP completes.
VcdWriter::~VcdWriter() {
    if (!file_)
        return;
    Flush();
    std::fprintf(file_, "#%" PRIu64 "\n", step_ + 1);
    std::fclose(file_);
}

bool VcdWriter::Open(const std::string &path, std::string &error) {
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) {
        error = "cannot open SIMVCD '" + path + "': " + std::strerror(errno);
        return false;
    }
    std::fputs("$version hoplink virtual target $end\n$timescale 1 us $end\n$scope module bus $end\n", file_);
    for (const Wire &wire : kWires)
        std::fprintf(file_, "$var wire 1 %c %s $end\n", wire.id, wire.name);
    std::fputs("$upscope $end\n$enddefinitions $end\n", file_);
    return true;
}

void VcdWriter::Sample(uint64_t step, uint8_t wires) {
    if (hasPending_ && step != step_)
        Flush();
    step_ = step;
    pending_ = wires;
    hasPending_ = true;
}

void VcdWriter::Flush() {
    hasPending_ = false;
    if (dumped_ && pending_ == last_)
        return;
    std::fprintf(file_, "#%" PRIu64 "\n", step_);
    for (const Wire &wire : kWires)
        if (!dumped_ || ((pending_ ^ last_) & wire.bit) != 0)
            std::fprintf(file_, "%c%c\n", (pending_ & wire.bit) ? '1' : '0', wire.id);
    last_ = pending_;
    dumped_ = true;
}

} // namespace hoplink::sim
