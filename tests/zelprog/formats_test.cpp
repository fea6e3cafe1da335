// The image converters of zelprog, without any device: Intel HEX parsing and
// emitting, the text image, binary fitting, and the header bytes.
#include "formats/image.h"
#include "formats/image_format.h"
#include "core/parts.h"
#include "support/test_data.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

namespace zelprog {
namespace {

using zeltest::RandomBytes;

struct Cell {
    std::size_t address;
    uint8_t value;
};

struct RecordCase {
    ImageFormat format;
    const char *name;
    std::string text;
    std::size_t deviceSize;
    const char *errorPart; // null: the parse succeeds
    std::vector<Cell> cells;
};

TEST(RecordFormats, ParseRecordsAndNameTheFaultyLine) {
    constexpr ImageFormat hex = ImageFormat::IntelHex, srec = ImageFormat::SRecord;
    const std::string eof = ":00000001FF\n", end = "S9030000FC\n";
    const std::vector<RecordCase> cases = {
        {hex,
         "data at zero",
         ":0400000001020304F2\n" + eof,
         256,
         nullptr,
         {{0, 1}, {3, 4}, {4, 0xFF}, {255, 0xFF}}},
        {hex, "crlf and blank lines", "\r\n:0400000001020304F2\r\n\r\n" + eof, 256, nullptr, {{0, 1}, {3, 4}}},
        {hex, "lowercase digits", ":02001000dead63\n" + eof, 256, nullptr, {{0x10, 0xDE}, {0x11, 0xAD}}},
        {hex, "segment base", ":020000020010EC\n:01000000AA55\n" + eof, 512, nullptr, {{0x100, 0xAA}, {0, 0xFF}}},
        {hex,
         "linear base",
         ":020000040001F9\n:01000500BB3F\n" + eof,
         131072,
         nullptr,
         {{0x10005, 0xBB}, {5, 0xFF}}},
        {hex,
         "segment offset wraps",
         ":020000021000EC\n:02FFFF000102FD\n" + eof,
         131072,
         nullptr,
         {{0x1FFFF, 1}, {0x10000, 2}}},
        {hex, "start address ignored", ":0400000500001234B1\n:01000000AA55\n" + eof, 256, nullptr, {{0, 0xAA}}},
        {hex, "stops at end of file", eof + "garbage\n", 256, nullptr, {{0, 0xFF}}},
        {hex, "bad checksum", ":01000000AA54\n" + eof, 256, "line 1: checksum is 0x54", {}},
        {hex, "no end record", ":01000000AA55\n", 256, "no end-of-file record", {}},
        {hex,
         "missing colon",
         ":01000000AA55\n01000000AA55\n" + eof,
         256,
         "line 2: a record must begin with ':'",
         {}},
        {hex, "odd digit count", ":01000000AA5\n" + eof, 256, "line 1: a record holds an even number", {}},
        {hex, "count mismatch", ":0200000001FD\n" + eof, 256, "line 1: the byte count says 2", {}},
        {hex, "not hex", ":01000000AG55\n" + eof, 256, "line 1: 'AG' is not a hexadecimal byte", {}},
        {hex, "unknown type", ":00000006FA\n" + eof, 256, "line 1: record type 0x6", {}},
        {hex,
         "beyond device",
         ":020000040001F9\n:01000500BB3F\n" + eof,
         65536,
         "line 2: data at address 0x10005 lies beyond",
         {}},
        {hex,
         "last byte fits, next does not",
         ":02FFFF000102FD\n" + eof,
         65536,
         "address 0x10000 lies beyond",
         {}},

        {srec,
         "s1 data",
         "S0030000FC\nS1050010ABCD72\n" + end,
         256,
         nullptr,
         {{0x10, 0xAB}, {0x11, 0xCD}, {0x12, 0xFF}}},
        {srec, "s2 data, s8 end", "S20600FFF0010207\nS804000000FB\n", 131072, nullptr, {{0xFFF0, 1}, {0xFFF1, 2}}},
        {srec,
         "s3 data, s7 end, crlf",
         "S3060001000055A3\r\nS70500000000FA\r\n",
         131072,
         nullptr,
         {{0x10000, 0x55}}},
        {srec, "count record ignored", "S5030001FB\nS1040000AA51\n" + end, 256, nullptr, {{0, 0xAA}}},
        {srec, "stops at the end", end + "garbage\n", 256, nullptr, {{0, 0xFF}}},
        {srec,
         "bad checksum",
         "S1040000AA52\n" + end,
         256,
         "line 1: checksum is 0x52, the record's bytes give 0x51",
         {}},
        {srec, "no end", "S1040000AA51\n", 256, "no termination record", {}},
        {srec, "unknown type", "S4030000FC\n" + end, 256, "line 1: a record begins with", {}},
        {srec, "count too short", "S1020000FD\n" + end, 256, "line 1: the byte count", {}},
        {srec, "count mismatch", "S1050000AA51\n" + end, 256, "line 1: the byte count", {}},
        {srec, "not hex", "S1040000AG51\n" + end, 256, "line 1: 'AG' is not", {}},
        {srec, "beyond device", "S1040100AA50\n" + end, 256, "line 1: data at address 0x100 lies beyond", {}},
    };
    for (const RecordCase &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes;
        std::string error;
        const auto parse = c.format == hex ? ParseIntelHex : ParseSRecord;
        const bool ok = parse(c.text, c.deviceSize, bytes, error, nullptr);
        if (c.errorPart != nullptr) {
            EXPECT_FALSE(ok);
            EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
            continue;
        }
        ASSERT_TRUE(ok) << error;
        ASSERT_EQ(bytes.size(), c.deviceSize);
        for (const Cell &cell : c.cells)
            EXPECT_EQ(bytes[cell.address], cell.value) << "address " << cell.address;
    }
}

TEST(IntelHex, EmittedFileParsesBackToTheSameBytes) {
    for (const std::size_t size : {std::size_t{128}, std::size_t{1000}, std::size_t{65536}, std::size_t{131072}}) {
        SCOPED_TRACE(size);
        const Bytes original = RandomBytes(size, static_cast<unsigned>(size));
        Bytes back;
        std::string error;
        ASSERT_TRUE(ParseIntelHex(EmitIntelHex(original), size, back, error)) << error;
        EXPECT_EQ(back, original);
    }
}

TEST(IntelHex, EmitsSixteenByteRecordsAndLinearBaseAbove64K) {
    const Bytes bytes = {0xDE, 0xAD};
    EXPECT_EQ(EmitIntelHex(bytes), ":02000000DEAD73\n:00000001FF\n");
    const std::string big = EmitIntelHex(Bytes(65536 + 16, 0));
    EXPECT_NE(big.find(":020000040001F9\n:10000000" + std::string(32, '0') + "F0\n"), std::string::npos);
    EXPECT_EQ(big.find(":02000004"), big.rfind(":02000004")) << "one base record only";
}

TEST(Ranges, IntelHexAcross64KAndTextWordsEncodeAndDecodeAsRuns) {
    const Bytes bytes = RandomBytes(40, 9);
    const std::string hex = EmitIntelHex(bytes, 0xFFF0);
    EXPECT_EQ(hex.rfind(":10FFF000", 0), 0u) << hex;
    EXPECT_NE(hex.find("\n:020000040001F9\n:10000000"), std::string::npos) << "no record crosses 64 KiB: " << hex;
    Runs runs;
    std::string error;
    ASSERT_TRUE(DecodeRuns(ImageFormat::IntelHex, hex, 131072, runs, error)) << error;
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].address, 0xFFF0u);
    EXPECT_EQ(runs[0].bytes, bytes);
    std::string text;
    ASSERT_TRUE(EncodeRange(ImageFormat::Text, 0x20, Bytes{1, 2, 3, 4}, text));
    EXPECT_EQ(text, "@0010  0201\n@0011  0403\n");
    EXPECT_FALSE(EncodeRange(ImageFormat::Text, 0x21, Bytes{1, 2}, text)) << "a text image holds whole words";
    ASSERT_TRUE(DecodeRuns(ImageFormat::Text, "@0001  0201\n@0003 0403\n@0004 0605\n", 256, runs, error)) << error;
    ASSERT_EQ(runs.size(), 2u) << "words 1 and 3..4 are two runs";
    EXPECT_EQ(runs[1].address, 6u);
    EXPECT_EQ(runs[1].bytes, (Bytes{3, 4, 5, 6}));
    EXPECT_FALSE(DecodeRuns(ImageFormat::IntelHex, ":00000001FF\n", 256, runs, error));
    EXPECT_NE(error.find("names no byte"), std::string::npos) << error;
}

