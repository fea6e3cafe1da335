// The 24Cxx family as data. blockMask holds the device-address bits that carry
// the memory-address bits above the address bytes, lowest mask bit first
// (24C16: bits 3..1 = A10..A8; 24C1024: bit 1 = A16; 24C1025: bit 3 = A16).
// readWindow: a sequential read rolls over at the end of memory, except on
// the 24C1025, whose reads stay inside each 64 KiB block (Microchip DS21941:
// "Reads may be sequential within address boundaries 0000h to FFFFh and
// 10000h to 1FFFFh").
#include "hoplink/sim.h"

#include <cctype>

namespace hoplink::sim {
namespace {

constexpr Part kParts[] = {
    {"24C01", 128, 1, 0x00, 8, 128},
    {"24C02", 256, 1, 0x00, 8, 256},
    {"24C04", 512, 1, 0x02, 16, 512},
    {"24C08", 1024, 1, 0x06, 16, 1024},
    {"24C16", 2048, 1, 0x0E, 16, 2048},
    {"24C32", 4096, 2, 0x00, 32, 4096},
    {"24C64", 8192, 2, 0x00, 32, 8192},
    {"24C128", 16384, 2, 0x00, 64, 16384},
    {"24C256", 32768, 2, 0x00, 64, 32768},
    {"24C512", 65536, 2, 0x00, 128, 65536},
    {"24C1024", 131072, 2, 0x02, 256, 131072},
    {"24C1025", 131072, 2, 0x08, 128, 65536},
};

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

std::span<const Part> Parts() { return kParts; }

const Part *FindPart(std::string_view name) {
    for (const Part &part : kParts)
        if (SameName(part.name, name))
            return &part;
    return nullptr;
}

} // namespace hoplink::sim
