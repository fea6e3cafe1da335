// zelprog end to end: the built tool against the virtual target, each test
// with its own state directory (so its own backing files).
#include "cli_fixture.h"
#include "formats/image_format.h"

#include <algorithm>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace zelprog::test {
namespace {

struct RoundTrip {
    const char *name;
    const char *file; // "-": standard input and output
    ImageFormat format;
    std::vector<std::string> formatArgs;
};

TEST_F(ZelprogCli, ProgramVerifyDumpGiveBackTheSameFileInEveryFormat) {
    const std::vector<RoundTrip> cases = {
        {"text", "image.img", ImageFormat::Text, {}},
        {"binary", "image.bin", ImageFormat::Binary, {}},
        {"intel hex", "image.hex", ImageFormat::IntelHex, {}},
        {"s-record", "image.s19", ImageFormat::SRecord, {}},
        {"forced format", "image.dat", ImageFormat::IntelHex, {"--format", "ihex"}},
        {"standard streams", "-", ImageFormat::Binary, {"--format", "bin"}},
    };
    unsigned seed = 1;
    for (const RoundTrip &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string image = EncodeImage(c.format, RandomBytes(k24c02, seed++));
        const bool streams = std::string(c.file) == "-";
        const std::string in = streams ? "-" : Path(c.file);
        if (!streams)
            Write(c.file, image);
        auto with = [&](std::vector<std::string> args) {
            args.insert(args.end(), c.formatArgs.begin(), c.formatArgs.end());
            return args;
        };
        const ProcessResult program = Zel(with({"--part", "24c02", "program", in}), image);
        ASSERT_EQ(program.exitCode, 0) << program.err;
        EXPECT_NE(program.err.find("Verifying..."), std::string::npos) << "program verifies by default";
        const ProcessResult verify = Zel(with({"--part", "24c02", "verify", in}), image);
        EXPECT_EQ(verify.exitCode, 0) << verify.err;
        const std::string out = streams ? "-" : Path(std::string("back-") + c.file);
        const ProcessResult dump = Zel(with({"--part", "24c02", "dump", out}));
        ASSERT_EQ(dump.exitCode, 0) << dump.err;
        EXPECT_EQ(streams ? dump.out : Read(std::string("back-") + c.file), image);
    }
    EXPECT_EQ(fs::file_size(BackingFile("24c02")), k24c02) << "the default link keeps a per-user backing file";
}

struct MismatchCase {
    std::vector<std::string> extra;
    std::size_t shown;
    bool summary;
};

TEST_F(ZelprogCli, MismatchesExitOneAndAreListed) {
    const Bytes programmed = RandomBytes(k24c02, 11);
    Write("a.bin", AsString(programmed));
    const ProcessResult program = Zel({"--part", "24c02", "program", Path("a.bin")});
    ASSERT_EQ(program.exitCode, 0) << program.err;
    Bytes other = programmed;
    for (std::size_t word = 0; word < 25; ++word)
        other[4 * word] ^= 0x01;
    Write("b.bin", AsString(other));
    const std::vector<MismatchCase> cases = {{{}, 20, true}, {{"--all"}, 25, false}};
    for (const MismatchCase &c : cases) {
        std::vector<std::string> args = {"--part", "24c02", "verify", Path("b.bin")};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const ProcessResult r = Zel(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(CountOf(r.err, "ERROR: byte 0x"), c.shown) << r.err;
        EXPECT_EQ(CountOf(r.err, "ERROR: word"), 0u) << "every option takes byte addresses";
        char second[64];
        std::snprintf(second, sizeof second, "ERROR: byte 0x4 read as 0x%x instead of 0x%x\n", programmed[4],
                      other[4]);
        std::string lines = r.err; // Windows ends the lines with "\r\n"
        lines.erase(std::remove(lines.begin(), lines.end(), '\r'), lines.end());
        EXPECT_NE(lines.find(second), std::string::npos) << "the byte address and values of the second change";
        EXPECT_EQ(r.err.find("5 more of 25") != std::string::npos, c.summary) << r.err;
        EXPECT_NE(r.err.find("verifying failed: 25 bytes differ"), std::string::npos) << r.err;
    }
}

// The summary counts in the singular too, for the whole image and for a
// range of an image that names its addresses.
TEST_F(ZelprogCli, OneDifferingByteIsCountedAsOne) {
    Bytes image = RandomBytes(k24c02, 12);
    image[4] = 0x5A;
    Write("a.bin", AsString(image));
    ASSERT_EQ(Zel({"--part", "24c02", "program", Path("a.bin")}).exitCode, 0);
    image[4] = 0xA5;
    Write("b.bin", AsString(image));
    Write("b.hex", ":01000400A556\n:00000001FF\n"); // byte 4 as 0xA5
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"b.bin", "verifying failed: 1 byte differs"},
        {"b.hex", "verifying 0x4..0x4 failed: 1 byte differs"},
    };
    for (const auto &[file, summary] : cases) {
        SCOPED_TRACE(file);
        const ProcessResult r = Zel({"--part", "24c02", "verify", Path(file)});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find(summary), std::string::npos) << r.err;
    }
}

