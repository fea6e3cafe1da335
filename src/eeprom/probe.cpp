#include "eeprom/probe.h"

#include "eeprom/bus.h"
#include "eeprom/device.h"

namespace zel {
namespace {

constexpr uint8_t kWriteDirection = 0xFE;

} // namespace

bool ProbeDevice(uint8_t deviceAddress) {
    return DeviceAttached() && BusTransfer(deviceAddress & kWriteDirection, nullptr, 0, false, nullptr, 0) != 0;
}

bool ReadAtDevice(uint8_t deviceAddress, const uint8_t *address, uint16_t addressCount, uint8_t *buffer,
                  uint16_t length) {
    if (!DeviceAttached() || addressCount < 1 || addressCount > 2 || length == 0) {
        return false;
    }
    // both device-address bytes, the memory-address bytes and the bytes read
    const uint32_t expected = 2u + addressCount + length;
    return BusReadGuarded(deviceAddress & kWriteDirection, address, addressCount, buffer, length) == expected;
}

} // namespace zel
