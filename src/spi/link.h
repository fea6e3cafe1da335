// The transport link: open (and processor stop), close, ports.
#pragma once

#include <cstdint>
#include <string>

namespace zel {

// Opens the link and stops the target processor; the caller then attaches
// the device, within a LinkChangeScope of its own around both.
bool OpenLink(const char *config, int linkParam);
void CloseLink();
bool EnumeratePorts(intptr_t a, intptr_t b, intptr_t c, intptr_t d);
std::string ComposeLinkConfig(int kind, int port); // "SPITRANS=LPT SPIPORT=3"

} // namespace zel
