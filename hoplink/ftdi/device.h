// One MPSSE channel of an FTDI chip, opened through libftdi1 and set up for
// GPIO: every pin an input, the pacing clock on ADBUS0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config.h"
#include "library.h"

namespace hoplink::ftdi {

// A device found on the USB.
struct Found {
    const Chip *chip;
    std::string serial; // empty when it could not be read
    int readError;      // 0, or what libftdi answered when asked for the serial number
};

// The MPSSE devices present, in the order of the table of chips.
std::vector<Found> ListDevices(std::string &error);

class Device {
public:
    // Null with one line in `error`: no such device, no permission, not an
    // MPSSE chip that answers as FTDI AN_108 says.
    static std::unique_ptr<Device> Open(const Config &config, std::string &error);
    ~Device(); // the pins go back to inputs
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    const Chip &GetChip() const { return *chip_; }
    // False once the device failed to take or give bytes: it is then gone
    // for good (unplugged, reset) and every later call fails too.
    bool Send(const std::vector<uint8_t> &bytes);
    bool Receive(uint8_t *bytes, size_t count);

private:
    Device(const Library &library, ftdi_context *context) : library_(library), context_(context) {}
    bool Fail(const char *what);
    bool Synchronise(uint8_t probe);
    bool SetUp(const Pacing &pacing, std::string &error);

    const Library &library_;
    ftdi_context *context_;
    const Chip *chip_ = nullptr;
    bool open_ = false;
    bool broken_ = false;
};

} // namespace hoplink::ftdi
