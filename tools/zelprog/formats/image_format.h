// The file formats of an EEPROM image and the choice between them.
#pragma once

#include "formats/image.h"

#include <optional>
#include <string>
#include <string_view>

namespace zelprog {

enum class ImageFormat { Text, Binary, IntelHex, SRecord };

// "text", "bin", "ihex" or "srec" (any case); nothing for other names.
std::optional<ImageFormat> ParseFormatName(std::string_view name);

// From the file name: .bin is binary, .hex and .ihex are Intel HEX, .srec,
// .s19, .s28 and .s37 are S-records, anything else (and "-") is the text image.
ImageFormat FormatFromPath(std::string_view path);

const char *FormatName(ImageFormat format);

// File contents -> device-sized bytes, and back.
bool DecodeImage(ImageFormat format, std::string_view data, std::size_t deviceSize, bool pad, Bytes &bytes,
                 std::string &error);
std::string EncodeImage(ImageFormat format, std::span<const uint8_t> bytes);

// Formats whose records carry their own addresses (all but binary).
bool CarriesAddresses(ImageFormat format);
// The cells that a file of such a format names; false with `error` as
// DecodeImage, and when the file names no cell at all.
bool DecodeRuns(ImageFormat format, std::string_view data, std::size_t deviceSize, Runs &runs, std::string &error);
// `bytes` of EEPROM cells from `address` on. The text image holds whole
// words: an odd address or length is refused (false).
bool EncodeRange(ImageFormat format, uint32_t address, std::span<const uint8_t> bytes, std::string &out);

} // namespace zelprog
