#include "spi/link.h"

#include "spi/transport.h"

namespace zel {
namespace {

// The transport's open takes this constant as its second argument.
constexpr int kReservedOpenArgument = -1;

constexpr int kKindParallelPort = 1;
constexpr int kKindUsb = 2;
constexpr int kNoPort = -1;

} // namespace

// A thread that a stop gave up on (a host's handler released after the
// forced end) neither opens, closes nor enumerates: the transport's door
// refuses it, and the link is the next job's.
bool OpenLink(const char *config, int linkParam) {
    if (config == nullptr) {
        return false; // nothing to hand the transport
    }
    const LinkChangeScope change; // an open closes the link it replaces, even when it fails
    if (TransportOpen(config, kReservedOpenArgument, static_cast<uint16_t>(linkParam)) == 0) {
        return false;
    }
    TransportCpuStop(); // before any PIO line is touched; nothing ever restarts it
    return true;
}

void CloseLink() {
    const LinkChangeScope change;
    TransportClose();
}

bool EnumeratePorts(intptr_t a, intptr_t b, intptr_t c, intptr_t d) { return TransportEnumerate(a, b, c, d) == 0; }

std::string ComposeLinkConfig(int kind, int port) {
    std::string config;
    if (kind == kKindParallelPort) {
        config += "SPITRANS=LPT";
    } else if (kind == kKindUsb) {
        config += "SPITRANS=USB";
    }
    if (port != kNoPort) {
        config += " SPIPORT=";
        config += std::to_string(port);
    }
    return config;
}

} // namespace zel
