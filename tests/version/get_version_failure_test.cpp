// zelGetVersion when the version information cannot be had: an empty text,
// and still result 1.
#include "crafted_blocks.h"

#include "zelapi.h"

#include <gtest/gtest.h>

namespace {

struct FailureCase {
    const char *name;
    std::vector<uint8_t> block;
};

void PrintTo(const FailureCase &c, std::ostream *out) { *out << c.name; }

class GetVersionFailureTest : public testing::TestWithParam<FailureCase> {
protected:
    void TearDown() override { zel::platform::InstallVersionBlock({}); }
};

TEST_P(GetVersionFailureTest, GivesEmptyTextAndOne) {
    zel::platform::InstallVersionBlock(GetParam().block);
    char buffer[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(zelGetVersion(buffer), 1);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'x');
}

const std::vector<uint8_t> kUnitedKingdom = crafted::Translations({0x04B00809});
const std::vector<uint8_t> kNoEntries;

INSTANTIATE_TEST_SUITE_P(Blocks, GetVersionFailureTest, testing::Values(
    FailureCase{"BlockWithBadLength", {0xFF, 0xFF, 0, 0, 0, 0, 0, 0}},
    FailureCase{"NoTranslation", crafted::Block({{"080904b0", {{"FileVersion", "2.1"}}}}, &kNoEntries)},
    FailureCase{"NoFileVersion", crafted::Block({{"080904b0", {{"ProductVersion", "2.1"}}}}, &kUnitedKingdom)},
    FailureCase{"FileVersionOnlyTerminator", crafted::Block({{"080904b0", {{"FileVersion", ""}}}}, &kUnitedKingdom)}),
    [](const testing::TestParamInfo<FailureCase> &info) { return std::string(info.param.name); });

} // namespace
