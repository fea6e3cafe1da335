// The FTDI backend behind the transport interface: the chip's PIO registers
// on the pins of one MPSSE channel.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device.h"
#include "hoplink.h"
#include "mpsse.h"

namespace hoplink::ftdi {

class Link {
public:
    // Nonzero when the device is open and set up; 0 with a line on stderr.
    int Open(const char *config);
    void Close();
    bool IsOpen() const { return device_ != nullptr; }
    int Write(uint32_t address, uint32_t value);
    int Read(uint32_t address, uint16_t *value);
    int32_t Batch(hoplink_access *accesses, int32_t count);

private:
    int32_t Run(hoplink_access *accesses, int32_t count);
    bool Refuses(const Pins &pins);
    bool Flush();

    std::unique_ptr<Device> device_;
    Pacing pacing_{};
    Pins registers_; // as the host last wrote them
    Pins sent_;      // as the commands sent so far leave the pins
    // The segment under way: its commands, and the reads whose answers it waits for.
    std::vector<uint8_t> commands_;
    std::vector<uint32_t *> answers_;
    bool toldLineZero_ = false, toldWidth_ = false, toldRegister_ = false;
};

// The ports hoplink_enumerate_strings lists for the FTDI devices present: one
// configuration string per MPSSE channel.
std::vector<std::string> PortNames();

} // namespace hoplink::ftdi
