// Number words of the configuration: decimal, or hexadecimal after "0x".
#pragma once

#include <cstdint>
#include <string_view>

namespace hoplink::sim {

// True when `text` is a whole number no greater than `max`.
bool ParseNumber(std::string_view text, uint64_t max, uint64_t &value);

// True when `text` is a decimal integer, with an optional minus sign, that fits an int.
bool ParseDecimalInt(std::string_view text, int &value);

} // namespace hoplink::sim