struct ExitCase {
    const char *name;
    std::vector<std::string> args;
    const char *simEnvironment; // HOPLINK_SIM, or null
    int exitCode;
    const char *errorPart;
};

TEST_F(ZelprogCli, EachKindOfFailureHasItsExitCodeAndOneClearLine) {
    Write("big.bin", std::string(k24c02 + 1, 'x'));
    Write("short.bin", std::string(100, 'x'));
    Write("bad.hex", ":01000000AA54\n:00000001FF\n");
    const std::string blank = "SIMPART=24c02 SIMFILE=" + Path("blank.bin");
    const std::vector<ExitCase> cases = {
        {"no command", {"--part", "24c02"}, nullptr, 2, "usage: zelprog"},
        {"unknown option", {"--bogus", "info"}, nullptr, 2, "usage: zelprog"},
        {"unknown command", {"bogus"}, nullptr, 2, "unknown command 'bogus'"},
        {"missing file argument", {"program"}, nullptr, 2, "FILE is required"},
        {"unknown part", {"--part", "24c03", "info"}, nullptr, 2, "unknown part '24c03'"},
        {"bad lines", {"--pio", "6,6,8", "info"}, nullptr, 2, "--pio takes three different line numbers"},
        {"bad fill", {"clear", "--fill", "256"}, nullptr, 2, "--fill takes a byte value"},
        {"link and transport", {"--link", "X=1", "--transport", "usb", "info"}, nullptr, 2, "excludes"},
        {"json dump to stdout", {"--json", "dump", "-"}, nullptr, 2, "name a file"},
        {"no size known", {"--link", blank, "dump", Path("out.bin")}, nullptr, 2, "pass --part"},
        {"missing image", {"--part", "24c02", "program", Path("none.bin")}, nullptr, 4, "cannot open"},
        {"image too large",
         {"--part", "24c02", "program", Path("big.bin")},
         nullptr,
         4,
         "more than the 256-byte EEPROM"},
        {"short binary", {"--part", "24c02", "program", Path("short.bin")}, nullptr, 4, "pass --pad"},
        {"bad checksum", {"--part", "24c02", "verify", Path("bad.hex")}, nullptr, 4, "line 1: checksum"},
        {"unwritable dump", {"--part", "24c02", "dump", Path("no/such/dir/out.bin")}, nullptr, 4, "cannot open"},
        {"no eeprom", {"--part", "24c02", "info"}, "SIMFAULT=absent", 3, "no EEPROM answered"},
        {"no eeprom on a link",
         {"--link", blank, "--part", "24c02", "clear"},
         "SIMFAULT=absent",
         3,
         "no EEPROM answered"},
        {"a write cycle that outlasts the polling",
         {"--part", "24c02", "patch", "0x20", "12"},
         "SIMTWR=1000",
         1,
         "writing 0x20..0x20 failed: the EEPROM did not finish its write cycle within 20 ms"},
    };
    for (const ExitCase &c : cases) {
        SCOPED_TRACE(c.name);
        SetEnv("HOPLINK_SIM", c.simEnvironment != nullptr ? c.simEnvironment : kFastWrites);
        const ProcessResult r = Zel(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.errorPart), std::string::npos) << r.err;
        EXPECT_EQ(CountOf(r.err, "zelprog: error:"), 1u) << r.err;
    }
}

// Holds a file open as the virtual target holds its backing file.
class BackingHolder {
public:
    explicit BackingHolder(const std::string &path) {
#ifdef _WIN32
        handle_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
#else
        fd_ = open(path.c_str(), O_RDWR);
        if (fd_ >= 0)
            flock(fd_, LOCK_EX);
#endif
    }
    ~BackingHolder() {
#ifdef _WIN32
        CloseHandle(handle_);
#else
        close(fd_);
#endif
    }
    BackingHolder(const BackingHolder &) = delete;
    BackingHolder &operator=(const BackingHolder &) = delete;

private:
#ifdef _WIN32
    HANDLE handle_;
#else
    int fd_;
#endif
};

