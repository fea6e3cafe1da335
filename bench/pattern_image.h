// The image the job benchmarks write: a text image of a 32 KiB part in
// which no byte is erased, so that every byte of a program is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace zelbench {

constexpr int kPatternSizeBits = 15;
constexpr std::size_t kPatternBytes = std::size_t{1} << kPatternSizeBits;

// A file of the benchmark `prefix` in the temporary folder.
inline std::string BenchPath(const char *prefix, const char *name) {
    return (std::filesystem::temp_directory_path() / (std::string(prefix) + name)).string();
}

// Low bytes 0x00..0x7f and high bytes 0x5a: no byte is erased (0xff).
inline uint16_t PatternWord(std::size_t index) { return static_cast<uint16_t>(0x5A00 | (index & 0x7F)); }

inline bool WritePatternFile(const std::string &path) {
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    for (std::size_t i = 0; i < kPatternBytes / 2; ++i) {
        std::fprintf(file, "@%04zx  %04x\n", i, static_cast<unsigned>(PatternWord(i)));
    }
    return std::fclose(file) == 0;
}

} // namespace zelbench
