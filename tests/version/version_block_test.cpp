// The version block walker and the platform service that answers with it.
#include "platform/version_block_posix.h"
#include "platform/version_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

std::vector<uint8_t> OwnBlock() {
    const auto own = zel::platform::OwnVersionBlock();
    return {own.begin(), own.end()};
}

void PutWord(std::vector<uint8_t> &block, size_t at, uint16_t value) {
    block[at] = static_cast<uint8_t>(value);
    block[at + 1] = static_cast<uint8_t>(value >> 8);
}

// Offset of the node whose UTF-16 key begins with `key`.
size_t NodeOf(const std::vector<uint8_t> &block, const std::string &key) {
    std::vector<uint8_t> wide;
    for (const char c : key)
        wide.insert(wide.end(), {static_cast<uint8_t>(c), 0});
    return static_cast<size_t>(std::search(block.begin(), block.end(), wide.begin(), wide.end()) - block.begin()) -
           6;
}

// Cuts the block inside the key of its last group, "VarFileInfo", with the
// lengths on the way still consistent: the key has no terminator left.
void CutInsideLastKey(std::vector<uint8_t> &block) {
    const size_t varFileInfo = NodeOf(block, "VarFileInfo");
    const size_t end = varFileInfo + 6 + 2 * 6;
    block.resize(end);
    PutWord(block, 0, static_cast<uint16_t>(end));
    PutWord(block, varFileInfo, static_cast<uint16_t>(end - varFileInfo));
}

struct DamageCase {
    const char *name;
    std::function<void(std::vector<uint8_t> &)> damage;
    const char *path = "\\StringFileInfo\\080904b0\\FileVersion";
};

void PrintTo(const DamageCase &c, std::ostream *out) { *out << c.name; }

class DamagedBlockTest : public testing::TestWithParam<DamageCase> {};

TEST_P(DamagedBlockTest, ValueIsNotFound) {
    std::vector<uint8_t> damaged = OwnBlock();
    GetParam().damage(damaged);
    const std::vector<uint8_t> block(damaged); // no spare capacity past the end
    zel::platform::VersionValue value{};
    EXPECT_FALSE(zel::platform::FindVersionValue(block, GetParam().path, &value));
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedBlockTest,
    testing::Values(
        DamageCase{"TruncatedBlock", [](auto &b) { b.resize(b.size() / 2); }},
        DamageCase{"TopLengthBelowHeader", [](auto &b) { PutWord(b, 0, 4); }},
        DamageCase{"TopLengthPastBlock", [](auto &b) { PutWord(b, 0, static_cast<uint16_t>(b.size() + 4)); }},
        DamageCase{"ChildLongerThanParent", [](auto &b) { PutWord(b, NodeOf(b, "080904b0"), 0xFFF0); }},
        DamageCase{"NodeEndsInsideKey", [](auto &b) { PutWord(b, NodeOf(b, "FileVersion"), 6 + 22); }},
        DamageCase{"TextValueLongerThanNode", [](auto &b) { PutWord(b, NodeOf(b, "FileVersion") + 2, 0x7FFF); }},
        DamageCase{"ZeroLengthChild", [](auto &b) { PutWord(b, NodeOf(b, "StringFileInfo"), 0); }},
        DamageCase{"LastKeyCutShort", CutInsideLastKey, "\\VarFileInfo\\Translation"}),
    [](const testing::TestParamInfo<DamageCase> &info) { return std::string(info.param.name); });

TEST(VersionService, OwnBlockHoldsTheTwelveStringsInOrder) {
    const std::pair<const char *, const char *> strings[] = {
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
        {"SpecialBuild", ""}};
    const uint32_t size = zel::platform::VersionInfoSize("ZelApi.dll", nullptr);
    std::vector<uint8_t> data(size);
    ASSERT_NE(zel::platform::ReadVersionInfo("ZelApi.dll", 0, size, data.data()), 0);
    std::vector<const char *> texts;
    for (const auto &[name, value] : strings) {
        void *text = nullptr;
        unsigned length = 0;
        const std::string path = std::string("\\StringFileInfo\\080904b0\\") + name;
        ASSERT_NE(zel::platform::QueryVersionValue(data.data(), path.c_str(), &text, &length), 0);
        EXPECT_EQ(length, std::strlen(value) + 1) << name;
        // narrow copies lie in the order of their originals
        if (!texts.empty()) {
            EXPECT_GT(static_cast<const char *>(text), texts.back()) << name;
        }
        texts.push_back(static_cast<const char *>(text));
    }
    // every copy is still whole after all were made
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_STREQ(texts[i], strings[i].second) << strings[i].first;
}

TEST(VersionService, AnswersOnlyForTheLibrarysOwnName) {
    const std::pair<const char *, bool> names[] = {{"ZelApi.dll", true}, {"zelapi.DLL", true},
                                                   {"Other.dll", false}, {"/lib/ZelApi.dll", false},
                                                   {"", false},          {nullptr, false}};
    std::vector<uint8_t> data(4096);
    for (const auto &[name, answers] : names) {
        uint32_t handle = 7;
        EXPECT_EQ(zel::platform::VersionInfoSize(name, &handle) > 0, answers) << name;
        EXPECT_EQ(handle, 0u);
        EXPECT_EQ(zel::platform::ReadVersionInfo(name, 0, 4096, data.data()) != 0, answers) << name;
    }
}

TEST(VersionService, ReadIntoTooSmallBufferFailsAndWritesNothing) {
    const uint32_t size = zel::platform::VersionInfoSize("ZelApi.dll", nullptr);
    std::vector<uint8_t> data(size, 0xAA);
    EXPECT_EQ(zel::platform::ReadVersionInfo("ZelApi.dll", 0, size - 1, data.data()), 0);
    EXPECT_EQ(data, std::vector<uint8_t>(size, 0xAA));
}

} // namespace
