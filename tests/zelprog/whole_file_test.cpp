// Files that zelprog writes are whole or not there: a dump that fails part
// way leaves the file it would replace as it was, and no other file.
#include "cli_fixture.h"
#include "formats/image_format.h"

#include <set>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zelprog::test {
namespace {

constexpr std::size_t k24c256 = 32768;

class ZelprogWholeFiles : public ZelprogCli {
protected:
    void SetUp() override {
        ZelprogCli::SetUp();
        SetEnv("HOPLINK_SIM", "SIMTWR=0");
        old_ = EncodeImage(ImageFormat::Text, RandomBytes(k24c02, 3));
        ASSERT_EQ(Zel({"-q", "clear", "--fill", "0x5a"}).exitCode, 0);
    }
    // The names in the test's folder, the state folder left out.
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const fs::directory_entry &entry : fs::directory_iterator(dir_))
            if (entry.path() != state_)
                names.insert(entry.path().filename().string());
        return names;
    }

    std::string old_;
};

#ifndef _WIN32

struct LimitedDump {
    const char *file;
    std::vector<std::string> args;
};

TEST_F(ZelprogWholeFiles, ADumpPastTheFileSizeLimitLeavesTheOldFileAndNoOther) {
    // range dumps read through memory jobs: the dump's own file is the only one written
    const std::vector<LimitedDump> cases = {
        {"keep.img", {"--offset", "0", "--length", "32768"}},
        {"keep.bin", {"--offset", "0", "--length", "32768"}},
        {"keep.hex", {"--offset", "0x100", "--length", "0x7f00"}},
        {"keep.s19", {"--offset", "0", "--length", "32768"}},
        {"new.bin", {"--offset", "0", "--length", "32768"}},
    };
    for (const LimitedDump &c : cases) {
        SCOPED_TRACE(c.file);
        const bool replaces = std::string(c.file) != "new.bin";
        if (replaces)
            Write(c.file, old_);
        const std::set<std::string> before = Names();
        std::vector<std::string> args = {ZELPROG_PATH, "-q", "dump", Path(c.file)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult r = RunWithFileSizeLimit(args, 8192);
        EXPECT_EQ(r.exitCode, 4) << r.err;
        EXPECT_NE(r.err.find("cannot write '" + Path(c.file) + "'"), std::string::npos) << r.err;
        EXPECT_EQ(Names(), before);
        if (replaces) {
            EXPECT_EQ(Read(c.file), old_);
        }
    }
}

// Runs the tool in a mount namespace of its own with `dir` a tmpfs of
// `bytes`; exit 77 when that mount is not permitted here, -1 without unshare.
ProcessResult OnSmallTmpfs(const std::string &dir, std::size_t bytes, std::vector<std::string> args) {
    std::vector<std::string> command = {
        "/usr/bin/unshare",
        "-rm",
        "sh",
        "-c",
        "mount -t tmpfs -o size=" + std::to_string(bytes) +
            " zelprog-test \"$0\" || exit 77; cp \"$0\".old \"$0\"/keep.img "
            "&& \"$@\"; code=$?; ls -A \"$0\"; cmp -s \"$0\".old \"$0\"/keep.img && echo kept; exit $code",
        dir,
        ZELPROG_PATH};
    command.insert(command.end(), args.begin(), args.end());
    return RunProcess(command);
}

TEST_F(ZelprogWholeFiles, ADumpOntoAFullDiskLeavesTheOldFileAndNoOther) {
    fs::create_directories(Path("small"));
    Write("small.old", old_);
    const ProcessResult r = OnSmallTmpfs(Path("small"), 20 * 1024, {"-q", "dump", Path("small/keep.img")});
    if (r.exitCode == 77 || r.exitCode == -1)
        GTEST_SKIP() << "no tmpfs can be mounted here: " << r.err;
    EXPECT_EQ(r.exitCode, 4) << r.err;
    EXPECT_NE(r.err.find("cannot write '" + Path("small/keep.img") + "'"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "keep.img\nkept\n") << "only the old file, as it was";
}

TEST_F(ZelprogWholeFiles, AReplacedFileKeepsItsModeAndLinksAndAFifoIsWrittenInPlace) {
    ASSERT_EQ(Zel({"-q", "--part", "24c02", "clear", "--fill", "0x5a"}).exitCode, 0);
    Write("mode.bin", old_);
    fs::permissions(Path("mode.bin"), fs::perms(0640));
    Write("target.bin", old_);
    fs::create_symlink("target.bin", Path("link.bin"));
    ASSERT_EQ(mkfifo(Path("fifo.bin").c_str(), 0600), 0);
    // with a reader there, opening the FIFO for writing does not wait
    const int reader = open(Path("fifo.bin").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    for (const char *file : {"mode.bin", "link.bin", "fifo.bin"}) {
        const ProcessResult r = Zel({"-q", "--part", "24c02", "dump", Path(file)});
        EXPECT_EQ(r.exitCode, 0) << file << ": " << r.err;
    }
    char fromFifo[2 * k24c02] = {};
    const ssize_t got = read(reader, fromFifo, sizeof fromFifo);
    close(reader);
    const std::string dumped(k24c02, '\x5a');
    EXPECT_EQ(Read("mode.bin"), dumped);
    EXPECT_EQ(fs::status(Path("mode.bin")).permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_TRUE(fs::is_symlink(Path("link.bin")));
    EXPECT_EQ(Read("target.bin"), dumped);
    EXPECT_TRUE(fs::is_fifo(Path("fifo.bin"))) << "never replaced by a rename";
    EXPECT_EQ(std::string(fromFifo, got > 0 ? static_cast<std::size_t>(got) : 0), dumped);
    EXPECT_EQ(Names(), (std::set<std::string>{"fifo.bin", "link.bin", "mode.bin", "target.bin"}));
    if (geteuid() != 0)
        return;
    // a link that another user left is replaced itself, never followed
    fs::create_symlink("target.bin", Path("foreign.bin"));
    ASSERT_EQ(lchown(Path("foreign.bin").c_str(), 65534, 65534), 0);
    Write("target.bin", old_);
    const ProcessResult r = Zel({"-q", "--part", "24c02", "dump", Path("foreign.bin")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Read("target.bin"), old_);
    EXPECT_FALSE(fs::is_symlink(Path("foreign.bin")));
}

#else

TEST_F(ZelprogWholeFiles, ADumpThatCannotReplaceAnOpenFileLeavesItAndNoOther) {
    Write("keep.img", old_);
    ASSERT_EQ(Zel({"-q", "--part", "24c02", "dump", Path("replaced.img")}).exitCode, 0);
    Write("replaced.img", old_);
    const ProcessResult replaced = Zel({"-q", "--part", "24c02", "dump", Path("replaced.img")});
    EXPECT_EQ(replaced.exitCode, 0) << replaced.err;
    EXPECT_NE(Read("replaced.img"), old_) << "an existing file is replaced";
    // held open without FILE_SHARE_DELETE, the file cannot be replaced
    HANDLE held = CreateFileW(fs::path(Path("keep.img")).wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const ProcessResult r = Zel({"-q", "--part", "24c02", "dump", Path("keep.img")});
    CloseHandle(held);
    EXPECT_EQ(r.exitCode, 4) << r.err;
    EXPECT_EQ(Read("keep.img"), old_);
    EXPECT_EQ(Names(), (std::set<std::string>{"keep.img", "replaced.img"}));
}

#endif

} // namespace
} // namespace zelprog::test
