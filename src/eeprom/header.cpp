// The geometry header: configByte (sizeBits << 3 | blockBits), its
// complement, and both again, at EEPROM byte 2 - addressBytes. Two-byte
// addressed parts hold it at bytes 0-3, one-byte addressed parts at 1-4.
#include "eeprom/header.h"

#include "eeprom/block.h"
#include "eeprom/bus.h"
#include "eeprom/device.h"
#include "platform/tick.h"

namespace zel {
namespace {

constexpr uint32_t kHeaderBytes = 4;
constexpr uint16_t kHeaderReadBytes = 5; // the header wherever it starts in bytes 0-1
constexpr uint32_t kBusyRetryMs = 20;    // a write cycle may still run after the pointer write
constexpr unsigned kMinSizeBits = 7;     // 128 bytes
constexpr unsigned kMaxSizeBits = 17;    // 128 KiB

bool WellFormed(uint8_t config, uint8_t complement) { return (config ^ complement) == 0xFF; }

// A copy starting at b[i]. A byte that completes a well-formed pair with the
// byte before it may be that pair's complement: it is never read as a
// configuration byte (a whole header of S = 18..24 would otherwise be taken
// at its complement, as S = 13..7).
bool CopyAt(const uint8_t (&b)[kHeaderReadBytes], int i) {
    return WellFormed(b[i], b[i + 1]) && (i == 0 || !WellFormed(b[i - 1], b[i]));
}

// Points the address counter at byte 0: two zero address bytes first, then
// one. A one-address-byte part takes the second zero of the first form as a
// data byte, which the write-protect line (high here) keeps out of memory.
bool SetAddressPointer(uint8_t device) {
    static constexpr uint8_t zeros[2] = {0, 0};
    for (uint16_t n = 2; n >= 1; --n) {
        // start, device, n zero bytes, stop
        if (BusTransfer(device, zeros, n, true, nullptr, 0) == n + 1) {
            return true;
        }
    }
    return false;
}

// start, device | 1, five bytes in, stop; retried while the device is busy
// with a write cycle (address not acknowledged) for up to 20 ms
bool ReadFromPointer(uint8_t device, uint8_t (&bytes)[kHeaderReadBytes]) {
    const uint32_t deadline = platform::TickMs() + kBusyRetryMs;
    uint16_t count = 0;
    while ((count = BusTransfer(device, nullptr, 0, true, bytes, kHeaderReadBytes)) == 0 &&
           static_cast<int32_t>(platform::TickMs() - deadline) <= 0) {
    }
    return count >= kHeaderReadBytes + 1;
}

// Tries alignment 0 (header at bytes 0-3 of the read) and then alignment 1.
// Only the first well-formed copy of an alignment is range-tested; the
// candidate carries over when an alignment has none. Each candidate goes into
// the descriptor as it is taken.
bool ParseHeader(const uint8_t (&b)[kHeaderReadBytes], bool &copiesDiffer) {
    uint8_t candidate = 0;
    for (int a = 0; a < 2; ++a) {
        const bool first = CopyAt(b, a);
        const bool second = CopyAt(b, a + 2);
        if (first) {
            candidate = b[a];
        } else if (second) {
            candidate = b[a + 2];
        }
        SetSizeBits(candidate >> 3);
        SetBlockBits(candidate & 7);
        if ((first || second) && SizeBits() >= kMinSizeBits && SizeBits() <= kMaxSizeBits) {
            copiesDiffer = b[a] != b[a + 2] || b[a + 1] != b[a + 3];
            return true;
        }
    }
    return false;
}

// A header whose block-select bits are set in the address it was read from
// lies in another block than block 0: the scan found an alias of a part
// opened without its geometry.
bool FromAnotherBlock(uint8_t device) { return (device & BlockBits() << 1) != 0; }

bool Reject() {
    SetSizeBits(0);
    DeriveAddressBytes();
    return false;
}

bool AbandonRead() {
    BusRecover();
    return Reject();
}

// A worn cell acknowledges its write and keeps the old value: the header
// counts as written only once it reads back.
bool ReadsBack(const uint16_t (&image)[2]) {
    uint16_t check[2] = {};
    return ReadBlock(2 - AddressBytes(), check, kHeaderBytes, kNoProgress) && check[0] == image[0] &&
           check[1] == image[1];
}

} // namespace

bool WriteHeader() {
    if (!DeviceAttached()) {
        return false;
    }
    // a size above 128 KiB would read back as no header: refused, the
    // descriptor and the EEPROM left as they are
    if (SizeBits() > kMaxSizeBits) {
        return false;
    }
    DeriveAddressBytes();
    const auto config = static_cast<uint8_t>(SizeBits() << 3 | BlockBits());
    const auto copy = static_cast<uint16_t>(config | (config ^ 0xFF) << 8);
    const uint16_t image[2] = {copy, copy};
    // 2 - addressBytes names no byte for three address bytes
    const bool written = AddressBytes() <= 2 && WriteBlock(2 - AddressBytes(), image, kHeaderBytes, kNoProgress) &&
                         ReadsBack(image);
    if (!written) {
        SetSizeBits(0); // addressBytes stays as it was
    }
    return written;
}

bool ReadHeader() {
    if (!DeviceAttached()) {
        return false;
    }
    const uint8_t device = ComposeAddress(0, nullptr); // block 0, whatever address the scan found
    if (!SetAddressPointer(device)) {
        return AbandonRead();
    }
    uint8_t bytes[kHeaderReadBytes] = {};
    if (!ReadFromPointer(device, bytes)) {
        return AbandonRead();
    }
    bool copiesDiffer = false;
    if (!ParseHeader(bytes, copiesDiffer) || FromAnotherBlock(device) || (copiesDiffer && !WriteHeader())) {
        return Reject();
    }
    DeriveAddressBytes();
    return true;
}

} // namespace zel
