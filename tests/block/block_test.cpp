// Chunked reads, single byte writes with acknowledge polling and differential
// block writes against the virtual target, decoded from the register log.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstdlib>

#include "block_fixture.h"
#include "eeprom/block.h"
#include "eeprom/bus.h"
#include "spi/pio.h"

namespace {

using blocktest::BlockTest;
using blocktest::Progress;
using blocktest::Recorded;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::EndsWith;

constexpr uint16_t kUntouched = 0xEEEE;

// Bytes received by each read transaction (those addressed with bit 0 set).
std::vector<int> ReadLengths(const std::vector<zeltest::BusEvent> &events) {
    std::vector<int> lengths;
    bool reading = false;
    for (size_t i = 0; i < events.size(); ++i) {
        const zeltest::BusEvent &event = events[i];
        if (event.kind == zeltest::BusEvent::Kind::Start) {
            const bool readAddress = i + 1 < events.size() &&
                                     events[i + 1].kind == zeltest::BusEvent::Kind::Byte &&
                                     (events[i + 1].value & 1) != 0;
            reading = readAddress;
            if (readAddress) {
                lengths.push_back(-1); // the address byte itself is not data
            }
        } else if (event.kind == zeltest::BusEvent::Kind::Stop) {
            reading = false;
        } else if (reading && event.kind == zeltest::BusEvent::Kind::Byte) {
            ++lengths.back();
        }
    }
    return lengths;
}

size_t Occurrences(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// ---------------------------------------------------------------------------

struct ReadRow {
    const char *name;
    const char *config;
    int sizeBits, blockBits;
    uint32_t address, length;
    const char *bus;
    std::vector<uint16_t> words;
};

void PrintTo(const ReadRow &row, std::ostream *out) { *out << row.name; }

class ReadSequence : public BlockTest, public testing::WithParamInterface<ReadRow> {};

// Cells from the address on hold 0xC0, 0xC1, ...: one random read per chunk,
// addressed at its first byte, with the block-select bits in the device byte.
TEST_P(ReadSequence, AddressesTheChunkOnceAndUnpacksLowByteFirst) {
    const ReadRow &row = GetParam();
    Open(row.config, row.sizeBits, row.blockBits);
    for (uint32_t i = 0; i < row.length; ++i) {
        Target().Memory()[row.address + i] = static_cast<uint8_t>(0xC0 + i);
    }
    std::vector<uint16_t> words(row.words.size(), kUntouched);
    EXPECT_TRUE(zel::ReadBlock(row.address, words.data(), row.length, zel::kNoProgress));
    EXPECT_EQ(BusText(), row.bus);
    EXPECT_THAT(words, ElementsAreArray(row.words));
    EXPECT_TRUE(Progress().seen.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReadSequence,
    testing::Values(
        ReadRow{"TwoAddressBytes",
                "SIMPART=24C256",
                15,
                0,
                0x0123,
                4,
                "S a0+ 01+ 23+ S a1+ c0+ c1+ c2+ c3- P",
                {0xC1C0, 0xC3C2, kUntouched}},
        ReadRow{"OneBlockBit", "SIMPART=24C04", 9, 1, 0x1FE, 2, "S a2+ fe+ S a3+ c0+ c1- P", {0xC1C0, kUntouched}},
        ReadRow{"ThreeBlockBits", "SIMPART=24C16", 11, 7, 0x5A3, 1, "S aa+ a3+ S ab+ c0- P", {0x00C0, kUntouched}},
        ReadRow{"BlockBitAboveTwoAddressBytes",
                "SIMPART=24C1024",
                17,
                1,
                0x1ABCD,
                3,
                "S a2+ ab+ cd+ S a3+ c0+ c1+ c2- P",
                {0xC1C0, 0x00C2, kUntouched}},
        ReadRow{"OddLengthClearsTheHighByte",
                "SIMPART=24C02",
                8,
                0,
                0x11,
                3,
                "S a0+ 11+ S a1+ c0+ c1+ c2- P",
                {0xC1C0, 0x00C2, kUntouched}}),
    [](const testing::TestParamInfo<ReadRow> &info) { return std::string(info.param.name); });

TEST_F(BlockTest, ReadOf130BytesTakesChunksOf64And64And2) {
    Open("SIMPART=24C256", 15, 0);
    for (uint32_t i = 0; i < 130; ++i) {
        Target().Memory()[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    std::vector<uint16_t> words(66, kUntouched);
    ASSERT_TRUE(zel::ReadBlock(0, words.data(), 130, Recorded()));
    EXPECT_THAT(ReadLengths(zeltest::DecodeBus(transport().Registers())), ElementsAre(64, 64, 2));
    EXPECT_THAT(Progress().seen, ElementsAre(0, 0, 49, 98, 100));
    const auto cell = [](uint32_t k) { return static_cast<uint8_t>(k * 7 + 3); };
    for (uint32_t k = 0; k < 130; k += 2) {
        ASSERT_EQ(words[k / 2], cell(k) | cell(k + 1) << 8) << "word " << k / 2;
    }
    EXPECT_EQ(words[65], kUntouched);
}

TEST_F(BlockTest, EmptyRangeMovesNothingAndReportsStartAndEnd) {
    Open("SIMPART=24C02", 8, 0);
    uint16_t word = kUntouched;
    EXPECT_TRUE(zel::ReadBlock(0x10, &word, 0, Recorded()));
    EXPECT_TRUE(zel::WriteBlock(0x10, &word, 0, Recorded()));
    EXPECT_TRUE(transport().Registers().empty());
    EXPECT_THAT(Progress().seen, ElementsAre(0, 100, 0, 100));
    EXPECT_EQ(word, kUntouched);
}

// ---------------------------------------------------------------------------

struct ChunkFailureRow {
    const char *name;
    uint64_t transaction; // of the read, 1-based
    uint32_t byte;        // the device ignores this byte of it
    size_t filledWords;
    std::vector<int> progress;
};

void PrintTo(const ChunkFailureRow &row, std::ostream *out) { *out << row.name; }

class ChunkFailure : public BlockTest, public testing::WithParamInterface<ChunkFailureRow> {};

// A chunk that fails ends the read: the bus is recovered, words of earlier
// chunks keep their values, the rest stay untouched and 100 is not reported.
TEST_P(ChunkFailure, EndsTheReadAfterOneRecovery) {
    const ChunkFailureRow &row = GetParam();
    Open("SIMPART=24C256", 15, 0);
    Target().Fill(0x5A);
    const uint64_t before = Transactions();
    RefuseByte(row.transaction, row.byte);
    std::vector<uint16_t> words(65, kUntouched);
    EXPECT_FALSE(zel::ReadBlock(0, words.data(), 130, Recorded()));
    EXPECT_THAT(BusText(), EndsWith("- P S P")); // the failed transaction, then start and stop
    EXPECT_EQ(Transactions() - before, row.transaction + 1);
    for (size_t i = 0; i < words.size(); ++i) {
        ASSERT_EQ(words[i], i < row.filledWords ? 0x5A5A : kUntouched) << "word " << i;
    }
    EXPECT_EQ(Progress().seen, row.progress);
}

INSTANTIATE_TEST_SUITE_P(Table, ChunkFailure,
                         testing::Values(ChunkFailureRow{"FirstChunkMemoryAddress", 1, 2, 0, {0}},
                                         ChunkFailureRow{"SecondChunkDeviceAddress", 2, 1, 32, {0, 0}},
                                         ChunkFailureRow{"SecondChunkReadAddress", 2, 4, 32, {0, 0}},
                                         ChunkFailureRow{"ThirdChunkLowAddressByte", 3, 3, 64, {0, 0, 49}}),
                         [](const testing::TestParamInfo<ChunkFailureRow> &info) {
                             return std::string(info.param.name);
                         });

// With no memory-address bytes the chunk read becomes a current-address
// read, one count short of a random read: it fails, and so does every write.
TEST_F(BlockTest, NoAddressBytesFailAtTheFirstChunk) {
    Open("SIMPART=24C256", 0, 0);
    Target().Fill(0x00);
    std::vector<uint16_t> words(2, kUntouched);
    EXPECT_FALSE(zel::ReadBlock(0, words.data(), 4, zel::kNoProgress));
    EXPECT_EQ(BusText(), "S a1+ 00+ 00+ 00+ 00- P S P");
    EXPECT_THAT(words, ElementsAre(kUntouched, kUntouched));
    const uint16_t image[2] = {0x1111, 0x2222};
    EXPECT_FALSE(zel::WriteBlock(0, image, 4, zel::kNoProgress));
    EXPECT_EQ(WriteCycles(), 0u);
}

// ---------------------------------------------------------------------------

struct RefusalRow {
    const char *name;
    const char *config;
    bool attach;
    int sizeBits, blockBits;
};

void PrintTo(const RefusalRow &row, std::ostream *out) { *out << row.name; }

class Refusal : public BlockTest, public testing::WithParamInterface<RefusalRow> {};

TEST_P(Refusal, TransfersReturnFalseWithoutBusTraffic) {
    const RefusalRow &row = GetParam();
    if (row.attach) {
        Open(row.config, row.sizeBits, row.blockBits);
    } else {
        ASSERT_TRUE(OpenTarget(row.config));
        transport().ClearLog();
    }
    uint16_t words[2] = {kUntouched, kUntouched};
    EXPECT_FALSE(zel::ReadBlock(0, words, 4, Recorded()));
    EXPECT_FALSE(zel::WriteBlock(0, words, 4, Recorded()));
    EXPECT_FALSE(zel::WriteDataByte(0, 0x12));
    EXPECT_EQ(zel::CheckSize(), 0);
    EXPECT_TRUE(transport().Registers().empty());
    EXPECT_TRUE(Progress().seen.empty());
    EXPECT_THAT(words, ElementsAre(kUntouched, kUntouched));
}

INSTANTIATE_TEST_SUITE_P(Table, Refusal,
                         testing::Values(RefusalRow{"BeforeAttach", "SIMPART=24C02", false, 0, 0},
                                         RefusalRow{"ThreeAddressBytes", "SIMPART=24C1024", true, 17, 0}),
                         [](const testing::TestParamInfo<RefusalRow> &info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------

struct PollRow {
    const char *name;
    uint32_t writeCycleMs;
    bool acknowledged;    // the last probe is answered
    int64_t minUs, maxUs; // how long the unanswered probes cover
};

void PrintTo(const PollRow &row, std::ostream *out) { *out << row.name; }

class ByteWrite : public BlockTest, public testing::WithParamInterface<PollRow> {};

// The write command goes out with the write-protect line low; probes follow
// at once and end at the first one answered, or after 20 ms; then the line
// goes high again.
TEST_P(ByteWrite, PollsUntilTheWriteCycleEnds) {
    const PollRow &row = GetParam();
    Open("SIMPART=24C256 SIMTWR=" + std::to_string(row.writeCycleMs), 15, 0);
    zel::BusTransfer(0xAE, nullptr, 0, false, nullptr, 0); // nobody answers there
    const auto probeUs = static_cast<int64_t>(transport().Registers().size());
    transport().ClearLog();

    EXPECT_TRUE(zel::WriteDataByte(0x0123, 0x5A));
    EXPECT_EQ(Target().Memory()[0x0123], 0x5A);

    const std::string bus = BusText();
    const size_t unanswered = Occurrences(bus, "S a0- P");
    const std::string answered = row.acknowledged ? " S a0+ P" : "";
    std::string expected = "S a0+ 01+ 23+ 5a+ P";
    for (size_t i = 0; i < unanswered; ++i) {
        expected += " S a0- P";
    }
    EXPECT_EQ(bus, expected + answered);
    const int64_t pollingUs = static_cast<int64_t>(unanswered) * probeUs;
    EXPECT_GE(pollingUs, row.minUs - 2 * probeUs) << unanswered << " probes of " << probeUs << " us";
    EXPECT_LE(pollingUs, row.maxUs + 2 * probeUs) << unanswered << " probes of " << probeUs << " us";

    const std::vector<zeltest::RegisterAccess> log = transport().Registers();
    constexpr uint16_t kWriteProtect = 1u << 8;
    std::vector<bool> levels;
    for (const zeltest::RegisterAccess &access : log) {
        if (access.kind == zeltest::AccessKind::Write && access.address == zel::kRegOutputLevel) {
            levels.push_back((access.value & kWriteProtect) != 0);
        }
    }
    ASSERT_GE(levels.size(), 2u);
    EXPECT_FALSE(levels.front()); // the first write of the level register lowers it
    EXPECT_TRUE(levels.back());
    EXPECT_EQ(std::count(levels.begin(), levels.end() - 1, true), 0)
        << "write-protect line high during the command or the polling";
    EXPECT_EQ(log.back().address, zel::kRegOutputEnable); // level first, then enable
}

INSTANTIATE_TEST_SUITE_P(Table, ByteWrite,
                         testing::Values(PollRow{"NoWriteCycle", 0, true, 0, 0},
                                         PollRow{"FiveMilliseconds", 5, true, 5000, 5000},
                                         PollRow{"FifteenMilliseconds", 15, true, 15000, 15000},
                                         // the deadline is 20 ticks of a millisecond counter
                                         PollRow{"OutlastsThePolling", 100, false, 19000, 20000}),
                         [](const testing::TestParamInfo<PollRow> &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------

struct DifferentialRow {
    const char *name;
    std::vector<uint8_t> present; // cells from 0x20 on
    std::vector<uint16_t> image;
    uint32_t length;
    std::vector<int> writtenOffsets;
    std::vector<int> progress;
};

void PrintTo(const DifferentialRow &row, std::ostream *out) { *out << row.name; }

class Differential : public BlockTest, public testing::WithParamInterface<DifferentialRow> {};

// Only bytes that differ get a write command and a write cycle of their own.
TEST_P(Differential, WritesOnlyTheBytesThatDiffer) {
    const DifferentialRow &row = GetParam();
    Open("SIMPART=24C02 SIMTWR=1", 8, 0);
    Store(0x20, row.present);
    ASSERT_TRUE(zel::WriteBlock(0x20, row.image.data(), row.length, Recorded()));

    for (int offset : row.writtenOffsets) {
        const uint8_t value = static_cast<uint8_t>(row.image[offset / 2] >> (offset % 2 * 8));
        char command[32];
        std::snprintf(command, sizeof command, "S a0+ %02x+ %02x+ P", 0x20 + offset, value);
        EXPECT_EQ(Occurrences(BusText(), command), 1u) << command;
    }
    EXPECT_EQ(WriteCycles(), row.writtenOffsets.size());
    for (uint32_t k = 0; k < row.length; ++k) {
        EXPECT_EQ(Target().Memory()[0x20 + k], static_cast<uint8_t>(row.image[k / 2] >> (k % 2 * 8)));
    }
    EXPECT_EQ(Progress().seen, row.progress);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Differential,
    testing::Values(
        DifferentialRow{
            "AlreadyEqual", {0x11, 0x22, 0x33, 0x44}, {0x2211, 0x4433}, 4, {}, {0, 0, 25, 50, 75, 100}},
        DifferentialRow{"OnlyTheHighByteOfTheFirstWord", {0x11, 0x22}, {0x9911}, 2, {1}, {0, 0, 50, 100}},
        DifferentialRow{"EveryByte", {0x11, 0x22, 0x33}, {0xAA99, 0x00BB}, 3, {0, 1, 2}, {0, 0, 33, 66, 100}}),
    [](const testing::TestParamInfo<DifferentialRow> &info) { return std::string(info.param.name); });

TEST_F(BlockTest, WriteOf130BytesComparesInChunksOf64) {
    Open("SIMPART=24C256 SIMTWR=1", 15, 0);
    Target().Fill(0x00);
    std::vector<uint16_t> image(65, 0x0000);
    image[40] = 0x00AB; // byte 80, in the second chunk
    ASSERT_TRUE(zel::WriteBlock(0, image.data(), 130, zel::kNoProgress));
    EXPECT_THAT(ReadLengths(zeltest::DecodeBus(transport().Registers())), ElementsAre(64, 64, 2));
    EXPECT_EQ(WriteCycles(), 1u);
    EXPECT_EQ(Target().Memory()[80], 0xAB);
}

// ---------------------------------------------------------------------------

struct ByteFailureRow {
    const char *name;
    uint32_t byte; // the device ignores this byte of the third write command
};

void PrintTo(const ByteFailureRow &row, std::ostream *out) { *out << row.name; }

class ByteFailure : public BlockTest, public testing::WithParamInterface<ByteFailureRow> {};

// A failed byte write ends the block: earlier bytes stay written, later ones
// are neither compared nor written, the bus is recovered and 100 is not told.
TEST_P(ByteFailure, EndsTheBlockAfterOneRecovery) {
    Open("SIMPART=24C02 SIMTWR=0", 8, 0);
    Store(0x40, {0x01, 0x02, 0x03, 0x04});
    // with no write cycle each byte is one command and one answered probe:
    // chunk read 1, bytes at 2-3 and 4-5, the third command is transaction 6
    RefuseByte(6, GetParam().byte);
    const uint16_t image[2] = {0xB2B1, 0xB4B3};
    EXPECT_FALSE(zel::WriteBlock(0x40, image, 4, Recorded()));
    EXPECT_EQ(Cells(0x40, 4), (std::vector<uint8_t>{0xB1, 0xB2, 0x03, 0x04}));
    EXPECT_EQ(WriteCycles(), 2u);
    EXPECT_THAT(BusText(), EndsWith(" P S a0+ P S P")); // command, the probe, recovery
    EXPECT_EQ(Occurrences(BusText(), "S a0+ 43+"), 0u);
    EXPECT_THAT(Progress().seen, ElementsAre(0, 0, 25));
}

INSTANTIATE_TEST_SUITE_P(Table, ByteFailure,
                         testing::Values(ByteFailureRow{"DeviceAddress", 1}, ByteFailureRow{"MemoryAddress", 2},
                                         ByteFailureRow{"Value", 3}),
                         [](const testing::TestParamInfo<ByteFailureRow> &info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------

struct StopRow {
    const char *name;
    bool write;
    size_t stopAtReport;
    uint64_t transactions;
    size_t filledWords;
    std::vector<int> progress;
};

void PrintTo(const StopRow &row, std::ostream *out) { *out << row.name; }

class Stop : public BlockTest, public testing::WithParamInterface<StopRow> {};

// A stop request ends the transfer at the report that sees it: false, no
// further bus traffic, no recovery (the bus is idle between transactions),
// no 100.
TEST_P(Stop, EndsTheTransferAtTheReport) {
    const StopRow &row = GetParam();
    Open("SIMPART=24C02 SIMTWR=0", 8, 0);
    Target().Fill(0x00);
    Progress().stopAtReport = row.stopAtReport;
    std::vector<uint16_t> words(65, 0x5A5A);
    const uint64_t before = Transactions();
    const bool result = row.write ? zel::WriteBlock(0, words.data(), 130, Recorded())
                                  : zel::ReadBlock(0, words.data(), 130, Recorded());
    EXPECT_FALSE(result);
    EXPECT_EQ(Transactions() - before, row.transactions);
    EXPECT_EQ(Progress().seen, row.progress);
    for (size_t i = 0; !row.write && i < words.size(); ++i) {
        // the chunk that saw the stop is not unpacked
        ASSERT_EQ(words[i], i < row.filledWords ? 0x0000 : 0x5A5A) << "word " << i;
    }
    if (row.write) {
        EXPECT_EQ(WriteCycles(), 2u);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Stop,
                         testing::Values(StopRow{"ReadAtTheStart", false, 1, 0, 0, {0}},
                                         StopRow{"ReadAfterTheSecondChunk", false, 3, 2, 32, {0, 0, 49}},
                                         // chunk read, then command and probe for each of the first two bytes
                                         StopRow{"WriteAfterTheSecondByte", true, 3, 5, 0, {0, 0, 0}}),
                         [](const testing::TestParamInfo<StopRow> &info) { return std::string(info.param.name); });

} // namespace
