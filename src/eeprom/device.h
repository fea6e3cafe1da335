// The EEPROM on the bus: attach, the process-wide device descriptor, and
// the composition of device and memory addresses.
#pragma once

#include <cstdint>

namespace zel {

bool AttachDevice(int sizeBits, int blockBits);
uint8_t ScanDeviceAddress();
void DeriveAddressBytes();
uint8_t ComposeAddress(uint32_t address, uint8_t *out);

// New word image for the whole device (max(2^S / 2, 1) words); the size in
// bytes goes to *size. Null when it cannot be allocated. Release with delete[].
uint16_t *AllocDeviceImage(int32_t *size);

// The descriptor: bits 0-7 deviceAddress, 8-12 sizeBits, 13-15 blockBits,
// 16-17 addressBytes.
bool DeviceAttached(); // a descriptor exists
uint32_t DescriptorWord();
uint8_t DeviceAddress();
unsigned SizeBits();
unsigned BlockBits();
unsigned AddressBytes();
void SetSizeBits(unsigned sizeBits); // the caller derives addressBytes when it should
void SetBlockBits(unsigned blockBits);
// Transfers need one or two memory-address bytes; 0 or 3 is refused.
bool TransferGeometrySupported();

} // namespace zel
