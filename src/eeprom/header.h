// The geometry header stored near the start of the EEPROM.
#pragma once

namespace zel {

bool WriteHeader();
bool ReadHeader();

} // namespace zel
