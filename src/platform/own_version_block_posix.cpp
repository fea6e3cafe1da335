// The library's own version block: the same fixed part, translation and
// twelve strings as the Windows version resource, laid out at compile time.
#include "platform/version_block_posix.h"

#include "platform/version_texts.h"

#include <array>

namespace zel::platform {
namespace {

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr uint32_t kFixedStructVersion = 0x00010000;
constexpr uint32_t kFlagsMask = 0x3F;
constexpr uint32_t kOsNtWindows32 = 0x00040004;
constexpr uint32_t kTypeDll = 2;
// the project version has two parts: 2.1 is file version 2.1.0.0
constexpr uint32_t kVersionHigh = ZEL_VERSION_MAJOR << 16 | ZEL_VERSION_MINOR;
constexpr uint32_t kVersionLow = 0;

// English (United Kingdom), code page 1200 (UTF-16)
constexpr uint16_t kLanguage = 0x0809;
constexpr uint16_t kCodePage = 0x04B0;

// The string table's key: language and code page as eight lower-case hex digits.
constexpr std::array<char, 8> kTableKey = [] {
    constexpr uint32_t both = uint32_t{kLanguage} << 16 | kCodePage;
    std::array<char, 8> key{};
    for (size_t i = 0; i < key.size(); ++i)
        key[i] = "0123456789abcdef"[both >> (28 - 4 * i) & 0xF];
    return key;
}();

struct StringEntry {
    std::string_view name;
    std::string_view value;
};

constexpr StringEntry kStrings[] = {
    {"Comments", ""},
    {"CompanyName", "zelapi developers"},
    {"FileDescription", ZEL_FILE_DESCRIPTION},
    {"FileVersion", ZEL_VERSION_TEXT},
    {"InternalName", "zelapi"},
    {"LegalCopyright", "Copyright (C) 2026 zelapi developers"},
    {"LegalTrademarks", ""},
    {"OriginalFilename", "zelapi.dll"},
    {"PrivateBuild", ""},
    {"ProductName", "zelapi"},
    {"ProductVersion", ZEL_VERSION_TEXT},
    {"SpecialBuild", ""},
};

template <size_t N> constexpr std::array<uint8_t, 4 * N> LittleEndian(const std::array<uint32_t, N> &words) {
    std::array<uint8_t, 4 * N> bytes{};
    for (size_t i = 0; i < N; ++i)
        for (size_t b = 0; b < 4; ++b)
            bytes[4 * i + b] = static_cast<uint8_t>(words[i] >> (8 * b));
    return bytes;
}

// VS_FIXEDFILEINFO: signature, structure version, file version (high, low),
// product version (high, low), flags mask, flags, OS, type, subtype, date.
constexpr auto kFixedInfo = LittleEndian(
    std::array<uint32_t, 13>{kFixedSignature, kFixedStructVersion, kVersionHigh, kVersionLow, kVersionHigh,
                             kVersionLow, kFlagsMask, 0, kOsNtWindows32, kTypeDll, 0, 0, 0});

constexpr auto kTranslation = LittleEndian(std::array<uint32_t, 1>{uint32_t{kCodePage} << 16 | kLanguage});

constexpr std::vector<uint8_t> LayOut() {
    VersionBlockWriter writer;
    writer.OpenBinary("VS_VERSION_INFO", kFixedInfo);
    writer.OpenGroup("StringFileInfo");
    writer.OpenGroup({kTableKey.data(), kTableKey.size()});
    for (const StringEntry &entry : kStrings) {
        writer.OpenText(entry.name, entry.value);
        writer.Close();
    }
    writer.Close();
    writer.Close();
    writer.OpenGroup("VarFileInfo");
    writer.OpenBinary("Translation", kTranslation);
    writer.Close();
    writer.Close();
    writer.Close();
    return writer.Bytes();
}

constexpr size_t kBlockSize = LayOut().size();

constexpr std::array<uint8_t, kBlockSize> kBlock = [] {
    std::array<uint8_t, kBlockSize> block{};
    const std::vector<uint8_t> bytes = LayOut();
    for (size_t i = 0; i < kBlockSize; ++i)
        block[i] = bytes[i];
    return block;
}();

static_assert(kBlockSize < 0x10000, "a node's length has 16 bits");

} // namespace

std::span<const uint8_t> OwnVersionBlock() { return kBlock; }

} // namespace zel::platform
