// SHA-256 of a byte string, for the unit records' image digest.
#pragma once

#include <string>
#include <string_view>

namespace zelprog {

// 64 lower-case hex digits.
std::string Sha256Hex(std::string_view data);

} // namespace zelprog
