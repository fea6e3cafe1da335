// Numbers and bytes as the command line writes them.
#pragma once

#include "formats/image.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelprog {

// Decimal, or hexadecimal after "0x"; nothing for other text and for values
// above `max`.
std::optional<uint64_t> ParseNumber(const std::string &text, uint64_t max = UINT64_MAX);

// Hexadecimal bytes, one a word, with or without "0x": "de", "0xAD", "7".
// Nothing when a word is not such a byte.
std::optional<Bytes> ParseHexBytes(const std::vector<std::string> &words);

} // namespace zelprog
