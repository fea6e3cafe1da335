// Block transfer between the EEPROM and word images, and the size check.
#pragma once

#include <cstdint>

namespace zel {

bool ReadBlock(uint32_t address, uint16_t *words, uint32_t length, bool report);
bool WriteDataByte(uint32_t address, uint8_t value);
bool WriteBlock(uint32_t address, const uint16_t *words, uint32_t length, bool report);
int CheckSize();

} // namespace zel
