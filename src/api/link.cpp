// Exports of the link, the PIO lines and the device address. Each is a thin
// shell: no exception leaves it.
#include "zelapi.h"

#include "eeprom/device.h"
#include "jobs/worker.h"
#include "spi/batch.h"
#include "spi/link.h"
#include "spi/pio.h"
#include "spi/transport.h"

namespace {

// The link or the lines are about to change under a running background job:
// it is stopped first, as zelStop does. From a job's own callback the job is
// only asked to end (it cannot be waited for there); the change itself makes
// that job, or a blocking job on another thread, fail.
void StopJobBeforeChange() {
    if (zel::ZelWorker *worker = zel::ZelWorker::Instance()) {
        worker->StopJob();
    }
}

// The open and the attach are one change of the link: the attach's accesses
// go through even from a job's callback, whose job is refused from then on.
bool OpenAndAttach(const char *config, int linkParam, int sizeBits, int blockBits) {
    const zel::LinkChangeScope change;
    if (!zel::OpenLink(config, linkParam)) {
        return false;
    }
    if (!zel::AttachDevice(sizeBits, blockBits)) {
        zel::CloseLink();
        return false;
    }
    return true;
}

} // namespace

extern "C" {

int zelInit(int kind, int port, int linkParam, int sizeBits, int blockBits) {
    try {
        const std::string config = zel::ComposeLinkConfig(kind, port);
        StopJobBeforeChange();
        return OpenAndAttach(config.c_str(), linkParam, sizeBits, blockBits) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int zelInitTrans(const char *config, int linkParam, int sizeBits, int blockBits) {
    try {
        if (config == nullptr) {
            return 0; // nothing to open: the link and any job stay as they are
        }
        StopJobBeforeChange();
        return OpenAndAttach(config, linkParam, sizeBits, blockBits) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int zelClose(void) {
    try {
        StopJobBeforeChange();
        zel::CloseLink();
    } catch (...) {
    }
    return 1;
}

int zelGetAvailableSpiPorts(intptr_t a, intptr_t b, intptr_t c, intptr_t d) {
    try {
        return zel::EnumeratePorts(a, b, c, d) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int zelSetPioLines(int clock, int data, int writeProtect) {
    try {
        if (zel::LinesWouldChange(clock, data, writeProtect)) {
            StopJobBeforeChange();
            zel::SetPioLines(clock, data, writeProtect);
        }
    } catch (...) {
    }
    return 1;
}

int zelGetDeviceAddress(void) {
    // 0 until an attach has found a device
    return zel::DeviceAttached() ? zel::DeviceAddress() : 0;
}

// Before any attach every field given reads 0.
int zelGetGeometry(int *sizeBits, int *blockBits, int *addressBytes) {
    const bool attached = zel::DeviceAttached();
    const auto put = [attached](int *field, unsigned value) {
        if (field != nullptr) {
            *field = attached ? static_cast<int>(value) : 0;
        }
    };
    put(sizeBits, zel::SizeBits());
    put(blockBits, zel::BlockBits());
    put(addressBytes, zel::AddressBytes());
    return attached ? 1 : 0;
}

int zelSetBatching(int on) {
    try {
        return zel::SetBatching(on != 0) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

} // extern "C"
