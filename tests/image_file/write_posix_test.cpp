// Write failures and file kinds that only a POSIX system lets a test make.
#include "image_file_fixture.h"

#include "jobs/image_file.h"

#include <csignal>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
    // the file itself, and a file named through a symbolic link
    const std::string path = WriteBytes("out.hex", "old contents\n");
    const std::string symbolic = PathOf("symbolic.hex");
    std::filesystem::create_symlink(path, symbolic);
    for (const std::string &target : {path, symbolic}) {
        EXPECT_EXIT(WriteUnderSizeLimit(target), testing::ExitedWithCode(0), "") << target;
        EXPECT_EQ(ReadText(path), "old contents\n") << target;
        EXPECT_TRUE(std::filesystem::is_symlink(symbolic));
        EXPECT_EQ(FolderEntries(), 2);
    }
}

constexpr uid_t kNobody = 65534;

TEST_F(ImageFileTest, ReplacedFileKeepsItsModeAndOwner) {
    const std::string path = WriteBytes("out.hex", "old\n");
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    // only root can give a file away
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    }
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    ASSERT_TRUE(zel::WriteImageFile(path.c_str(), kImage.data(), 2));
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0600u);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    if (root) {
        EXPECT_EQ(after.st_uid, kNobody);
    }
}

TEST_F(ImageFileTest, LinkAtTheOldTemporaryNameIsNotFollowed) {
    const std::string elsewhere = WriteBytes("elsewhere.hex", "elsewhere\n");
    const std::string path = PathOf("out.hex");
    std::filesystem::create_symlink(elsewhere, path + ".zeltmp");
    ASSERT_TRUE(zel::WriteImageFile(path.c_str(), kImage.data(), 2));
    EXPECT_EQ(ReadText(elsewhere), "elsewhere\n");
    EXPECT_FALSE(std::filesystem::is_symlink(path));
    EXPECT_EQ(ReadText(path), "@0000  1234\n");
    EXPECT_TRUE(std::filesystem::is_symlink(path + ".zeltmp"));
}

// Runs in a child that may write the file but not make one beside it.
void WriteWithoutFolderAccess(const std::string &path) {
    if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0))
        std::exit(2);
    testing::internal::CaptureStdout();
    const bool written = zel::WriteImageFile(path.c_str(), kImage.data(), 2);
    const std::string out = testing::internal::GetCapturedStdout();
    std::exit(!written && out == "Couldn't open '" + path + "' for output\n" ? 0 : 1);
}

TEST_F(ImageFileTest, FolderThatRefusesTheNewFileLeavesTargetAsItWas) {
    const std::string path = WriteBytes("out.hex", "old contents\n");
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    ASSERT_EQ(chmod(folder_.c_str(), 0555), 0);
    EXPECT_EXIT(WriteWithoutFolderAccess(path), testing::ExitedWithCode(0), "");
    ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
    EXPECT_EQ(ReadText(path), "old contents\n");
    EXPECT_EQ(FolderEntries(), 1);
}

TEST_F(ImageFileTest, LinkedTargetsAreWrittenThrough) {
    const std::string real = WriteBytes("real.hex", "old\n");
    const std::string symbolic = PathOf("symbolic.hex");
    const std::string hard = PathOf("hard.hex");
    std::filesystem::create_symlink(real, symbolic);
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    ASSERT_TRUE(zel::WriteImageFile(symbolic.c_str(), kImage.data(), 2));
    EXPECT_TRUE(std::filesystem::is_symlink(symbolic));
    EXPECT_EQ(ReadText(real), "@0000  1234\n");
    struct stat status {};
    ASSERT_EQ(stat(real.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    // a second name sees the new contents too
    std::filesystem::create_hard_link(real, hard);
    ASSERT_TRUE(zel::WriteImageFile(symbolic.c_str(), kImage.data(), 4));
    EXPECT_TRUE(std::filesystem::is_symlink(symbolic));
    EXPECT_EQ(ReadText(hard), "@0000  1234\n@0001  1234\n");
}

} // namespace
