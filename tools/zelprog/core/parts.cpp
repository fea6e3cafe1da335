#include "core/parts.h"

#include <array>
#include <bit>
#include <cctype>

namespace zelprog {
namespace {

// pageBytes: the smallest page of the parts sold under the name.
constexpr std::array<PartGeometry, 12> kParts{{
    {"24c01", 7, 0, 8},
    {"24c02", 8, 0, 8},
    {"24c04", 9, 1, 16},
    {"24c08", 10, 3, 16},
    {"24c16", 11, 7, 16},
    {"24c32", 12, 0, 32},
    {"24c64", 13, 0, 32},
    {"24c128", 14, 0, 64},
    {"24c256", 15, 0, 64},
    {"24c512", 16, 0, 128},
    {"24c1024", 17, 1, 128},
    {"24c1025", 17, 4, 128},
}};

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

uint8_t ConfigByte(int sizeBits, int blockBits) { return static_cast<uint8_t>(sizeBits << 3 | blockBits); }

} // namespace

std::span<const PartGeometry> KnownParts() { return kParts; }

const PartGeometry *FindPart(std::string_view name)
{
    for (const PartGeometry &p : kParts)
        if (SameIgnoringCase(p.name, name))
            return &p;
    return nullptr;
}

const PartGeometry *FindPartByGeometry(int sizeBits, int blockBits)
{
    for (const PartGeometry &p : kParts)
        if (p.sizeBits == sizeBits && p.blockBits == blockBits)
            return &p;
    return nullptr;
}

std::string KnownPartNames()
{
    std::string names;
    for (const PartGeometry &p : kParts) {
        if (!names.empty())
            names += ", ";
        names += p.name;
    }
    return names;
}

std::string PartNameOf(const Geometry &geometry)
{
    const PartGeometry *p = FindPartByGeometry(geometry.sizeBits, geometry.blockBits);
    return p != nullptr ? p->name : "";
}

std::string GeometryText(const Geometry &g)
{
    const std::string part = PartNameOf(g);
    return (part.empty() ? std::string() : part + ": ") + std::to_string(g.Bytes()) + " bytes, size bits " +
           std::to_string(g.sizeBits) + ", block bits " + std::to_string(g.blockBits);
}

int AddressBytes(int sizeBits, int blockBits)
{
    const int unfolded = sizeBits - std::popcount(static_cast<unsigned>(blockBits & 7));
    return unfolded <= 0 ? 0 : (unfolded + 7) / 8;
}

bool HeaderBlockBits(std::span<const uint8_t> image, int sizeBits, int &blockBits)
{
    for (int candidate = 0; candidate < 8; ++candidate)
        if (ImageHoldsHeader(image, sizeBits, candidate)) {
            blockBits = candidate;
            return true;
        }
    return false;
}

bool ImageHoldsHeader(std::span<const uint8_t> image, int sizeBits, int blockBits)
{
    const int addressBytes = AddressBytes(sizeBits, blockBits);
    if (addressBytes < 1 || addressBytes > 2)
        return false;
    const std::size_t at = static_cast<std::size_t>(2 - addressBytes);
    if (image.size() < at + 4)
        return false;
    const uint8_t c = ConfigByte(sizeBits, blockBits);
    const uint8_t k = c ^ 0xFF;
    return image[at] == c && image[at + 1] == k && image[at + 2] == c && image[at + 3] == k;
}

} // namespace zelprog
