#include "image_file_fixture.h"

#include "jobs/image_file.h"

namespace {

std::vector<uint16_t> Pattern(size_t words) {
    std::vector<uint16_t> image(words);
    for (size_t i = 0; i < words; ++i)
        image[i] = static_cast<uint16_t>(i * 0x9E37u ^ 0x5A5Au);
    return image;
}

struct RoundTripCase {
    const char *name;
    uint32_t length;   // bytes
};

void PrintTo(const RoundTripCase &c, std::ostream *out) { *out << c.name; }

class RoundTripTest : public ImageFileTest, public testing::WithParamInterface<RoundTripCase> {};

TEST_P(RoundTripTest, ReadBackGivesSameWords) {
    const uint32_t words = GetParam().length / 2;
    const std::vector<uint16_t> written = Pattern(words);
    const std::string path = PathOf("image.hex");
    ASSERT_TRUE(zel::WriteImageFile(path.c_str(), written.data(), GetParam().length));

    std::vector<uint16_t> read = Erased(words);
    ASSERT_TRUE(zel::ReadImageFile(path.c_str(), read.data(), GetParam().length));
    EXPECT_EQ(read, written);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RoundTripTest, testing::Values(
    RoundTripCase{"OneWord", 2},
    RoundTripCase{"Small", 256},
    RoundTripCase{"IndexesBeyondFourDigits", 0x20004}),
    [](const testing::TestParamInfo<RoundTripCase> &info) { return std::string(info.param.name); });

TEST_F(ImageFileTest, WritesOneLowercaseRecordPerWholeWord) {
    const std::vector<uint16_t> image = {0x0000, 0xABCD, 0x00FF, 0x1234};
    const std::string path = PathOf("out.hex");
    ASSERT_TRUE(zel::WriteImageFile(path.c_str(), image.data(), 7));   // the odd byte is dropped
    EXPECT_EQ(ReadText(path), "@0000  0000\n@0001  abcd\n@0002  00ff\n");
}

TEST_F(ImageFileTest, IndexWidensPastFourDigits) {
    std::vector<uint16_t> image(0x10001, 0xBEEF);
    const std::string path = PathOf("wide.hex");
    ASSERT_TRUE(zel::WriteImageFile(path.c_str(), image.data(), 0x10001 * 2));
    const std::string text = ReadText(path);
    EXPECT_EQ(text.substr(text.size() - 13), "@10000  beef\n");
}

TEST_F(ImageFileTest, EmptyImageGivesEmptyFile) {
    const std::string path = WriteBytes("out.hex", "old contents\n");
    ASSERT_TRUE(zel::WriteImageFile(path.c_str(), nullptr, 0));
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST_F(ImageFileTest, ReplacesLongerContentsAndLeavesNoOtherFile) {
    const std::string path = WriteBytes("out.hex", std::string(10000, '#') + "\n");
    const std::vector<uint16_t> image = {0x0102, 0x0304};
    ASSERT_TRUE(zel::WriteImageFile(path.c_str(), image.data(), 4));
    EXPECT_EQ(ReadText(path), "@0000  0102\n@0001  0304\n");
    size_t files = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(folder_))
        ++files;
    EXPECT_EQ(files, 1u);
}

TEST_F(ImageFileTest, UnopenablePathIsReportedWithCallersPath) {
    const std::string path = PathOf("no-such-folder/out.hex");
    const std::vector<uint16_t> image = {0x0102};

    testing::internal::CaptureStdout();
    const bool written = zel::WriteImageFile(path.c_str(), image.data(), 2);
    const std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_FALSE(written);
    EXPECT_EQ(printed, "Couldn't open '" + path + "' for output\n");
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ImageFileTest, FolderAsTargetFailsAndStaysFolder) {
    const std::string path = PathOf("sub");
    std::filesystem::create_directory(path);
    const std::vector<uint16_t> image = {0x0102};

    testing::internal::CaptureStdout();
    const bool written = zel::WriteImageFile(path.c_str(), image.data(), 2);
    const std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_FALSE(written);
    EXPECT_EQ(printed, "Couldn't open '" + path + "' for output\n");
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

} // namespace
