// The configuration string of the FTDI backend: SPITRANS=FTDI and the FTDI...
// keys that choose the device, its channel and the bus speed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "mpsse.h"

namespace hoplink::ftdi {

// The MPSSE chips the backend drives.
struct Chip {
    const char *name; // "FT232H"
    int productId;    // with FTDI's vendor id 0x0403
    int channels;     // MPSSE channels: interfaces A (and B)
    bool wide;        // 16 pins (ADBUS and ACBUS); else 8 (ADBUS)
    int fifoBytes;    // each direction, per channel
};
const Chip *Chips(int &count);
const Chip *FindChip(std::string_view name); // case-insensitive; null when unknown

struct Config {
    std::string serial;         // empty: any
    std::string busPosition;    // "bus/address", decimal; empty: any
    const Chip *chip = nullptr; // null: any
    int channel = 0;            // 0 = interface A, 1 = B
    Speed speed = Speed::Standard;
};

// True when the configuration string asks for this backend (SPITRANS=FTDI).
bool AsksForFtdi(const char *text);

// Parses the whole string; false with one line in `error` naming the key or
// value at fault.
bool ParseConfig(std::string_view text, Config &config, std::string &error);

} // namespace hoplink::ftdi
