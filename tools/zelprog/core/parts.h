// The 24Cxx parts the tool knows by name: size bits S (the part holds 2^S
// bytes), block bits B (which device-address bits carry the top memory
// address bits: 4 = 0x08, 2 = 0x04, 1 = 0x02) and the page size of a page
// write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zelprog {

// The geometry of the EEPROM in use.
struct Geometry {
    int sizeBits = 0;
    int blockBits = 0;
    std::size_t Bytes() const { return std::size_t{1} << sizeBits; }
};

struct PartGeometry {
    const char *name; // "24c256"
    int sizeBits;
    int blockBits;
    int pageBytes;
};

std::span<const PartGeometry> KnownParts();
const PartGeometry *FindPart(std::string_view name);            // case-insensitive
const PartGeometry *FindPartByGeometry(int sizeBits, int blockBits);
std::string KnownPartNames();                                   // "24c01, 24c02, ..."
// A part name for a geometry, or "" when no known part has it.
std::string PartNameOf(const Geometry &geometry);
// "24c02: 256 bytes, size bits 8, block bits 0"
std::string GeometryText(const Geometry &geometry);

inline constexpr int kMinSizeBits = 7;  // 128 bytes
inline constexpr int kMaxSizeBits = 17; // 128 KiB
inline constexpr int kMinPageBytes = 2;   // page writes: a power of two in this range
inline constexpr int kMaxPageBytes = 256;

// The geometry header: configuration byte c = S << 3 | B and its complement,
// twice, at byte 2 - (memory-address bytes): bytes 0-3 for parts with two
// address bytes, bytes 1-4 for parts with one.
int AddressBytes(int sizeBits, int blockBits);
bool HeaderBlockBits(std::span<const uint8_t> image, int sizeBits, int &blockBits);
bool ImageHoldsHeader(std::span<const uint8_t> image, int sizeBits, int blockBits);

} // namespace zelprog
