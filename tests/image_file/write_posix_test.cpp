// Write failures and file kinds that only a POSIX system lets a test make.
#include "image_file_fixture.h"

#include "jobs/image_file.h"

#include <csignal>
#include <cstdlib>
#include <sys/resource.h>

namespace {

const std::vector<uint16_t> kImage(256, 0x1234);

// Runs in a child limited to files of 100 bytes: 128 records do not fit.
void WriteUnderSizeLimit(const std::string &path) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100, 100};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::exit(zel::WriteImageFile(path.c_str(), kImage.data(), 256) ? 1 : 0);
}

TEST_F(ImageFileTest, WriteErrorOnDeviceFails) {
    // /dev/full takes the open and fails every write with ENOSPC
    EXPECT_FALSE(zel::WriteImageFile("/dev/full", kImage.data(), 4));
    EXPECT_FALSE(zel::WriteImageFile("/dev/full", kImage.data(), 512));
}

TEST_F(ImageFileTest, WriteErrorLeavesExistingFileWhole) {
    const std::string path = WriteBytes("out.hex", "old contents\n");
    EXPECT_EXIT(WriteUnderSizeLimit(path), testing::ExitedWithCode(0), "");
    EXPECT_EQ(ReadText(path), "old contents\n");
    EXPECT_FALSE(std::filesystem::exists(path + ".zeltmp"));
}

TEST_F(ImageFileTest, ReplacedFileKeepsItsMode) {
    const std::string path = WriteBytes("out.hex", "old\n");
    const auto mode = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;
    std::filesystem::permissions(path, mode);
    ASSERT_TRUE(zel::WriteImageFile(path.c_str(), kImage.data(), 2));
    EXPECT_EQ(std::filesystem::status(path).permissions(), mode);
    EXPECT_EQ(ReadText(path), "@0000  1234\n");
}

TEST_F(ImageFileTest, LinkedTargetIsWrittenThroughAndStaysLink) {
    const std::string real = WriteBytes("real.hex", "old\n");
    const std::string link = PathOf("link.hex");
    std::filesystem::create_symlink(real, link);
    ASSERT_TRUE(zel::WriteImageFile(link.c_str(), kImage.data(), 2));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadText(real), "@0000  1234\n");
}

TEST_F(ImageFileTest, HardLinkedTargetKeepsBothNames) {
    const std::string first = WriteBytes("first.hex", "old\n");
    const std::string second = PathOf("second.hex");
    std::filesystem::create_hard_link(first, second);
    ASSERT_TRUE(zel::WriteImageFile(first.c_str(), kImage.data(), 2));
    EXPECT_EQ(ReadText(second), "@0000  1234\n");
}

} // namespace