TEST(SRecord, EmittedFileParsesBackWithTheShortestAddressThatHoldsIt) {
    for (const auto &[size, address, type] :
         {std::tuple{std::size_t{256}, 0u, 'S'}, std::tuple{std::size_t{100}, 0xFFC0u, '2'},
          std::tuple{std::size_t{131072}, 0u, '2'}}) {
        SCOPED_TRACE(size);
        const Bytes original = RandomBytes(size, static_cast<unsigned>(size));
        const std::string text = EmitSRecord(original, address);
        EXPECT_EQ(text.rfind("S0030000FC\n", 0), 0u);
        if (type == '2')
            EXPECT_NE(text.find("\nS2"), std::string::npos);
        else
            EXPECT_NE(text.find("\nS1"), std::string::npos);
        Runs runs;
        std::string error;
        ASSERT_TRUE(DecodeRuns(ImageFormat::SRecord, text, 131072, runs, error)) << error;
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].address, address);
        EXPECT_EQ(runs[0].bytes, original);
    }
}

// What the text holds is the codec's (tests/data/text_image_cases.tsv); the
// tool names the fault and its line, and lays the words out as bytes.
TEST(TextImage, SaysWhatIsWrongAndWhere) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"@0000 1\n@0080  1234\n", "line 2: word 0x80 lies beyond the end of the 256-byte EEPROM"},
        {"\n@0002  12345\n", "line 2: expected \"@index  value\" with a value of at most four hexadecimal digits"},
        {"@12:34 5\n", "line 1: the word index after '@' is not a hexadecimal number"},
        {"hello\n\n", "holds no image records (lines of the form \"@0000  ffff\")"},
    };
    for (const auto &[text, message] : cases) {
        Bytes bytes;
        std::string error;
        EXPECT_FALSE(ParseTextImage(text, 256, bytes, error)) << text;
        EXPECT_EQ(error, message);
    }
}

