// Write failures and file kinds that only a POSIX system lets a test make.
#include "image_file_fixture.h"

#include "jobs/image_file.h"

#include <csignal>
#include <cstdlib>
#include <sys/resource.h>

namespace {

const std::vector<uint16_t> kImage(256, 0x1234);

TEST_F(ImageFileTest, WriteErrorOnDeviceFails) {
    // /dev/full takes the open and fails every write with ENOSPC
    EXPECT_FALSE(zel::WriteImageFile("/dev/full", kImage.data(), 512));
}

// Runs in a child limited to files of 100 bytes: 128 records do not fit.
void WriteUnderSizeLimit(const std::string &path) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{100, 100};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::exit(zel::WriteImageFile(path.c_str(), kImage.data(), 256) ? 1 : 0);
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
}

TEST_F(ImageFileTest, LinkedTargetsAreWrittenThrough) {
    const std::string real = WriteBytes("real.hex", "old\n");
    const std::string symbolic = PathOf("symbolic.hex");
    const std::string hard = PathOf("hard.hex");
    std::filesystem::create_symlink(real, symbolic);
    std::filesystem::create_hard_link(real, hard);
    ASSERT_TRUE(zel::WriteImageFile(symbolic.c_str(), kImage.data(), 2));
    EXPECT_TRUE(std::filesystem::is_symlink(symbolic));
    EXPECT_EQ(ReadText(hard), "@0000  1234\n");
}

} // namespace
