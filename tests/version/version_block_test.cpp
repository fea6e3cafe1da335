// The version block walker and the platform service that answers with it.
#include "crafted_blocks.h"

#include "platform/version_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

using zel::platform::FindVersionValue;
using zel::platform::VersionValue;

std::vector<uint8_t> OwnBlock() {
    const auto own = zel::platform::OwnVersionBlock();
    return {own.begin(), own.end()};
}

void PutWord(std::vector<uint8_t> &block, size_t at, uint16_t value) {
    block[at] = static_cast<uint8_t>(value);
    block[at + 1] = static_cast<uint8_t>(value >> 8);
}

// Offset of the first node whose key is `key` (searching the UTF-16 text).
size_t NodeOf(const std::vector<uint8_t> &block, const std::string &key) {
    std::vector<uint8_t> wide;
    for (const char c : key) {
        wide.push_back(static_cast<uint8_t>(c));
        wide.push_back(0);
    }
    const auto at = std::search(block.begin(), block.end(), wide.begin(), wide.end());
    return static_cast<size_t>(at - block.begin()) - 6;
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
    const std::vector<uint8_t> block(damaged);   // no spare capacity past the end
    VersionValue value{};
    EXPECT_FALSE(FindVersionValue(block, GetParam().path, &value));
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

INSTANTIATE_TEST_SUITE_P(Damage, DamagedBlockTest, testing::Values(
    DamageCase{"TruncatedBlock", [](auto &b) { b.resize(b.size() / 2); }},
    DamageCase{"TopLengthBelowHeader", [](auto &b) { PutWord(b, 0, 4); }},
    DamageCase{"TopLengthPastBlock", [](auto &b) { PutWord(b, 0, static_cast<uint16_t>(b.size() + 4)); }},
    DamageCase{"ChildLongerThanParent",
               [](auto &b) { PutWord(b, NodeOf(b, "080904b0"), 0xFFF0); }},
    DamageCase{"KeyWithoutTerminator",
               [](auto &b) {
                   const size_t node = NodeOf(b, "FileVersion");
                   PutWord(b, node, 6 + 22);   // the node ends inside its key
               }},
    DamageCase{"TextValueLongerThanNode",
               [](auto &b) { PutWord(b, NodeOf(b, "FileVersion") + 2, 0x7FFF); }},
    DamageCase{"ZeroLengthChild", [](auto &b) { PutWord(b, NodeOf(b, "StringFileInfo"), 0); }},
    DamageCase{"LastKeyCutShort", CutInsideLastKey, "\\VarFileInfo\\Translation"}),
    [](const testing::TestParamInfo<DamageCase> &info) { return std::string(info.param.name); });

struct PathCase {
    const char *path;
    bool found;
    unsigned length;
    bool text;
};

void PrintTo(const PathCase &c, std::ostream *out) { *out << c.path; }

class BlockPathTest : public testing::TestWithParam<PathCase> {};

TEST_P(BlockPathTest, FindsValueByPath) {
    const PathCase &c = GetParam();
    VersionValue value{};
    ASSERT_EQ(FindVersionValue(OwnBlock(), c.path, &value), c.found);
    if (c.found) {
        EXPECT_EQ(value.length, c.length);
        EXPECT_EQ(value.text, c.text);
        EXPECT_EQ(value.offset % 4, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, BlockPathTest, testing::Values(
    PathCase{"\\", true, 52, false},
    PathCase{"", true, 52, false},
    PathCase{"\\VarFileInfo\\Translation", true, 4, false},
    PathCase{"\\varfileinfo\\TRANSLATION", true, 4, false},
    PathCase{"\\StringFileInfo\\080904B0\\FileVersion", true, 4, true},
    PathCase{"\\StringFileInfo\\080904B0\\LegalCopyright", true, 37, true},
    PathCase{"\\StringFileInfo\\080904B0\\Comments", true, 1, true},
    PathCase{"\\StringFileInfo\\080904B0\\SpecialBuild", true, 1, true},
    PathCase{"\\StringFileInfo\\040904B0\\FileVersion", false, 0, false},
    PathCase{"\\StringFileInfo\\080904B0\\FileVersion\\More", false, 0, false},
    PathCase{"\\Translation", false, 0, false}));

TEST(OwnVersionBlock, StringTableHoldsTwelveNamesInOrder) {
    const std::vector<uint8_t> block = OwnBlock();
    const char *names[] = {"Comments", "CompanyName", "FileDescription", "FileVersion",
                           "InternalName", "LegalCopyright", "LegalTrademarks",
                           "OriginalFilename", "PrivateBuild", "ProductName", "ProductVersion",
                           "SpecialBuild"};
    size_t previous = 0;
    for (const char *name : names) {
        VersionValue value{};
        ASSERT_TRUE(FindVersionValue(block, (std::string("\\StringFileInfo\\080904b0\\") + name).c_str(),
                                     &value))
            << name;
        EXPECT_GT(value.offset, previous) << name;
        previous = value.offset;
    }
}

struct ServiceCase {
    const char *fileName;
    bool answers;
};

void PrintTo(const ServiceCase &c, std::ostream *out) { *out << c.fileName; }

class VersionServiceTest : public testing::TestWithParam<ServiceCase> {};

TEST_P(VersionServiceTest, AnswersOnlyForTheLibrarysOwnName) {
    uint32_t handle = 7;
    const uint32_t size = zel::platform::VersionInfoSize(GetParam().fileName, &handle);
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(size > 0, GetParam().answers);
    std::vector<uint8_t> data(4096);
    EXPECT_EQ(zel::platform::ReadVersionInfo(GetParam().fileName, 0, 4096, data.data()) != 0,
              GetParam().answers);
}

INSTANTIATE_TEST_SUITE_P(Names, VersionServiceTest, testing::Values(
    ServiceCase{"ZelApi.dll", true},
    ServiceCase{"zelapi.DLL", true},
    ServiceCase{"Other.dll", false},
    ServiceCase{"ZelApi.dl", false},
    ServiceCase{"/lib/ZelApi.dll", false},
    ServiceCase{"", false}),
    [](const testing::TestParamInfo<ServiceCase> &info) { return "Name" + std::to_string(info.index); });

TEST(VersionService, NullNameHasNoInformation) {
    EXPECT_EQ(zel::platform::VersionInfoSize(nullptr, nullptr), 0u);
}

TEST(VersionService, ReadIntoTooSmallBufferFailsAndWritesNothing) {
    const uint32_t size = zel::platform::VersionInfoSize("ZelApi.dll", nullptr);
    std::vector<uint8_t> data(size, 0xAA);
    EXPECT_EQ(zel::platform::ReadVersionInfo("ZelApi.dll", 0, size - 1, data.data()), 0);
    EXPECT_EQ(data, std::vector<uint8_t>(size, 0xAA));
}

TEST(VersionService, NarrowTextsOfDifferentValuesDoNotOverlap) {
    const std::pair<const char *, const char *> strings[] = {
        {"CompanyName", "zelapi developers"},
        {"FileDescription", "Serial EEPROM programming over an SPI debug link"},
        {"FileVersion", "2.1"},
        {"LegalCopyright", "Copyright (C) 2026 zelapi developers"},
        {"LegalTrademarks", ""},
        {"OriginalFilename", "zelapi.dll"},
        {"ProductName", "zelapi"},
        {"ProductVersion", "2.1"}};
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
        texts.push_back(static_cast<const char *>(text));
    }
    // every copy is still whole after all were made
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_STREQ(texts[i], strings[i].second) << strings[i].first;
}

class BadStoredLengthTest : public testing::TestWithParam<int> {
protected:
    void TearDown() override { zel::platform::InstallVersionBlock({}); }
};

TEST_P(BadStoredLengthTest, InstalledBlockHasNoInformation) {
    std::vector<uint8_t> block = OwnBlock();
    PutWord(block, 0, static_cast<uint16_t>(static_cast<int>(block.size()) + GetParam()));
    zel::platform::InstallVersionBlock(block);
    EXPECT_EQ(zel::platform::VersionInfoSize("ZelApi.dll", nullptr), 0u);
    zel::platform::InstallVersionBlock({});
    EXPECT_GT(zel::platform::VersionInfoSize("ZelApi.dll", nullptr), 0u);
}

// stored length one past the bytes, or below a node header (4 and 0 bytes)
INSTANTIATE_TEST_SUITE_P(Lengths, BadStoredLengthTest,
                         testing::Values(1, 4 - static_cast<int>(OwnBlock().size()),
                                         -static_cast<int>(OwnBlock().size())));

} // namespace
