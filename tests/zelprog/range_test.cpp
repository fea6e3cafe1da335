// zelprog end to end on parts of the EEPROM: ranges, records at their own
// addresses, patch, page writes and sizing from the header.
#include "cli_fixture.h"
#include "formats/image_format.h"

namespace zelprog::test {
namespace {

constexpr std::size_t k24c256 = 32768;

class ZelprogRange : public ZelprogCli {
protected:
    void SetUp() override {
        ZelprogCli::SetUp();
        SetEnv("HOPLINK_SIM", "SIMTWR=0");
    }
    // Programs random bytes into the 24c02 and returns them.
    Bytes Fill(unsigned seed) {
        const Bytes bytes = RandomBytes(k24c02, seed);
        Write("fill.bin", AsString(bytes));
        const ProcessResult r = Zel({"--part", "24c02", "program", Path("fill.bin")});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return bytes;
    }
};

struct WriteCase {
    const char *name;
    std::string file; // "": no file argument
    std::string contents;
    std::vector<std::string> args;
    std::vector<std::pair<std::size_t, uint8_t>> changed; // every other byte keeps its value
};

TEST_F(ZelprogRange, ProgramAndPatchChangeOnlyTheirBytes) {
    const std::string hex = ":02001000ABCD76\n:02008000123438\n:00000001FF\n";
    const std::vector<WriteCase> cases = {
        {"binary at an offset",
         "small.bin",
         "\x01\x02\x03",
         {"program", "--offset", "0xf0"},
         {{0xF0, 1}, {0xF1, 2}, {0xF2, 3}}},
        {"binary up to the last byte",
         "small.bin",
         "\x07\x08",
         {"program", "--offset", "254"},
         {{0xFE, 7}, {0xFF, 8}}},
        {"binary cut to a length",
         "small.bin",
         "\x01\x02\x03",
         {"program", "--offset", "16", "--length", "2"},
         {{16, 1}, {17, 2}}},
        {"intel hex records at their addresses",
         "sparse.hex",
         hex,
         {"program"},
         {{0x10, 0xAB}, {0x11, 0xCD}, {0x80, 0x12}, {0x81, 0x34}}},
        {"text records at their words", "sparse.img", "@0008  beef\n", {"program"}, {{0x10, 0xEF}, {0x11, 0xBE}}},
        {"patch", "", "", {"patch", "0xfe", "5a", "0xA5"}, {{0xFE, 0x5A}, {0xFF, 0xA5}}},
        {"patch a string", "", "", {"patch", "0x40", "--string", "SN:"}, {{0x40, 'S'}, {0x41, 'N'}, {0x42, ':'}}},
    };
    unsigned seed = 40;
    for (const WriteCase &c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes before = Fill(seed++);
        std::vector<std::string> args = {"--part", "24c02"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (!c.file.empty()) {
            Write(c.file, c.contents);
            args.push_back(Path(c.file));
        }
        const ProcessResult r = Zel(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        Bytes expected = before;
        for (const auto &[address, value] : c.changed)
            expected[address] = value;
        EXPECT_EQ(ReadBacking("24c02"), AsString(expected));
    }
}

TEST_F(ZelprogRange, PatchShowsTheBytesBeforeAndAfter) {
    Bytes before = Fill(50);
    before[0x21] = 0x00;
    Write("fill.bin", AsString(before));
    ASSERT_EQ(Zel({"--part", "24c02", "program", Path("fill.bin")}).exitCode, 0);
    const ProcessResult r = Zel({"--part", "24c02", "patch", "0x20", "de", "ad"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    char was[64];
    std::snprintf(was, sizeof was, "before 0x20: %02x 00\nnow    0x20: de ad\n", before[0x20]);
    EXPECT_EQ(r.out, was);
    const ProcessResult json = Zel({"--json", "--part", "24c02", "patch", "0x20", "--string", "ok"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find(R"({"event":"result","command":"patch","ok":true,"exitCode":0,"address":"0x20",)"
                            R"("before":"de ad","after":"6f 6b"})"),
              std::string::npos)
        << json.out;
}

struct DumpCase {
    const char *name;
    std::vector<std::string> args;
    ImageFormat format;
    std::size_t from, length;
};

TEST_F(ZelprogRange, RangeDumpHoldsTheBytesOfTheBackingFile) {
    Fill(60);
    const std::string backing = ReadBacking("24c02");
    const std::vector<DumpCase> cases = {
        {"beyond the device", {"--offset", "0x100", "--length", "64"}, ImageFormat::Binary, 0, 0},
        {"binary", {"--offset", "0x30", "--length", "0x40", "--format", "bin"}, ImageFormat::Binary, 0x30, 0x40},
        {"to the end", {"--offset", "200", "--format", "bin"}, ImageFormat::Binary, 200, 56},
        {"read twice",
         {"--offset", "1", "--length", "3", "--verify", "--format", "bin"},
         ImageFormat::Binary,
         1,
         3},
        {"intel hex at its address",
         {"--offset", "0x81", "--length", "33", "--format", "ihex"},
         ImageFormat::IntelHex,
         0x81,
         33},
        {"text of whole words",
         {"--offset", "0x10", "--length", "4", "--format", "text"},
         ImageFormat::Text,
         0x10,
         4},
    };
    for (const DumpCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"--part", "24c02", "dump"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back("-");
        const ProcessResult r = Zel(args);
        if (c.length == 0) {
            EXPECT_EQ(r.exitCode, 2) << "0x100 is beyond a 24c02";
            EXPECT_NE(r.err.find("does not fit the 256-byte EEPROM"), std::string::npos) << r.err;
            continue;
        }
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::string expected;
        ASSERT_TRUE(EncodeRange(c.format, static_cast<uint32_t>(c.from),
                                Bytes(backing.begin() + static_cast<std::ptrdiff_t>(c.from),
                                      backing.begin() + static_cast<std::ptrdiff_t>(c.from + c.length)),
                                expected));
        EXPECT_EQ(r.out, expected);
    }
}

struct RefusalCase {
    const char *name;
    std::vector<std::string> args;
    int exitCode;
    const char *errorPart;
};

TEST_F(ZelprogRange, RangesOutsideTheDeviceAreUsageErrorsThatTouchNothing) {
    const Bytes before = Fill(70);
    Write("four.bin", "\x01\x02\x03\x04");
    Write("a.hex", ":0100000001FE\n:00000001FF\n");
    Write("far.hex", ":020000040001F9\n:0100000001FE\n:00000001FF\n");
    const std::vector<RefusalCase> cases = {
        {"program past the end",
         {"program", "--offset", "0xfd", Path("four.bin")},
         2,
         "the range 0xfd..0x100 does not fit the 256-byte EEPROM (0x0..0xff)"},
        {"dump past the end", {"dump", "--offset", "0", "--length", "257", Path("out.bin")}, 2, "256-byte EEPROM"},
        {"empty range", {"verify", "--length", "0", Path("four.bin")}, 2, "the range is empty"},
        {"longer than the file", {"program", "--length", "5", Path("four.bin")}, 4, "fewer than --length 5"},
        {"offset with intel hex", {"program", "--offset", "4", Path("a.hex")}, 2, "carry their own addresses"},
        {"pad with offset", {"program", "--pad", "--offset", "4", Path("four.bin")}, 2, "--pad fills"},
        {"bad number", {"dump", "--offset", "0x1g", Path("out.bin")}, 2, "not '0x1g'"},
        {"record beyond the device",
         {"program", Path("far.hex")},
         4,
         "lies beyond the end of the 256-byte EEPROM"},
        {"odd text range",
         {"dump", "--offset", "1", "--length", "2", "--format", "text", Path("out.img")},
         2,
         "whole words"},
        {"patch past the end", {"patch", "0xff", "01", "02"}, 2, "does not fit the 256-byte EEPROM"},
        {"patch without bytes", {"patch", "0x10"}, 2, "patch takes the bytes"},
        {"patch of a bad byte", {"patch", "0x10", "1ff"}, 2, "patch takes the bytes"},
    };
    for (const RefusalCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"--part", "24c02"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult r = Zel(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.errorPart), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadBacking("24c02"), AsString(before));
    EXPECT_FALSE(fs::exists(Path("out.bin")));
}

struct PageCase {
    const char *name;
    std::vector<std::string> args;
    int exitCode;
    const char *infoWrites; // the "writes:" line of info
};

TEST_F(ZelprogRange, PageWritesProgramA24c256AndATooLargePageShowsAsMismatches) {
    const Bytes image = RandomBytes(k24c256, 80);
    Write("image.bin", AsString(image));
    const std::vector<PageCase> cases = {
        {"the part's page", {}, 0, "writes:         pages of 64 bytes (the page of the 24c256)\n"},
        {"byte writes", {"--byte-writes"}, 0, "writes:         byte by byte (--byte-writes)\n"},
        {"a smaller page", {"--page-size", "16"}, 0, "writes:         pages of 16 bytes (--page-size)\n"},
        {"a page too large for the part", {"--page-size", "128"}, 1, nullptr},
    };
    for (const PageCase &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Zel({"--part", "24c256", "clear"}).exitCode, 0);
        std::vector<std::string> args = {"--part", "24c256"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<std::string> program = args;
        program.insert(program.end(), {"program", Path("image.bin")});
        const ProcessResult r = Zel(program);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        if (c.exitCode != 0) {
            EXPECT_NE(r.err.find("ERROR: byte 0x"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("bytes differ"), std::string::npos) << r.err;
            EXPECT_NE(ReadBacking("24c256"), AsString(image));
            continue;
        }
        EXPECT_EQ(ReadBacking("24c256"), AsString(image));
        args.push_back("info");
        EXPECT_NE(Zel(args).out.find(c.infoWrites), std::string::npos);
    }
    const ProcessResult bad = Zel({"--part", "24c256", "--page-size", "48", "info"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("--page-size takes a power of two"), std::string::npos) << bad.err;
}

TEST_F(ZelprogRange, SizingFromTheHeaderReadsOnlyTheHeader) {
    ASSERT_EQ(Zel({"--part", "24c256", "write-header"}).exitCode, 0);
    const std::string log = Path("bus.log");
    const ProcessResult r =
        Zel({"--link", "SIMPART=24c256 SIMFILE=" + BackingFile("24c256") + " SIMLOG=" + log, "info"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("header:         24c256: 32768 bytes"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("pages of 64 bytes"), std::string::npos) << r.out;
    // a read of all 32768 bytes would log every one of them
    EXPECT_LT(fs::file_size(log), 4096u);
}

} // namespace
} // namespace zelprog::test