struct HintCase {
    const char *name;
    std::vector<std::string> args;
    std::string input;
    int exitCode;
    std::string errorPart; // empty: none
    bool first;            // the error line's text begins with it
};

TEST_F(ZelprogCli, WhatAUserGotWrongIsNamedWithWhatToDo) {
    const std::string binary = AsString(RandomBytes(k24c02, 9));
    ASSERT_EQ(Zel({"--part", "24c02", "clear"}).exitCode, 0);
    fs::create_directories(Path("images"));
    const std::vector<HintCase> cases = {
        {"binary bytes on standard input",
         {"--part", "24c02", "verify", "-"},
         binary,
         4,
         "standard input holds bytes that are not text: for a binary image pass --format bin",
         false},
        {"a directory as image",
         {"--part", "24c02", "program", Path("images")},
         "",
         4,
         "'" + Path("images") + "' is a directory",
         true},
        {"a directory to dump to",
         {"--part", "24c02", "dump", Path("images")},
         "",
         4,
         "'" + Path("images") + "' is a directory",
         true},
        {"step 0",
         {"--part", "24c02", "serial", "--at", "0", "--counter", Path("c"), "--step", "0"},
         "",
         2,
         "--step takes a number of at least 1",
         true},
        {"line 0 keeps the default", {"--part", "24c02", "--pio", "0,7,8", "check-size"}, "", 0, "", false},
        {"a kept line that is also chosen",
         {"--part", "24c02", "--pio", "0,6,8", "info"},
         "",
         2,
         "--pio takes",
         true},
        {"a line the chip does not have",
         {"--part", "24c02", "--pio", "16,7,8", "info"},
         "",
         2,
         "--pio takes",
         true},
    };
    for (const HintCase &c : cases) {
        SCOPED_TRACE(c.name);
        const ProcessResult r = Zel(c.args, c.input);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        if (c.errorPart.empty())
            continue;
        const std::size_t at = r.err.find(c.errorPart);
        EXPECT_NE(at, std::string::npos) << r.err;
        if (c.first) {
            EXPECT_NE(r.err.find("zelprog: error: " + c.errorPart), std::string::npos)
                << "first on the error line";
        }
    }
    BackingHolder held(BackingFile("24c02"));
    const ProcessResult busy = Zel({"--part", "24c02", "info"});
    EXPECT_EQ(busy.exitCode, 3) << busy.err;
    EXPECT_NE(busy.err.find("zelprog: error: the backing file '" + BackingFile("24c02") + "' is in use"),
              std::string::npos)
        << busy.err;
}

TEST_F(ZelprogCli, DumpFindsOutItCannotWriteItsFileBeforeReading) {
    SetEnv("HOPLINK_SIM", kFastWrites);
    const ProcessResult readable = Zel({"--part", "24c02", "dump", Path("out.bin")});
    ASSERT_EQ(readable.exitCode, 0) << readable.err;
    ASSERT_NE(readable.err.find("Reading..."), std::string::npos) << "a dump tells its reading";
    for (const std::string &target : {Path("no/such/dir/out.bin"), Path("")}) {
        SCOPED_TRACE(target);
        const ProcessResult r = Zel({"--part", "24c02", "dump", target});
        EXPECT_EQ(r.exitCode, 4) << r.err;
        EXPECT_EQ(r.err.find("Reading..."), std::string::npos) << "read before the output was known to fail";
    }
    // the check leaves no file behind when the dump fails afterwards
    SetEnv("HOPLINK_SIM", "SIMFAULT=absent");
    const ProcessResult absent = Zel({"--part", "24c02", "dump", Path("new.bin")});
    EXPECT_EQ(absent.exitCode, 3) << absent.err;
    EXPECT_FALSE(fs::exists(Path("new.bin")));
}

TEST_F(ZelprogCli, ShortBinaryIsPaddedWithErasedBytesWhenAsked) {
    const Bytes head = RandomBytes(100, 5);
    Write("short.bin", AsString(head));
    const ProcessResult clear = Zel({"--part", "24c02", "clear", "--fill", "0x00"});
    ASSERT_EQ(clear.exitCode, 0) << clear.err;
    const ProcessResult program = Zel({"--part", "24c02", "program", "--pad", Path("short.bin")});
    ASSERT_EQ(program.exitCode, 0) << program.err;
    const ProcessResult dump = Zel({"--part", "24c02", "dump", "-", "--format", "bin"});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    Bytes expected = head;
    expected.resize(k24c02, 0xFF);
    EXPECT_EQ(dump.out, AsString(expected));
}

