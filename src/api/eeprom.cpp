// Exports of the single device routines: the size check, the geometry
// header and the reads at a chosen device address. They run on the caller's
// thread and refuse while a background job owns the bus.
#include "zelapi.h"

#include "eeprom/block.h"
#include "eeprom/header.h"
#include "eeprom/probe.h"
#include "jobs/worker.h"

namespace {

// 1 or 0 from a device routine; no exception leaves the export.
template <typename Routine> int RunDeviceRoutine(Routine routine) noexcept {
    try {
        return !zel::JobRunning() && routine() ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

} // namespace

int zelCheckSize(void) {
    return RunDeviceRoutine([] { return zel::CheckSize() == 1; });
}

int zelWriteHeader(void) { return RunDeviceRoutine(zel::WriteHeader); }

long zelReadHeader(void) { return RunDeviceRoutine(zel::ReadHeader); }

int zelProbeDevice(int deviceAddress) {
    if (deviceAddress < 0 || deviceAddress > 0xFF) {
        return 0;
    }
    return RunDeviceRoutine([=] { return zel::ProbeDevice(static_cast<uint8_t>(deviceAddress)); });
}

int zelReadAtDevice(int deviceAddress, const uint8_t *address, int addressCount, uint8_t *buffer, int length) {
    constexpr int kMaxLength = 0xFFF0; // the bus counts a transaction's bytes in 16 bits
    if (deviceAddress < 0 || deviceAddress > 0xFF || addressCount < 1 || addressCount > 2 || address == nullptr ||
        buffer == nullptr || length < 1 || length > kMaxLength) {
        return 0;
    }
    return RunDeviceRoutine([=] {
        return zel::ReadAtDevice(static_cast<uint8_t>(deviceAddress), address, static_cast<uint16_t>(addressCount),
                                 buffer, static_cast<uint16_t>(length));
    });
}
