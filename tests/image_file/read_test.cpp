#include "image_file_fixture.h"

#include "jobs/image_file.h"

#include <map>
#include <optional>

namespace {

struct TokenCase {
    const char *text;
    uint32_t value;
    std::optional<size_t> next;   // offset of the returned position; none: failure
};

void PrintTo(const TokenCase &c, std::ostream *out) { *out << testing::PrintToString(c.text); }

class HexTokenTest : public testing::TestWithParam<TokenCase> {};

TEST_P(HexTokenTest, ReadsValueAndNextPosition) {
    const TokenCase &c = GetParam();
    uint32_t value = 0xDEADBEEF;
    const char *next = zel::ReadHexToken(c.text, &value);
    EXPECT_EQ(value, c.value);
    if (c.next) {
        ASSERT_NE(next, nullptr);
        EXPECT_EQ(static_cast<size_t>(next - c.text), *c.next);
    } else {
        EXPECT_EQ(next, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Tokens, HexTokenTest, testing::Values(
    TokenCase{"", 0, 0},                    // empty token reads as 0 at the NUL
    TokenCase{" \t", 0, 2},
    TokenCase{"1f 7", 0x1f, 3},             // just past the blank that ended it
    TokenCase{"1F\t2", 0x1f, 3},
    TokenCase{" \r\nAb", 0xab, 5},          // CR counts as white space
    TokenCase{"123456789", 0x23456789, 9},  // only the last eight digits stay
    TokenCase{"12x4", 0x12, std::nullopt},  // digits before the bad character stay
    TokenCase{"g", 0, std::nullopt},
    TokenCase{"12:34", 0x12, std::nullopt},
    TokenCase{"\xe9", 0, std::nullopt}));   // bytes outside ASCII are no digits

struct ReadCase {
    const char *name;
    std::string file;
    uint32_t length;                       // image length in bytes
    bool result;
    std::map<uint32_t, uint16_t> stored;   // every other word stays erased
};

void PrintTo(const ReadCase &c, std::ostream *out) { *out << c.name; }

class ReadImageTest : public ImageFileTest, public testing::WithParamInterface<ReadCase> {};

TEST_P(ReadImageTest, StoresNamedWordsOnly) {
    const ReadCase &c = GetParam();
    const std::string path = WriteBytes("in.hex", c.file);
    std::vector<uint16_t> image = Erased(c.length / 2 + 1);   // one guard word past the end
    std::vector<uint16_t> expected = image;
    for (const auto &[index, value] : c.stored)
        expected[index] = value;

    EXPECT_EQ(zel::ReadImageFile(path.c_str(), image.data(), c.length), c.result);
    EXPECT_EQ(image, expected);
}

std::string Padded(std::string text, size_t width) {
    text.resize(width, ' ');
    return text;
}

INSTANTIATE_TEST_SUITE_P(Records, ReadImageTest, testing::Values(
    ReadCase{"ShortRecord", "@3 7\n", 256, true, {{3, 0x0007}}},
    ReadCase{"CapitalDigits", "@00A0  C3A5\n", 512, true, {{0xa0, 0xc3a5}}},
    ReadCase{"FiveDigitValueKeepsLastFour", "@0002  12345\n", 256, true, {{2, 0x2345}}},
    ReadCase{"BadValueCharacterKeepsDigitsBefore", "@0002  12x4\n", 256, true, {{2, 0x0012}}},
    ReadCase{"MissingValueIsZero", "@0002\n", 256, true, {{2, 0}}},
    ReadCase{"MissingValueAtEndOfFile", "@0002", 256, true, {{2, 0}}},
    ReadCase{"AtAloneStoresZeroInWordZero", "@\n", 256, true, {{0, 0}}},
    ReadCase{"LeadingBlankLineIgnored", " @0002  1234\n", 256, true, {}},
    ReadCase{"CommentLineIgnored", "# @0002 1234\n\nsome text\n", 256, true, {}},
    ReadCase{"EmptyFile", "", 256, true, {}},
    ReadCase{"TabsAndBlanksBetweenTokens", "@  4\t\tbeef  \n", 256, true, {{4, 0xbeef}}},
    ReadCase{"CarriageReturnLineEnd", "@0001  00ff\r\n@0002  0102\r\n", 256, true,
             {{1, 0x00ff}, {2, 0x0102}}},
    ReadCase{"LastWordAccepted", "@007f  1234\n", 256, true, {{0x7f, 0x1234}}},
    ReadCase{"IndexPastImageFailsAfterEarlierStores", "@0001  1111\n@0080  1234\n@0002  2222\n",
             256, false, {{1, 0x1111}}},
    ReadCase{"OddLengthDropsHalfWord", "@0003  1234\n", 7, false, {}},
    ReadCase{"NineDigitIndexKeepsLastEight", "@100000001  abcd\n", 256, true, {{1, 0xabcd}}},
    ReadCase{"LaterDuplicateWins", "@0005  1111\n@0006  6666\n@0005  2222\n", 256, true,
             {{5, 0x2222}, {6, 0x6666}}},
    ReadCase{"BadIndexCharacterFails", "@0001  1111\n@12:34\n@0002  2222\n", 256, false,
             {{1, 0x1111}}},
    ReadCase{"NonAsciiIndexFails", "@\xb5" "1  1111\n", 256, false, {}},
    // 150 characters: the first 98 are one record (its value cut at "12"),
    // the remaining 52 begin with "34" and are no record
    ReadCase{"LongLineSplitAtNinetyEight", Padded("@0003", 96) + Padded("1234", 54) + "\n", 256,
             true, {{3, 0x0012}}},
    ReadCase{"LongLineRemainderStartingWithAtIsRecord",
             Padded("@0001  1111", 98) + Padded("@0004  4444", 52) + "\n", 256, true,
             {{1, 0x1111}, {4, 0x4444}}}),
    [](const testing::TestParamInfo<ReadCase> &info) { return std::string(info.param.name); });

TEST_F(ImageFileTest, UnreadablePathsFailAndLeaveImage) {
    const std::string missing = PathOf("absent.hex");
    std::vector<uint16_t> image = Erased(4);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(zel::ReadImageFile(missing.c_str(), image.data(), 8));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Couldn't open '" + missing + "' for input\n");
    // a folder: POSIX opens it and then fails the read
    testing::internal::CaptureStdout();
    EXPECT_FALSE(zel::ReadImageFile(folder_.string().c_str(), image.data(), 8));
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(zel::ReadImageFile(nullptr, image.data(), 8));
    EXPECT_EQ(image, Erased(4));
}

} // namespace
