// VersionInfo and zelGetVersion over crafted blocks, which the platform
// service answers with for the library's own name.
#include "platform/version_block_posix.h"
#include "version/version_info.h"
#include "zelapi.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace {

constexpr uint32_t kUnitedKingdomUnicode = 0x04B00809; // code page 0x04B0, language 0x0809

using Strings = std::vector<std::pair<std::string, std::string>>;
using Tables = std::vector<std::pair<std::string, Strings>>; // key "080904b0", its strings

// A block with the given string tables and, unless `translation` is empty,
// a translation table of those bytes.
std::vector<uint8_t> Block(const Tables &tables, const std::optional<std::vector<uint8_t>> &translation) {
    const std::array<uint8_t, 4> fixed = {0xBD, 0x04, 0xEF, 0xFE};
    zel::platform::VersionBlockWriter writer;
    writer.OpenBinary("VS_VERSION_INFO", fixed);
    writer.OpenGroup("StringFileInfo");
    for (const auto &[key, strings] : tables) {
        writer.OpenGroup(key);
        for (const auto &[name, value] : strings) {
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

const std::vector<uint8_t> kUnitedKingdom = {0x09, 0x08, 0xB0, 0x04}; // language, code page

struct ReaderCase {
    const char *name;
    Tables tables;
    std::optional<std::vector<uint8_t>> translations; // none: no VarFileInfo at all
    uint32_t translation;                             // 0: the reader is invalid
    std::map<std::string, std::string> strings;       // QueryString(translation, name)
    std::string version;                              // what zelGetVersion gives
};

void PrintTo(const ReaderCase &c, std::ostream *out) { *out << c.name; }

class VersionInfoTest : public testing::TestWithParam<ReaderCase> {
protected:
    void TearDown() override { zel::platform::InstallVersionBlock({}); }
};

TEST_P(VersionInfoTest, ReadsTranslationAndStrings) {
    const ReaderCase &c = GetParam();
    const std::vector<uint8_t> block = Block(c.tables, c.translations);
    zel::platform::InstallVersionBlock(block);

    zel::VersionInfo<std::string> info("ZelApi.dll");
    EXPECT_EQ(info.Valid(), c.translation != 0);
    if (info.Valid()) {
        EXPECT_EQ(info.Translation(), c.translation);
    }
    for (const auto &[name, value] : c.strings)
        EXPECT_EQ(info.QueryString(c.translation ? c.translation : kUnitedKingdomUnicode, name.c_str()), value)
            << name;

    char buffer[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(zelGetVersion(buffer), 1);
    EXPECT_EQ(std::string(buffer, c.version.size() + 2), c.version + '\0' + 'x');
}

const Tables kOwnStrings{{"080904b0", {{"Comments", ""}, {"FileVersion", "2.1"}, {"ProductName", "zelapi"}}}};

INSTANTIATE_TEST_SUITE_P(
    Blocks, VersionInfoTest,
    testing::Values(ReaderCase{"UpperCasePathFindsLowerCaseTable",
                               kOwnStrings,
                               kUnitedKingdom,
                               kUnitedKingdomUnicode,
                               {{"ProductName", "zelapi"}, {"fileversion", "2.1"}},
                               "2.1"},
                    ReaderCase{"ValueOfOnlyTerminatorIsEmpty",
                               {{"080904b0", {{"FileVersion", ""}}}},
                               kUnitedKingdom,
                               kUnitedKingdomUnicode,
                               {{"FileVersion", ""}},
                               ""},
                    ReaderCase{"MissingNameIsEmpty",
                               {{"080904b0", {{"ProductVersion", "2.1"}}}},
                               kUnitedKingdom,
                               kUnitedKingdomUnicode,
                               {{"FileVersio", ""}, {"ProductVersionX", ""}},
                               ""},
                    ReaderCase{"ZeroLengthTranslationTableMakesReaderInvalid",
                               kOwnStrings,
                               std::vector<uint8_t>{},
                               0,
                               {{"FileVersion", ""}, {"ProductName", ""}},
                               ""},
                    ReaderCase{"TranslationTableShorterThanOneEntry",
                               kOwnStrings,
                               std::vector<uint8_t>{0x09, 0x08},
                               0,
                               {{"FileVersion", ""}},
                               ""},
                    ReaderCase{"NoTranslationTable", kOwnStrings, std::nullopt, 0, {{"FileVersion", ""}}, ""},
                    // the path names the language first: 0407 04E4, not 04E4 0407
                    ReaderCase{"LanguageComesFirstInPath",
                               {{"04e40407", {{"FileVersion", "bad"}}}, {"040704E4", {{"FileVersion", "3.0"}}}},
                               std::vector<uint8_t>{0x07, 0x04, 0xE4, 0x04},
                               0x04E40407,
                               {},
                               "3.0"},
                    ReaderCase{"FirstOfSeveralTranslationsIsTaken",
                               {{"040904b0", {{"FileVersion", "us"}}}, {"080904b0", {{"FileVersion", "uk"}}}},
                               std::vector<uint8_t>{0x09, 0x04, 0xB0, 0x04, 0x09, 0x08, 0xB0, 0x04},
                               0x04B00409,
                               {},
                               "us"},
                    // the text is the stored length less the terminator, zeros inside included
                    ReaderCase{"ZeroInsideValueIsKept",
                               {{"080904b0",
                                 {{"FileVersion", std::string("2\0"
                                                              "1",
                                                              3)}}}},
                               kUnitedKingdom,
                               kUnitedKingdomUnicode,
                               {{"FileVersion", std::string("2\0"
                                                            "1",
                                                            3)}},
                               "2"},
                    ReaderCase{"NonAsciiCharacterReadsAsQuestionMark",
                               {{"080904b0", {{"FileVersion", "A\xe9Z"}}}},
                               kUnitedKingdom,
                               kUnitedKingdomUnicode,
                               {},
                               "A?Z"}),
    [](const testing::TestParamInfo<ReaderCase> &info) { return std::string(info.param.name); });

TEST(OwnVersionInfo, ReportsLengthsAndFixedPartAsTheWindowsApiDoes) {
    zel::VersionInfo<std::string> info("ZelApi.dll");
    ASSERT_TRUE(info.Valid());
    EXPECT_EQ(info.Translation(), kUnitedKingdomUnicode);
    unsigned count = 0;
    EXPECT_NE(info.QueryTranslations(&count), nullptr);
    EXPECT_EQ(count, 1u);
    unsigned characters = 0;
    const auto *text =
        static_cast<const char *>(info.QueryValue("\\StringFileInfo\\080904B0\\FileVersion", &characters));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(characters, 4u); // "2.1" and its terminator
    EXPECT_STREQ(text, "2.1");
    EXPECT_EQ(info.QueryValue("\\StringFileInfo", &characters), nullptr); // a group has no value
    EXPECT_EQ(characters, 0u);

    unsigned bytes = 0;
    const auto *fixed = static_cast<const uint8_t *>(info.QueryValue("\\", &bytes));
    ASSERT_NE(fixed, nullptr);
    ASSERT_EQ(bytes, 52u);
    const std::vector<uint8_t> head(fixed, fixed + 20);
    const std::vector<uint8_t> expected = {0xBD, 0x04, 0xEF, 0xFE, 0, 0, 1, 0, // signature, layout
                                           1,    0,    2,    0,    0, 0, 0, 0, // file version 2.1.0.0
                                           1,    0,    2,    0};               // product version 2.1
    EXPECT_EQ(head, expected);
}

} // namespace