TEST(TextImage, NamesTheCellsOfEachRecordLowByteFirst) {
    Bytes bytes;
    std::string error;
    std::vector<bool> named;
    ASSERT_TRUE(ParseTextImage("@0001  3412\n", 7, bytes, error, &named)) << error;
    EXPECT_EQ(bytes, (Bytes{0xFF, 0xFF, 0x12, 0x34, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(named, (std::vector<bool>{false, false, true, true, false, false, false}));
}

TEST(TextImage, WritesOneLowByteFirstWordPerLine) {
    EXPECT_EQ(EmitTextImage(Bytes{0x12, 0x34, 0x56, 0x78}), "@0000  3412\n@0001  7856\n");
    const Bytes big = RandomBytes(131072, 7);
    const std::string text = EmitTextImage(big);
    EXPECT_NE(text.find("\n@ffff  "), std::string::npos);
    Bytes back;
    std::string error;
    ASSERT_TRUE(ParseTextImage(text, big.size(), back, error)) << error;
    EXPECT_EQ(back, big);
}

struct BinCase {
    std::size_t fileSize;
    bool pad;
    const char *errorPart;
};

TEST(Binary, FitsTheDeviceOrPadsWhenAsked) {
    const std::vector<BinCase> cases = {
        {256, false, nullptr},
        {256, true, nullptr},
        {100, true, nullptr},
        {0, true, nullptr},
        {100, false, "fewer than the 256-byte EEPROM (pass --pad"},
        {257, false, "more than the 256-byte EEPROM"},
        {257, true, "more than the 256-byte EEPROM"},
    };
    for (const BinCase &c : cases) {
        SCOPED_TRACE(std::to_string(c.fileSize) + (c.pad ? " padded" : ""));
        const Bytes data = RandomBytes(c.fileSize, 3);
        Bytes bytes;
        std::string error;
        const bool ok = FitBinary(std::string(data.begin(), data.end()), 256, c.pad, bytes, error);
        if (c.errorPart != nullptr) {
            EXPECT_FALSE(ok);
            EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
            continue;
        }
        ASSERT_TRUE(ok) << error;
        ASSERT_EQ(bytes.size(), 256u);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), bytes.begin()));
        EXPECT_TRUE(std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(c.fileSize), bytes.end(),
                                [](uint8_t b) { return b == 0xFF; }));
    }
}

