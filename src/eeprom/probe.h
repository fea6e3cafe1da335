// Bus reads at a chosen device address, for hosts that find out what is on
// the bus. None of them sends a data byte followed by a stop, so none can
// start a write cycle, whether or not the write-protect line is wired.
#pragma once

#include <cstdint>

namespace zel {

// start, device (write), stop: true when the address was acknowledged.
bool ProbeDevice(uint8_t deviceAddress);

// start, device (write), the `addressCount` (1 or 2) memory-address bytes,
// repeated start, device | 1, `length` (at least 1) bytes in, stop. False,
// after a bus recovery, when any byte did not complete.
bool ReadAtDevice(uint8_t deviceAddress, const uint8_t *address, uint16_t addressCount, uint8_t *buffer,
                  uint16_t length);

} // namespace zel
