#include "core/parts.h"

#include "zelparts/part_table.h"

#include <algorithm>
#include <bit>
#include <cctype>

namespace zelprog {
namespace {

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

PartGeometry FromRow(const zelparts::PartRow &row) {
    PartGeometry part{Lower(row.name),
                      {},
                      row.sizeBits,
                      row.BlockBits(),
                      row.addressBytes,
                      row.page.Min(),
                      row.page.Max(),
                      row.rollover.Max() == zelparts::kRollsAtBlockEnd,
                      row.writeCycleMs.Max(),
                      row.Unconfirmed(),
                      row.sources,
                      {row.pinMask.strict}};
    for (const auto &entry : row.pinMask.byVendor)
        part.pinMasks.push_back(entry.second);
    for (const std::string &alias : row.aliases)
        part.aliases.push_back(Lower(alias));
    return part;
}

const std::vector<PartGeometry> &Table() {
    static const std::vector<PartGeometry> parts = [] {
        std::vector<PartGeometry> all;
        for (const zelparts::PartRow &row : zelparts::Rows())
            all.push_back(FromRow(row));
        return all;
    }();
    return parts;
}

uint8_t ConfigByte(int sizeBits, int blockBits) { return static_cast<uint8_t>(sizeBits << 3 | blockBits); }

} // namespace

std::span<const PartGeometry> KnownParts() { return Table(); }

const PartGeometry *FindPart(std::string_view name) {
    const zelparts::PartRow *row = zelparts::Find(name);
    return row == nullptr ? nullptr : &Table()[static_cast<std::size_t>(row - zelparts::Rows().data())];
}

const PartGeometry *FindPartByGeometry(int sizeBits, int blockBits) {
    for (const PartGeometry &p : Table())
        if (p.sizeBits == sizeBits && p.blockBits == blockBits)
            return &p;
    return nullptr;
}

int SmallestPageOf(const Geometry &geometry) {
    int smallest = 0;
    for (const PartGeometry &p : Table())
        if (p.sizeBits == geometry.sizeBits && p.blockBits == geometry.blockBits)
            smallest = smallest == 0 ? p.pageBytes : std::min(smallest, p.pageBytes);
    return smallest;
}

std::string KnownPartNames() {
    std::string names;
    for (const PartGeometry &p : Table()) {
        if (!names.empty())
            names += ", ";
        names += p.name;
    }
    return names;
}

std::string PartNameOf(const Geometry &geometry) {
    const PartGeometry *p = FindPartByGeometry(geometry.sizeBits, geometry.blockBits);
    return p != nullptr ? p->name : "";
}

std::string GeometryText(const Geometry &g) {
    const std::string part = PartNameOf(g);
    return (part.empty() ? std::string() : part + ": ") + std::to_string(g.Bytes()) + " bytes, size bits " +
           std::to_string(g.sizeBits) + ", block bits " + std::to_string(g.blockBits);
}

int AddressBytes(int sizeBits, int blockBits) {
    const int unfolded = sizeBits - std::popcount(static_cast<unsigned>(blockBits & 7));
    return unfolded <= 0 ? 0 : (unfolded + 7) / 8;
}

bool HeaderBlockBits(std::span<const uint8_t> image, int sizeBits, int &blockBits) {
    for (int candidate = 0; candidate < 8; ++candidate)
        if (ImageHoldsHeader(image, sizeBits, candidate)) {
            blockBits = candidate;
            return true;
        }
    return false;
}

bool ImageHoldsHeader(std::span<const uint8_t> image, int sizeBits, int blockBits) {
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
