// The 24Cxx parts the tool knows by name, from the table of parts: size bits
// S (the part holds 2^S bytes), block bits B (which device-address bits carry
// the top memory address bits: 4 = 0x08, 2 = 0x04, 1 = 0x02) and the page
// size of a page write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zelprog {

// The geometry of the EEPROM in use.
struct Geometry {
    int sizeBits = 0;
    int blockBits = 0;
    std::size_t Bytes() const { return std::size_t{1} << sizeBits; }
};

struct PartGeometry {
    std::string name;                 // "24c256"
    std::vector<std::string> aliases; // "at24c256b", ...
    int sizeBits;
    int blockBits;
    int addressBytes;
    int pageBytes;             // the smallest page sold under the name
    int pageBytesMax;          // the largest
    bool readsRollAtBlockEnd;  // a sequential read stays inside each block
    int writeCycleMs;          // the longest write cycle of the datasheets
    bool unconfirmed;          // some cells were not read in a datasheet
    std::string sources;       // the datasheets
    std::vector<int> pinMasks; // device-address bits compared with the chip-address pins: strict, then per vendor
};

std::span<const PartGeometry> KnownParts();
const PartGeometry *FindPart(std::string_view name);                 // name or alias, case-insensitive
const PartGeometry *FindPartByGeometry(int sizeBits, int blockBits); // the first part with it
std::string KnownPartNames();                                        // "24c01, 24c02, ..."
// A part name for a geometry, or "" when no known part has it.
std::string PartNameOf(const Geometry &geometry);
// The smallest page of the parts with this geometry, 0 when none has it: a
// page that fits every part the geometry may stand for.
int SmallestPageOf(const Geometry &geometry);
// "24c02: 256 bytes, size bits 8, block bits 0"
std::string GeometryText(const Geometry &geometry);

inline constexpr int kMinSizeBits = 7;        // 128 bytes
inline constexpr int kMaxSizeBits = 18;       // 256 KiB, two block bits above two address bytes
inline constexpr int kMaxHeaderSizeBits = 17; // a header that says more reads back as none
inline constexpr int kMinPageBytes = 2;       // page writes: a power of two in this range
inline constexpr int kMaxPageBytes = 256;

// The geometry header: configuration byte c = S << 3 | B and its complement,
// twice, at byte 2 - (memory-address bytes): bytes 0-3 for parts with two
// address bytes, bytes 1-4 for parts with one.
int AddressBytes(int sizeBits, int blockBits);
bool HeaderBlockBits(std::span<const uint8_t> image, int sizeBits, int &blockBits);
bool ImageHoldsHeader(std::span<const uint8_t> image, int sizeBits, int blockBits);

} // namespace zelprog
