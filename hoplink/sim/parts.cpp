// The parts the target models, from the table of parts.
#include "hoplink/sim.h"

#include "zelparts/part_table.h"

#include <algorithm>
#include <bit>
#include <vector>

namespace hoplink::sim {
namespace {

Part FromRow(const zelparts::PartRow &row, std::string_view vendor) {
    Part part{};
    part.name = row.name.c_str();
    part.size = row.bytes;
    part.addressBytes = static_cast<uint8_t>(row.addressBytes);
    part.blockMask = row.blockMask;
    part.pageSize = static_cast<uint16_t>(row.page.For(vendor));
    part.pinMask = static_cast<uint8_t>(row.pinMask.For(vendor));
    part.readsRollAtBlockEnd = row.rollover.For(vendor) == zelparts::kRollsAtBlockEnd;
    part.writeCycleMs = static_cast<uint32_t>(row.writeCycleMs.For(vendor));
    part.ackWhileProtected = row.protectedData.For(vendor) == zelparts::kAckWhileProtected;
    part.romFirst = row.hasRom ? row.romFirst : 1;
    part.romLast = row.hasRom ? row.romLast : 0;
    return part;
}

const std::vector<Part> &StrictParts() {
    static const std::vector<Part> parts = [] {
        std::vector<Part> strict;
        for (const zelparts::PartRow &row : zelparts::Rows())
            strict.push_back(FromRow(row, ""));
        return strict;
    }();
    return parts;
}

} // namespace

uint32_t Part::ReadWindow() const { return readsRollAtBlockEnd ? size >> std::popcount(blockMask) : size; }

std::span<const Part> Parts() { return StrictParts(); }

const Part *FindPart(std::string_view name) {
    const zelparts::PartRow *row = zelparts::Find(name);
    if (row == nullptr)
        return nullptr;
    const auto &rows = zelparts::Rows();
    return &StrictParts()[static_cast<size_t>(row - rows.data())];
}

bool KnownVariant(std::string_view variant) {
    const std::vector<std::string> vendors = zelparts::Vendors();
    return variant.empty() || std::find(vendors.begin(), vendors.end(), variant) != vendors.end();
}

bool ResolvePart(std::string_view name, std::string_view variant, Part &part) {
    const zelparts::PartRow *row = zelparts::Find(name);
    if (row == nullptr || !KnownVariant(variant))
        return false;
    part = FromRow(*row, variant);
    return true;
}

} // namespace hoplink::sim