TEST_F(ZelprogCli, CtrlCStopsTheJobWithExit130AndTheNextCommandWorks) {
    if (!CanInterrupt())
        GTEST_SKIP() << "no signals on this platform";
    Write("a.bin", AsString(RandomBytes(k24c02, 21)));
    SetEnv("HOPLINK_SIM", "SIMTWR=10"); // 256 write cycles of 10 ms: between two and three seconds
    const ProcessResult stopped =
        RunAndInterrupt({ZELPROG_PATH, "--part", "24c02", "program", Path("a.bin")}, "Writing... 0%");
    EXPECT_EQ(stopped.exitCode, 130) << stopped.err;
    EXPECT_NE(stopped.err.find("interrupted"), std::string::npos) << stopped.err;
    EXPECT_EQ(stopped.err.find("Verifying..."), std::string::npos) << "stopped before the read-back";
    SetEnv("HOPLINK_SIM", kFastWrites);
    const ProcessResult verify = Zel({"--part", "24c02", "verify", Path("a.bin")});
    EXPECT_EQ(verify.exitCode, 1) << "the image was only partly written";
    const ProcessResult again = Zel({"--part", "24c02", "program", Path("a.bin")});
    EXPECT_EQ(again.exitCode, 0) << again.err;
}

struct HeaderCase {
    const char *part;
    const char *geometry;
    std::size_t bytes;
};

TEST_F(ZelprogCli, PartAndHeaderSizingAgree) {
    const std::vector<HeaderCase> cases = {
        {"24c02", "24c02: 256 bytes, size bits 8, block bits 0", 256},
        {"24c16", "24c16: 2048 bytes, size bits 11, block bits 7", 2048},
        {"24c64", "24c64: 8192 bytes, size bits 13, block bits 0", 8192},
    };
    for (const HeaderCase &c : cases) {
        SCOPED_TRACE(c.part);
        const std::string part = c.part;
        const ProcessResult write = Zel({"--part", part, "write-header"});
        ASSERT_EQ(write.exitCode, 0) << write.err;
        const std::string link = "SIMPART=" + part + " SIMFILE=" + BackingFile(part);
        const ProcessResult read = Zel({"--link", link, "read-header"});
        EXPECT_EQ(read.exitCode, 0) << read.err;
        EXPECT_EQ(read.out, std::string(c.geometry) + "\n");
        const ProcessResult info = Zel({"--link", link, "info"});
        EXPECT_NE(info.out.find(std::string("header:         ") + c.geometry), std::string::npos) << info.out;
        const ProcessResult byPart = Zel({"--part", part, "dump", Path(part + "-part.bin")});
        const ProcessResult byHeader = Zel({"--link", link, "dump", Path(part + "-header.bin")});
        ASSERT_EQ(byPart.exitCode, 0) << byPart.err;
        ASSERT_EQ(byHeader.exitCode, 0) << byHeader.err;
        EXPECT_EQ(Read(part + "-header.bin"), Read(part + "-part.bin"));
        EXPECT_EQ(Read(part + "-header.bin").size(), c.bytes);
    }
}

TEST_F(ZelprogCli, CheckSizeFailsWhenThePartIsLargerThanTheEeprom) {
    const std::string link = "SIMPART=24c02 SIMFILE=" + Path("eeprom.bin");
    const ProcessResult fits = Zel({"--link", link, "--part", "24c02", "check-size"});
    EXPECT_EQ(fits.exitCode, 0) << fits.err;
    const ProcessResult tooBig = Zel({"--link", link, "--part", "24c64", "check-size"});
    EXPECT_EQ(tooBig.exitCode, 1) << tooBig.err;
    EXPECT_NE(tooBig.err.find("size check failed"), std::string::npos) << tooBig.err;
}

