// VersionInfo over crafted blocks, which the platform service answers with
// for the library's own name.
#include "crafted_blocks.h"

#include "version/version_info.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace {

constexpr uint32_t kUnitedKingdomUnicode = 0x04B00809;   // code page 0x04B0, language 0x0809

struct ReaderCase {
    const char *name;
    std::vector<crafted::Table> tables;
    std::optional<std::vector<uint32_t>> translations;   // none: no VarFileInfo at all
    bool valid;
    uint32_t translation;
    std::map<std::string, std::string> strings;   // QueryString(translation, name)
};

void PrintTo(const ReaderCase &c, std::ostream *out) { *out << c.name; }

class VersionInfoTest : public testing::TestWithParam<ReaderCase> {
protected:
    void TearDown() override { zel::platform::InstallVersionBlock({}); }
};

TEST_P(VersionInfoTest, ReadsTranslationAndStrings) {
    const ReaderCase &c = GetParam();
    std::optional<std::vector<uint8_t>> table;
    if (c.translations)
        table = crafted::Translations(*c.translations);
    const std::vector<uint8_t> block = crafted::Block(c.tables, table ? &*table : nullptr);
    zel::platform::InstallVersionBlock(block);

    zel::VersionInfo<std::string> info("ZelApi.dll");
    EXPECT_EQ(info.Valid(), c.valid);
    EXPECT_GE(info.InfoSize(), block.size());
    if (c.valid) {
        EXPECT_EQ(info.Translation(), c.translation);
    }
    for (const auto &[name, value] : c.strings)
        EXPECT_EQ(info.QueryString(c.translation, name.c_str()), value) << name;
}

const crafted::Table kOwnStrings{"080904b0", {{"Comments", ""}, {"FileVersion", "2.1"},
                                              {"ProductName", "zelapi"}}};

INSTANTIATE_TEST_SUITE_P(Blocks, VersionInfoTest, testing::Values(
    ReaderCase{"UpperCasePathFindsLowerCaseTable", {kOwnStrings},
               std::vector<uint32_t>{kUnitedKingdomUnicode}, true, kUnitedKingdomUnicode,
               {{"FileVersion", "2.1"}, {"ProductName", "zelapi"}, {"fileversion", "2.1"}}},
    ReaderCase{"ValueOfOnlyTerminatorIsEmpty", {kOwnStrings},
               std::vector<uint32_t>{kUnitedKingdomUnicode}, true, kUnitedKingdomUnicode,
               {{"Comments", ""}}},
    ReaderCase{"MissingNameIsEmpty", {kOwnStrings},
               std::vector<uint32_t>{kUnitedKingdomUnicode}, true, kUnitedKingdomUnicode,
               {{"SpecialBuild", ""}, {"FileVersio", ""}, {"FileVersionX", ""}}},
    ReaderCase{"ZeroLengthTranslationTableMakesReaderInvalid", {kOwnStrings},
               std::vector<uint32_t>{}, false, kUnitedKingdomUnicode,
               {{"FileVersion", ""}, {"ProductName", ""}}},
    ReaderCase{"NoTranslationTableMakesReaderInvalid", {kOwnStrings}, std::nullopt, false,
               kUnitedKingdomUnicode, {{"FileVersion", ""}}},
    // the path names the language first: 0407 04E4, not 04E4 0407
    ReaderCase{"LanguageComesFirstInPath",
               {{"04e40407", {{"FileVersion", "swapped"}}}, {"040704E4", {{"FileVersion", "3.0"}}}},
               std::vector<uint32_t>{0x04E40407}, true, 0x04E40407, {{"FileVersion", "3.0"}}},
    ReaderCase{"FirstOfSeveralTranslationsIsTaken",
               {{"040904b0", {{"FileVersion", "us"}}}, {"080904b0", {{"FileVersion", "uk"}}}},
               std::vector<uint32_t>{0x04B00409, kUnitedKingdomUnicode}, true, 0x04B00409,
               {{"FileVersion", "us"}}},
    // the text is the stored length less the terminator, zeros inside included
    ReaderCase{"ZeroInsideValueIsKept", {{"080904b0", {{"FileVersion", std::string("2\0" "1", 3)}}}},
               std::vector<uint32_t>{kUnitedKingdomUnicode}, true, kUnitedKingdomUnicode,
               {{"FileVersion", std::string("2\0" "1", 3)}}},
    ReaderCase{"NonAsciiCharacterReadsAsQuestionMark", {{"080904b0", {{"CompanyName", "A\xe9Z"}}}},
               std::vector<uint32_t>{kUnitedKingdomUnicode}, true, kUnitedKingdomUnicode,
               {{"CompanyName", "A?Z"}}}),
    [](const testing::TestParamInfo<ReaderCase> &info) { return std::string(info.param.name); });

