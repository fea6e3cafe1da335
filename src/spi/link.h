// The transport link: open (processor stop, EEPROM attach), close, ports.
#pragma once

#include <cstdint>
#include <string>

namespace zel {

bool OpenLink(const char *config, int linkParam, int sizeBits, int blockBits);
void CloseLink();
bool EnumeratePorts(intptr_t a, intptr_t b, intptr_t c, intptr_t d);
std::string ComposeLinkConfig(int kind, int port);   // "SPITRANS=LPT SPIPORT=3"

} // namespace zel
