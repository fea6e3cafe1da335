// Version blocks made for tests: the library's layout with the parts a case
// needs left out or changed.
#pragma once

#include "platform/version_block_posix.h"

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace crafted {

using Strings = std::vector<std::pair<std::string, std::string>>;

struct Table {
    std::string key;   // "080904b0"
    Strings strings;
};

inline std::vector<uint8_t> Translations(std::vector<uint32_t> entries) {
    std::vector<uint8_t> bytes;
    for (const uint32_t entry : entries)
        for (int b = 0; b < 4; ++b)
            bytes.push_back(static_cast<uint8_t>(entry >> (8 * b)));
    return bytes;
}

// A block with the given string tables and, unless `translation` is null,
// a translation table of those bytes.
inline std::vector<uint8_t> Block(const std::vector<Table> &tables,
                                  const std::vector<uint8_t> *translation) {
    const std::array<uint8_t, 4> fixed = {0xBD, 0x04, 0xEF, 0xFE};
    zel::platform::VersionBlockWriter writer;
    writer.OpenBinary("VS_VERSION_INFO", fixed);
    writer.OpenGroup("StringFileInfo");
    for (const Table &table : tables) {
        writer.OpenGroup(table.key);
        for (const auto &[name, value] : table.strings) {
            writer.OpenText(name, value);
            writer.Close();
        }
        writer.Close();
    }
    writer.Close();
    if (translation) {
        writer.OpenGroup("VarFileInfo");
        writer.OpenBinary("Translation", *translation);
        writer.Close();
        writer.Close();
    }
    writer.Close();
    return writer.Bytes();
}

} // namespace crafted
