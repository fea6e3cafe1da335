// The three file formats of an EEPROM image and the choice between them.
#pragma once

#include "formats/image.h"

#include <optional>
#include <string>
#include <string_view>

namespace zelprog {

enum class ImageFormat { Text, Binary, IntelHex };

// "text", "bin" or "ihex" (any case); nothing for other names.
std::optional<ImageFormat> ParseFormatName(std::string_view name);

// From the file name: .bin is binary, .hex and .ihex are Intel HEX, anything
// else (and "-") is the text image.
ImageFormat FormatFromPath(std::string_view path);

const char *FormatName(ImageFormat format);

// File contents -> device-sized bytes, and back.
bool DecodeImage(ImageFormat format, std::string_view data, std::size_t deviceSize, bool pad, Bytes &bytes,
                 std::string &error);
std::string EncodeImage(ImageFormat format, std::span<const uint8_t> bytes);

} // namespace zelprog
