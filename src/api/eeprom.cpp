// Exports of the single device routines: the size check and the geometry
// header. They run on the caller's thread and refuse while a background job
// owns the bus.
#include "zelapi.h"

#include "eeprom/block.h"
#include "eeprom/header.h"
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
