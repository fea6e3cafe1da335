#include "image_file_fixture.h"

#include "jobs/image_file.h"

namespace {

TEST_F(ImageFileTest, ReadBackGivesSameWords) {
    // one word, and indexes past four hex digits
    for (const uint32_t length : {2u, 0x20004u}) {
        std::vector<uint16_t> written(length / 2);
        for (size_t i = 0; i < written.size(); ++i)
            written[i] = static_cast<uint16_t>(i * 0x9E37u ^ 0x5A5Au);
        const std::string path = PathOf("image.hex");
        ASSERT_TRUE(zel::WriteImageFile(path.c_str(), written.data(), length));
        std::vector<uint16_t> read = Erased(written.size());
        ASSERT_TRUE(zel::ReadImageFile(path.c_str(), read.data(), length));
        EXPECT_EQ(read, written) << length;
    }
}

TEST_F(ImageFileTest, WritesOneLowercaseRecordPerWholeWord) {
    const std::vector<uint16_t> image = {0x0000, 0xABCD, 0x00FF, 0x1234};
    const std::string path = PathOf("out.hex");
    ASSERT_TRUE(zel::WriteImageFile(path.c_str(), image.data(), 7)); // the odd byte is dropped
    EXPECT_EQ(ReadText(path), "@0000  0000\n@0001  abcd\n@0002  00ff\n");
}

TEST_F(ImageFileTest, EmptyImageGivesEmptyFile) {
    const std::string path = WriteBytes("out.hex", "old contents\n");
    ASSERT_TRUE(zel::WriteImageFile(path.c_str(), nullptr, 0));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST_F(ImageFileTest, ReplacesLongerContentsAndLeavesNoOtherFile) {
    const std::string path = WriteBytes("out.hex", std::string(10000, '#') + "\n");
    const std::vector<uint16_t> image = {0x0102, 0x0304};
    ASSERT_TRUE(zel::WriteImageFile(path.c_str(), image.data(), 4));
    EXPECT_EQ(ReadText(path), "@0000  0102\n@0001  0304\n");
    EXPECT_EQ(FolderEntries(), 1);
}

TEST_F(ImageFileTest, UnopenablePathIsReportedWithCallersPath) {
    const std::string path = PathOf("no-such-folder/out.hex");
    const std::vector<uint16_t> image = {0x0102};
    testing::internal::CaptureStdout();
    const bool written = zel::WriteImageFile(path.c_str(), image.data(), 2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Couldn't open '" + path + "' for output\n");
    EXPECT_FALSE(written);
}

TEST_F(ImageFileTest, EntryAtTheOldTemporaryNameIsLeftAlone) {
    const std::string path = PathOf("out.hex");
    const std::string planted = WriteBytes("out.hex.zeltmp", "someone else's\n");
    const std::vector<uint16_t> image = {0x0102};
    ASSERT_TRUE(zel::WriteImageFile(path.c_str(), image.data(), 2));
    EXPECT_EQ(ReadText(path), "@0000  0102\n");
    EXPECT_EQ(ReadText(planted), "someone else's\n");
    EXPECT_EQ(FolderEntries(), 2);
}

TEST_F(ImageFileTest, EmptyPathIsRefusedAndMakesNoFile) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
    const std::vector<uint16_t> image = {0x0102};
    testing::internal::CaptureStdout();
    const bool written = zel::WriteImageFile("", image.data(), 2);
    const std::string out = testing::internal::GetCapturedStdout();
    std::filesystem::current_path(before);
    EXPECT_FALSE(written);
    EXPECT_EQ(out, "Couldn't open '' for output\n");
    EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

} // namespace
