// EEPROM images as the tool handles them: a run of bytes, one per EEPROM
// cell, byte 0 first. Every converter reads a whole file into this form
// (sized to the device) and writes this form back out.
#pragma once

#include "jobs/text_image.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zelprog {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kErasedByte = 0xFF; // the state of an erased cell

// Cells that a file names with their own addresses: `bytes` go to the EEPROM
// from `address` on.
struct Run {
    uint32_t address = 0;
    Bytes bytes;
};
using Runs = std::vector<Run>; // ascending, apart, none empty

// The named cells of a device-sized image as runs of consecutive addresses.
Runs RunsOf(std::span<const uint8_t> image, const std::vector<bool> &named);
// Puts `bytes` over the runs from `address` on, adding cells where no run
// names them.
void Overlay(Runs &runs, uint32_t address, std::span<const uint8_t> bytes);

// Value of a hexadecimal digit of either case, -1 for any other character.
using zel::HexDigit;

// The library's text image (jobs/text_image.h), read strictly: words that no
// record names stay erased. False with one line in `error` (naming the line)
// on a malformed record or a word beyond `deviceSize`, and when the text
// holds no record at all.
// `named`, when given, marks each cell that a record named.
bool ParseTextImage(std::string_view text, std::size_t deviceSize, Bytes &bytes, std::string &error,
                    std::vector<bool> *named = nullptr);
std::string EmitTextImage(std::span<const uint8_t> bytes, std::size_t firstWord = 0);

// Intel HEX: record types 00 (data), 01 (end of file), 02 (extended segment
// address), 04 (extended linear address); 03 and 05 (start address) carry
// no data and are accepted. Every record's checksum is checked, the end of
// file record is required, and cells that no record names stay erased.
bool ParseIntelHex(std::string_view text, std::size_t deviceSize, Bytes &bytes, std::string &error,
                   std::vector<bool> *named = nullptr);
// Records of 16 bytes from `address` on (none crosses a 64 KiB boundary).
std::string EmitIntelHex(std::span<const uint8_t> bytes, uint32_t address = 0);

// Motorola S-record: S1/S2/S3 data records of 16-, 24- and 32-bit
// addresses; S0 (header) and S5/S6 (count) carry nothing for the EEPROM;
// S7/S8/S9 end the file and are required. Every record's checksum is
// checked; cells that no record names stay erased.
bool ParseSRecord(std::string_view text, std::size_t deviceSize, Bytes &bytes, std::string &error,
                  std::vector<bool> *named = nullptr);
// An S0 header, data records of 16 bytes from `address` on with the
// shortest address that holds the last one, and the matching termination.
std::string EmitSRecord(std::span<const uint8_t> bytes, uint32_t address = 0);

// Plain binary: byte k of the file is EEPROM cell k. A file larger than the
// device is refused; a smaller one too, unless `pad` fills the rest erased.
bool FitBinary(std::string_view data, std::size_t deviceSize, bool pad, Bytes &bytes, std::string &error);

} // namespace zelprog
