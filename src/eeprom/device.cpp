#include "eeprom/device.h"

#include <atomic>
#include <bit>
#include <new>

#include "eeprom/bus.h"
#include "spi/pio.h"

namespace zel {
namespace {

// The device descriptor: one word, process-wide, no lock. Bits 0-7 device
// address, 8-12 size bits, 13-15 block bits, 16-17 address bytes, rest 0.
// Atomic: a thread that a stop gave up on may still read it while the host
// attaches anew.
std::atomic<bool> attached{false}; // no descriptor before the first successful attach
std::atomic<uint32_t> descriptor{0};

constexpr unsigned kSizeShift = 8;
constexpr unsigned kBlockShift = 13;
constexpr unsigned kAddressBytesShift = 16;
constexpr uint32_t kSizeMask = 0x1F;
constexpr uint32_t kBlockMask = 0x7;
constexpr uint32_t kAddressBytesMask = 0x3;

// 24Cxx device addresses: 1010 A2 A1 A0, direction bit clear.
constexpr unsigned kFirstAddress = 0xA0;
constexpr unsigned kLastAddress = 0xAE;

// Block-select bits in the order they take the top memory-address bits:
// value 4 -> device-address bit 0x08, 2 -> 0x04, 1 -> 0x02.
constexpr uint32_t kBlockOrder[] = {4, 2, 1};

uint32_t Field(unsigned shift, uint32_t mask) { return (descriptor >> shift) & mask; }

void SetField(unsigned shift, uint32_t mask, uint32_t value) {
    descriptor = (descriptor & ~(mask << shift)) | ((value & mask) << shift);
}

} // namespace

uint8_t ScanDeviceAddress() {
    if (!BusRecover()) {
        return 0;
    }
    for (unsigned address = kFirstAddress; address <= kLastAddress; address += 2) {
        // address-only probe: start, address in write direction, stop
        if (BusTransfer(static_cast<uint8_t>(address), nullptr, 0, false, nullptr, 0) != 0) {
            return static_cast<uint8_t>(address);
        }
    }
    return 0;
}

bool AttachDevice(int sizeBits, int blockBits) {
    BusRelease();
    const uint8_t address = ScanDeviceAddress();
    if (address == 0) {
        return false; // the earlier descriptor, if any, stays
    }
    SetWriteProtect(true); // protected from here on, except during single byte writes
    descriptor = address;
    SetField(kSizeShift, kSizeMask, static_cast<uint32_t>(sizeBits));
    SetField(kBlockShift, kBlockMask, static_cast<uint32_t>(blockBits));
    DeriveAddressBytes();
    attached = true;
    return true;
}

void DeriveAddressBytes() {
    // bytes for the S - p memory-address bits not folded into the device
    // address; 0 when S <= p, 3 (unsupported) for more than 16 bits
    const uint32_t folded = static_cast<uint32_t>(std::popcount(BlockBits()));
    const uint32_t unfolded = (SizeBits() - folded) & 0xFF;
    SetField(kAddressBytesShift, kAddressBytesMask, (unfolded + 7) / 8);
}

// The block-select bits come from the address alone: a part that answers at
// several addresses may have been found at another block's (a probe of the
// lowest address that failed once), and every block must still go to its own
// place.
uint8_t ComposeAddress(uint32_t address, uint8_t *out) {
    const unsigned sizeBits = SizeBits();
    const unsigned blockBits = BlockBits();
    uint32_t device = DeviceAddress() & ~(blockBits << 1);
    uint32_t mask = sizeBits > 0 ? 1u << (sizeBits - 1) : 0;
    // the highest memory-address bit goes to the highest selected block bit
    for (uint32_t select : kBlockOrder) {
        if ((blockBits & select) == 0) {
            continue;
        }
        if ((address & mask) != 0) {
            device |= select << 1;
            address &= ~mask;
        }
        mask >>= 1;
    }
    if (out != nullptr) {
        if (AddressBytes() >= 2) {
            out[0] = static_cast<uint8_t>(address >> 8);
            out[1] = static_cast<uint8_t>(address);
        } else {
            out[0] = static_cast<uint8_t>(address);
        }
    }
    return static_cast<uint8_t>(device);
}

uint16_t *AllocDeviceImage(int32_t *size) {
    // 2^31 bytes do not fit the signed size: no image for such a geometry
    const unsigned sizeBits = SizeBits();
    const uint32_t bytes = sizeBits > 30 ? 0 : 1u << sizeBits;
    if (size != nullptr) {
        *size = static_cast<int32_t>(bytes);
    }
    if (bytes == 0) {
        return nullptr;
    }
    const uint32_t words = bytes / 2 > 0 ? bytes / 2 : 1;
    return new (std::nothrow) uint16_t[words];
}

bool DeviceAttached() { return attached; }
uint32_t DescriptorWord() { return descriptor; }
uint8_t DeviceAddress() { return static_cast<uint8_t>(Field(0, 0xFF)); }
unsigned SizeBits() { return Field(kSizeShift, kSizeMask); }
unsigned BlockBits() { return Field(kBlockShift, kBlockMask); }
unsigned AddressBytes() { return Field(kAddressBytesShift, kAddressBytesMask); }
void SetSizeBits(unsigned sizeBits) { SetField(kSizeShift, kSizeMask, sizeBits); }
void SetBlockBits(unsigned blockBits) { SetField(kBlockShift, kBlockMask, blockBits); }

bool TransferGeometrySupported() {
    const unsigned addressBytes = AddressBytes();
    return addressBytes == 1 || addressBytes == 2;
}

} // namespace zel
