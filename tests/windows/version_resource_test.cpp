// zelapi.dll's version resource, read back the way the library and its hosts
// read it: through GetFileVersionInfoSizeA, GetFileVersionInfoA and
// VerQueryValueA, and walked node by node for the order of the names.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct StringEntry {
    const char *name;
    const char *value;
};

// The string table, in resource order.
const StringEntry kStrings[] = {
    {"Comments", ""},
    {"CompanyName", "zelapi developers"},
    {"FileDescription", "Serial EEPROM programming over an SPI debug link"},
    {"FileVersion", "2.1"},
    {"InternalName", "zelapi"},
    {"LegalCopyright", "Copyright (C) 2026 zelapi developers"},
    {"LegalTrademarks", ""},
    {"OriginalFilename", "zelapi.dll"},
    {"PrivateBuild", ""},
    {"ProductName", "zelapi"},
    {"ProductVersion", "2.1"},
    {"SpecialBuild", ""},
};

// zelapi.dll sits next to this program.
std::string LibraryPath() {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, length);
    return text.substr(0, text.find_last_of("\\/") + 1) + "zelapi.dll";
}

class VersionResource : public testing::Test {
protected:
    void SetUp() override {
        const std::string path = LibraryPath();
        DWORD handle = 0;
        DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
        ASSERT_GT(size, 0u) << path << " has no version information, error " << GetLastError();
        block_.resize(size);
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block_.data()));
    }

    // The value under `subBlock`, or null; `length` as the API reports it.
    void *Query(const std::string &subBlock, UINT *length) {
        void *value = nullptr;
        *length = 0;
        if (!VerQueryValueA(block_.data(), subBlock.c_str(), &value, length)) {
            return nullptr;
        }
        return value;
    }

    std::vector<uint8_t> block_;
};

TEST_F(VersionResource, HasOneTranslationUnitedKingdomUnicode) {
    UINT bytes = 0;
    auto *table = static_cast<const uint16_t *>(Query("\\VarFileInfo\\Translation", &bytes));
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(bytes, 4u);
    EXPECT_EQ(table[0], 0x0809); // language first
    EXPECT_EQ(table[1], 0x04B0); // then code page 1200
}

TEST_F(VersionResource, FixedPartCarriesVersionTwoPointOne) {
    UINT bytes = 0;
    auto *fixed = static_cast<const VS_FIXEDFILEINFO *>(Query("\\", &bytes));
    ASSERT_NE(fixed, nullptr);
    ASSERT_GE(bytes, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00020001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00020001u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
}

TEST_F(VersionResource, EveryNameReadsBackItsValue) {
    for (const StringEntry &entry : kStrings) {
        UINT length = 0;
        auto *value =
            static_cast<const char *>(Query(std::string("\\StringFileInfo\\080904B0\\") + entry.name, &length));
        if (entry.value[0] == '\0') {
            // an empty value: absent from the query or only its terminator
            EXPECT_TRUE(value == nullptr || length <= 1 || value[0] == '\0') << entry.name;
            continue;
        }
        ASSERT_NE(value, nullptr) << entry.name;
        // length in characters, with the terminating zero
        EXPECT_EQ(length, std::strlen(entry.value) + 1) << entry.name;
        EXPECT_STREQ(value, entry.value) << entry.name;
    }
}

// One node of the block: length, value length, type, UTF-16 key, value on a
// 32-bit boundary, children on a 32-bit boundary, all lengths in bytes
// except a text value's, which counts 16-bit characters.
struct Node {
    size_t offset;
    size_t end;
    std::u16string key;
    size_t children;
};

size_t Align4(size_t offset) { return (offset + 3) & ~size_t{3}; }

bool ReadNode(const std::vector<uint8_t> &block, size_t offset, Node &node) {
    auto word = [&](size_t at) { return static_cast<uint16_t>(block[at] | (block[at + 1] << 8)); };
    if (offset + 6 > block.size()) {
        return false;
    }
    const size_t length = word(offset);
    const size_t valueLength = word(offset + 2);
    const bool text = word(offset + 4) == 1;
    if (length < 6 || offset + length > block.size()) {
        return false;
    }
    node.offset = offset;
    node.end = offset + length;
    node.key.clear();
    size_t at = offset + 6;
    while (at + 1 < node.end && word(at) != 0) {
        node.key.push_back(static_cast<char16_t>(word(at)));
        at += 2;
    }
    at = Align4(at + 2);
    node.children = Align4(at + valueLength * (text ? 2 : 1));
    return true;
}

std::vector<Node> Children(const std::vector<uint8_t> &block, const Node &parent) {
    std::vector<Node> children;
    Node child;
    for (size_t at = parent.children; at < parent.end && ReadNode(block, at, child); at = Align4(child.end)) {
        children.push_back(child);
    }
    return children;
}

std::u16string Wide(const char *text) { return std::u16string(text, text + std::strlen(text)); }

TEST_F(VersionResource, StringTableHoldsTheTwelveNamesInOrder) {
    Node root;
    ASSERT_TRUE(ReadNode(block_, 0, root));
    ASSERT_EQ(root.key, u"VS_VERSION_INFO");
    std::vector<Node> tables;
    for (const Node &node : Children(block_, root)) {
        if (node.key == u"StringFileInfo") {
            tables = Children(block_, node);
        }
    }
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].key, u"080904b0");

    std::vector<std::u16string> names;
    for (const Node &entry : Children(block_, tables[0])) {
        names.push_back(entry.key);
    }
    std::vector<std::u16string> expected;
    for (const StringEntry &entry : kStrings) {
        expected.push_back(Wide(entry.name));
    }
    EXPECT_EQ(names, expected);
}

} // namespace