TEST(ImageFormat, ChosenByNameOrByExtension) {
    const std::vector<std::pair<const char *, ImageFormat>> paths = {
        {"a.bin", ImageFormat::Binary},      {"A.BIN", ImageFormat::Binary},   {"a.hex", ImageFormat::IntelHex},
        {"x/a.ihex", ImageFormat::IntelHex}, {"a.img", ImageFormat::Text},     {"-", ImageFormat::Text},
        {"bin", ImageFormat::Text},          {"a.srec", ImageFormat::SRecord}, {"a.S19", ImageFormat::SRecord},
        {"a.s28", ImageFormat::SRecord},     {"a.s37", ImageFormat::SRecord},
    };
    for (const auto &[path, format] : paths)
        EXPECT_EQ(FormatFromPath(path), format) << path;
    EXPECT_EQ(ParseFormatName("IHEX"), ImageFormat::IntelHex);
    EXPECT_EQ(ParseFormatName("bin"), ImageFormat::Binary);
    EXPECT_EQ(ParseFormatName("SREC"), ImageFormat::SRecord);
    EXPECT_FALSE(ParseFormatName("s19").has_value());
}

struct HeaderCase {
    int sizeBits, blockBits;
    std::size_t at;
    std::vector<uint8_t> header;
    int addressBytes;
};

TEST(GeometryHeader, FoundWhereTheAddressBytesPutIt) {
    const std::vector<HeaderCase> cases = {
        {7, 0, 1, {0x38, 0xC7, 0x38, 0xC7}, 1},  {8, 0, 1, {0x40, 0xBF, 0x40, 0xBF}, 1},
        {9, 1, 1, {0x49, 0xB6, 0x49, 0xB6}, 1},  {11, 7, 1, {0x5F, 0xA0, 0x5F, 0xA0}, 1},
        {12, 0, 0, {0x60, 0x9F, 0x60, 0x9F}, 2}, {15, 0, 0, {0x78, 0x87, 0x78, 0x87}, 2},
        {17, 1, 0, {0x89, 0x76, 0x89, 0x76}, 2},
    };
    for (const HeaderCase &c : cases) {
        SCOPED_TRACE("S" + std::to_string(c.sizeBits) + " B" + std::to_string(c.blockBits));
        EXPECT_EQ(AddressBytes(c.sizeBits, c.blockBits), c.addressBytes);
        Bytes image(16, 0xFF);
        std::copy(c.header.begin(), c.header.end(), image.begin() + static_cast<std::ptrdiff_t>(c.at));
        int blockBits = -1;
        EXPECT_TRUE(HeaderBlockBits(image, c.sizeBits, blockBits));
        EXPECT_EQ(blockBits, c.blockBits);
        EXPECT_FALSE(HeaderBlockBits(image, c.sizeBits + 1, blockBits)) << "another size is not found";
        Bytes shifted(16, 0xFF);
        std::copy(c.header.begin(), c.header.end(), shifted.begin() + static_cast<std::ptrdiff_t>(1 - c.at));
        EXPECT_FALSE(ImageHoldsHeader(shifted, c.sizeBits, c.blockBits)) << "the wrong position is not accepted";
    }
}

TEST(Parts, NamesMapToSizeAndBlockBits) {
    ASSERT_NE(FindPart("24C1025"), nullptr);
    EXPECT_EQ(FindPart("24C1025")->sizeBits, 17);
    EXPECT_EQ(FindPart("24c1025")->blockBits, 4);
    EXPECT_EQ(FindPart("24c16")->blockBits, 7);
    EXPECT_EQ(FindPart("24c3"), nullptr);
    EXPECT_EQ(FindPart("AT24CM02"), FindPart("24cm02"));
    for (const PartGeometry &p : KnownParts()) {
        const PartGeometry *same = FindPartByGeometry(p.sizeBits, p.blockBits);
        ASSERT_NE(same, nullptr);
        EXPECT_EQ(same->sizeBits, p.sizeBits);
        EXPECT_EQ(same->blockBits, p.blockBits);
        EXPECT_LE(AddressBytes(p.sizeBits, p.blockBits), 2) << p.name;
    }
}

} // namespace
} // namespace zelprog
