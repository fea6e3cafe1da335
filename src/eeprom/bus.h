// Master side of the two-wire bus, built from PIO line operations only.
#pragma once

#include <cstdint>

namespace zel {

void BusRelease();
bool BusStart();
bool BusStop();
bool BusRecover();
bool BusWriteByte(uint8_t value);
bool BusReadByte(uint8_t *destination);
bool BusSendAck(bool ack);

// One addressed transaction; returns how many bytes completed on the bus;
// 0 when the transport refused any register access of it, and 0 for a
// write (bytes sent, none received) whose stop did not come through.
uint16_t BusTransfer(uint8_t deviceAddress, const uint8_t *sendBytes, uint16_t sendCount, bool readFlag,
                     uint8_t *receiveBytes, uint16_t receiveCount);

// A random read from a device whose address bytes are not known: it may
// take a sent byte as data, so no stop follows the sent bytes until the
// read's device address came through; a failure before that ends in a
// recovery that starts before it stops. Returns as BusTransfer.
uint16_t BusReadGuarded(uint8_t deviceAddress, const uint8_t *sendBytes, uint16_t sendCount, uint8_t *receiveBytes,
                        uint16_t receiveCount);

} // namespace zel
