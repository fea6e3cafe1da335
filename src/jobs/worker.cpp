#include "jobs/worker.h"

#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "eeprom/device.h"

namespace zel {

ZelWorker *ZelWorker::Instance() {
    // made once, thread-safe; lives until the process ends
    static ZelWorker *const instance = new (std::nothrow) ZelWorker();
    return instance;
}

bool ZelWorker::PathFits(const char *path) { return path != nullptr && std::strlen(path) < kPathSize; }

void ZelWorker::SetPath(const char *path) { std::memcpy(runner_.Pending().path, path, std::strlen(path) + 1); }

bool ZelWorker::RangeFits(uint32_t address, uint32_t length) {
    return DeviceAttached() && SizeBits() != 0 && length != 0 &&
           uint64_t{address} + length <= (uint64_t{1} << SizeBits());
}

void ZelWorker::SetReadMemory(uint32_t address, uint8_t *buffer, uint32_t length) {
    Job &next = runner_.Pending();
    next.memoryAddress = address;
    next.memoryLength = length;
    next.readBuffer = buffer;
}

void ZelWorker::SetWriteMemory(uint32_t address, const uint8_t *data, uint32_t length, bool verify) {
    std::vector<uint8_t> copy(data, data + length); // may throw: then nothing is stored
    Job &next = runner_.Pending();
    next.writeData = std::move(copy);
    next.memoryAddress = address;
    next.memoryLength = length;
    next.verifyWrite = verify;
}

bool JobRunning() {
    ZelWorker *worker = ZelWorker::Instance();
    return worker != nullptr && worker->JobOwnsBus();
}

} // namespace zel