TEST_F(ZelprogCli, JsonGivesOneObjectPerLineEndingWithTheResult) {
    const ProcessResult r = Zel({"--json", "--part", "24c02", "clear", "--fill", "7"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::istringstream lines(r.out);
    std::string line, last;
    int count = 0;
    while (std::getline(lines, line)) {
        EXPECT_EQ(line.rfind("{\"event\":\"", 0), 0u) << line;
        EXPECT_EQ(line.back(), '}') << line;
        last = line;
        ++count;
    }
    EXPECT_GT(count, 4);
    EXPECT_NE(r.out.find("{\"event\":\"state\",\"state\":\"Clearing...\"}"), std::string::npos);
    EXPECT_NE(r.out.find("\"percent\":100"), std::string::npos);
    EXPECT_EQ(last, "{\"event\":\"result\",\"command\":\"clear\",\"ok\":true,\"exitCode\":0}");
    const ProcessResult dump = Zel({"--part", "24c02", "dump", "-", "--format", "bin"});
    EXPECT_EQ(dump.out, std::string(k24c02, '\x07'));
}

struct CommandCase {
    const char *name;
    std::vector<std::string> args;
    int exitCode;
    const char *outPart;   // "" : anything
    const char *errPart;   // "" : anything
    const char *errAbsent; // null: nothing required absent
};

TEST_F(ZelprogCli, CommandsDoWhatTheirOptionsSay) {
    Write("a.bin", AsString(RandomBytes(k24c02, 31)));
    const std::string otherLines = "SIMPART=24c02 SIMFILE=" + Path("lines.bin");
    const std::string defaultFile = "SIMPART=24c02 SIMFILE=" + BackingFile("24c02");
    const std::vector<CommandCase> cases = {
        {"ports", {"ports"}, 0, "sim0\n", "", nullptr},
        {"version", {"version"}, 0, "zelprog 2.1, library 2.1\n", "", nullptr},
        {"json version",
         {"--json", "version"},
         0,
         "{\"event\":\"version\",\"tool\":\"2.1\",\"library\":\"2.1\"}\n",
         "",
         nullptr},
        {"subcommand help", {"program", "--help"}, 0, "--no-verify", "", nullptr},
        {"lines follow --pio on the virtual target",
         {"--pio", "3,4,5", "--part", "24c02", "info"},
         0,
         "device address: 0xa0",
         "",
         nullptr},
        {"--pio reaches the library",
         {"--link", otherLines, "--pio", "3,4,5", "--part", "24c02", "info"},
         3,
         "",
         "no EEPROM answered",
         nullptr},
        {"program without verify",
         {"--part", "24c02", "program", "--no-verify", Path("a.bin")},
         0,
         "",
         "programmed 256 bytes (not verified)",
         "Verifying..."},
        {"verify after it", {"--part", "24c02", "verify", Path("a.bin")}, 0, "", "matches", nullptr},
        {"detect from reads alone",
         {"--json", "--part", "24c02", "detect"},
         0,
         "\"addressBytes\":1,\"bytes\":256,\"candidates\":[\"24c02\",\"24aa025e48\",\"24aa025uid\"]",
         "",
         nullptr},
        {"detect on an erased part", {"--part", "24c515", "detect"}, 0, "check-size", "", nullptr},
        {"dump reading twice",
         {"--part", "24c02", "dump", "--verify", Path("twice.bin")},
         0,
         "",
         "Verifying...",
         nullptr},
        {"quiet", {"-q", "--part", "24c02", "verify", Path("a.bin")}, 0, "", "", "Reading..."},
        {"json error",
         {"--json", "--part", "24c02", "verify", Path("none.bin")},
         4,
         "{\"event\":\"error\",\"message\":",
         "cannot open",
         nullptr},
        {"store a header", {"--part", "24c02", "write-header"}, 0, "", "wrote the geometry header", nullptr},
        {"sized from the header without reading it all",
         {"--link", defaultFile, "verify", Path("a.bin")},
         1,
         "",
         "ERROR: byte 0x1 read as",
         "learn its size"}, // the header: bytes 1-4 of a 24c02
        {"image without the header",
         {"--link", defaultFile, "program", Path("a.bin")},
         0,
         "",
         "the image does not carry the geometry header",
         nullptr},
        {"header gone", {"--link", defaultFile, "info"}, 0, "none (no valid geometry header)", "", nullptr},
    };
    for (const CommandCase &c : cases) {
        SCOPED_TRACE(c.name);
        const ProcessResult r = Zel(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.out.find(c.outPart), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.errPart), std::string::npos) << r.err;
        if (c.errAbsent != nullptr) {
            EXPECT_EQ(r.err.find(c.errAbsent), std::string::npos) << r.err;
        }
    }
    EXPECT_EQ(Read("twice.bin"), Read("a.bin"));
}

} // namespace
} // namespace zelprog::test
