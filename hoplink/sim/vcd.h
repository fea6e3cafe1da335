// VCD waveform of the bus lines: one time step per register access.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace hoplink::sim {

class VcdWriter {
public:
    // Wire bits of Sample().
    static constexpr uint8_t kClock = 1, kData = 2, kWriteProtect = 4, kContention = 8;

    VcdWriter() = default;
    VcdWriter(const VcdWriter &) = delete;
    VcdWriter &operator=(const VcdWriter &) = delete;
    ~VcdWriter();

    bool Open(const std::string &path, std::string &error);
    // Records the wires at `step`; of several samples in one step the last counts.
    void Sample(uint64_t step, uint8_t wires);

private:
    void Flush();

    std::FILE *file_ = nullptr;
    uint64_t step_ = 0; // step of the pending sample
    uint8_t pending_ = 0;
    bool hasPending_ = false;
    uint8_t last_ = 0;    // wires as last written
    bool dumped_ = false; // the first sample lists every wire
};

} // namespace hoplink::sim
