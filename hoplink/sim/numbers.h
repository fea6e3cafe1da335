// Number words of the configuration: decimal, or hexadecimal after "0x".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace hoplink::sim {

// True when `text` is a whole number no greater than `max`.
bool ParseNumber(std::string_view text, uint64_t max, uint64_t &value);

// True when `text` is a decimal integer, with an optional minus sign, that fits an int.
bool ParseDecimalInt(std::string_view text, int &value);

// `text` in single quotes for an error line: bytes outside printable ASCII
// appear as \xNN, so the line stays one line whatever the input held.
std::string Quoted(std::string_view text);

} // namespace hoplink::sim