TEST(VersionInfoTranslations, TableShorterThanOneEntryMakesReaderInvalid) {
    const std::vector<uint8_t> halfEntry = {0x09, 0x08};
    const std::vector<uint8_t> block = crafted::Block({kOwnStrings}, &halfEntry);
    zel::platform::InstallVersionBlock(block);
    zel::VersionInfo<std::string> info("ZelApi.dll");
    zel::platform::InstallVersionBlock({});
    EXPECT_FALSE(info.Valid());
    EXPECT_EQ(info.GetFileVersion(), "");
}

class OwnVersionInfo : public testing::Test {
protected:
    zel::VersionInfo<std::string> info{"ZelApi.dll"};
};

TEST_F(OwnVersionInfo, UnitedKingdomUnicodeWithVersionTwoPointOne) {
    ASSERT_TRUE(info.Valid());
    EXPECT_EQ(info.Translation(), kUnitedKingdomUnicode);
    EXPECT_EQ(info.GetFileVersion(), "2.1");
    EXPECT_EQ(info.QueryString(info.Translation(), "ProductVersion"), "2.1");
    EXPECT_EQ(info.QueryString(info.Translation(), "OriginalFilename"), "zelapi.dll");
    EXPECT_EQ(info.QueryString(info.Translation(), "FileDescription"),
              "Serial EEPROM programming over an SPI debug link");
}

TEST_F(OwnVersionInfo, ReportsLengthsAsTheWindowsApiDoes) {
    unsigned count = 0;
    ASSERT_NE(info.QueryTranslations(&count), nullptr);
    EXPECT_EQ(count, 1u);
    unsigned bytes = 0;
    EXPECT_NE(info.QueryValue("\\VarFileInfo\\Translation", &bytes), nullptr);
    EXPECT_EQ(bytes, 4u);
    unsigned characters = 0;
    const auto *text = static_cast<const char *>(
        info.QueryValue("\\StringFileInfo\\080904B0\\FileVersion", &characters));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(characters, 4u);   // "2.1" and its terminator
    EXPECT_STREQ(text, "2.1");
}

TEST_F(OwnVersionInfo, FixedPartCarriesSignatureAndVersion) {
    unsigned bytes = 0;
    const auto *fixed = static_cast<const uint8_t *>(info.QueryValue("\\", &bytes));
    ASSERT_NE(fixed, nullptr);
    ASSERT_EQ(bytes, 52u);
    auto dword = [&](int i) {
        return static_cast<uint32_t>(fixed[4 * i] | fixed[4 * i + 1] << 8 | fixed[4 * i + 2] << 16 |
                                     static_cast<uint32_t>(fixed[4 * i + 3]) << 24);
    };
    EXPECT_EQ(dword(0), 0xFEEF04BDu);
    EXPECT_EQ(dword(2), 0x00020001u);   // file version 2.1
    EXPECT_EQ(dword(3), 0u);            // .0.0
    EXPECT_EQ(dword(4), 0x00020001u);   // product version 2.1
}

TEST_F(OwnVersionInfo, NullAndUnknownPathsGiveNothing) {
    unsigned length = 99;
    EXPECT_EQ(info.QueryValue(nullptr, &length), nullptr);
    EXPECT_EQ(length, 0u);
    length = 99;
    EXPECT_EQ(info.QueryValue("\\StringFileInfo", &length), nullptr);   // a group has no value
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(info.QueryString(info.Translation(), nullptr), "");
}

} // namespace
