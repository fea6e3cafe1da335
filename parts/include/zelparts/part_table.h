// The table of 24Cxx parts (python/zelapi/parts.tsv), parsed once: every
// tool in this tree and the virtual target take their parts from here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelparts {

// A cell that vendors may fill differently: the strictest value and the
// vendors that differ from it.
struct Varying {
    int strict = 0;
    std::vector<std::pair<std::string, int>> byVendor;

    int For(std::string_view vendor) const; // the vendor's value, else the strictest
    int Min() const;
    int Max() const;
};

enum Rollover : int { kRollsAtMemoryEnd = 0, kRollsAtBlockEnd = 1 };
enum ProtectedData : int { kNakWhileProtected = 0, kAckWhileProtected = 1 };

struct IdField {
    std::string kind;     // "eui48", "eui64" or "serial"
    uint32_t address = 0; // its first byte
};

struct PartRow {
    std::string name;                 // "24C256"
    std::vector<std::string> aliases; // "AT24C256B", ...
    uint32_t bytes = 0;
    int sizeBits = 0;      // bytes = 2^sizeBits
    int addressBytes = 0;  // memory-address bytes after the device address
    uint8_t blockMask = 0; // device-address bits (0x08, 0x04, 0x02) that carry the top address bits
    Varying pinMask;       // device-address bits compared with the chip-address pins
    Varying page;          // bytes of a page write
    Varying rollover;      // Rollover
    Varying writeCycleMs;  // longest write cycle
    Varying protectedData; // ProtectedData
    bool hasRom = false;
    uint32_t romFirst = 0, romLast = 0; // always write-protected, inclusive
    std::vector<IdField> ids;
    std::vector<std::string> unconfirmed; // column names
    std::string sources;

    // The geometry's block bits: 4 = device-address bit 0x08, 2 = 0x04, 1 = 0x02.
    int BlockBits() const { return blockMask >> 1; }
    bool Unconfirmed() const { return !unconfirmed.empty(); }
};

// The text of the table as built into this program.
const char *TableText();

// Parses the table's text; false with one line in `error` (naming the line).
bool ParseTable(std::string_view text, std::vector<PartRow> &rows, std::string &error);

// The rows of the built-in table; empty when it does not parse (TableError says why).
const std::vector<PartRow> &Rows();
const std::string &TableError();

// By name or alias, case-insensitive; null when unknown.
const PartRow *Find(std::string_view name);

// The vendors named in any cell, sorted ("atmel", "microchip", ...).
std::vector<std::string> Vendors();

} // namespace zelparts
