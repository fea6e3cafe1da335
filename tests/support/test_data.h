// Data the suites make and files they read back, one copy for all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace zeltest {

// The same `n` bytes for the same seed; none is the erased value 0xFF, so
// that writing them changes every cell of an erased EEPROM.
inline std::vector<uint8_t> RandomBytes(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(n);
    for (uint8_t &b : bytes)
        b = static_cast<uint8_t>(random() % 0xFF);
    return bytes;
}

// The whole contents of a file, "" when it cannot be read: byte for byte, or
// with `std::ios::in` as a text file (with Windows' line-end translation, as
// the library's reader sees it).
inline std::string ReadFile(const std::filesystem::path &path, std::ios::openmode mode = std::ios::binary) {
    std::ifstream in(path, mode);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace zeltest
