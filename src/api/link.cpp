// Exports of the link, the PIO lines and the device address. Each is a thin
// shell: no exception leaves it.
#include "zelapi.h"

#include "eeprom/device.h"
#include "spi/link.h"
#include "spi/pio.h"

extern "C" {

int zelInit(int kind, int port, int linkParam, int sizeBits, int blockBits) {
    try {
        const std::string config = zel::ComposeLinkConfig(kind, port);
        return zel::OpenLink(config.c_str(), linkParam, sizeBits, blockBits) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int zelInitTrans(const char *config, int linkParam, int sizeBits, int blockBits) {
    try {
        return zel::OpenLink(config, linkParam, sizeBits, blockBits) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int zelClose(void) {
    try {
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
    zel::SetPioLines(clock, data, writeProtect);
    return 1;
}

int zelGetDeviceAddress(void) {
    // 0 until an attach has found a device
    return zel::DeviceAttached() ? zel::DeviceAddress() : 0;
}

} // extern "C"
