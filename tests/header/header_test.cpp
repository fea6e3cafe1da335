// The geometry header through the exports, on virtual parts of each row of
// the geometry table; the descriptor is looked at directly.
#include <gmock/gmock.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "eeprom/block.h"
#include "eeprom/device.h"
#include "spi/batch.h"
#include "spi/pio.h"
#include "support/test_transport.h"
#include "zelapi.h"

namespace {

using testing::EndsWith;
using testing::Not;
using testing::StartsWith;

class Header : public zeltest::LinkTest {
protected:
    void Open(const std::string &config, int sizeBits, int blockBits) {
        ASSERT_TRUE(Attach(config, sizeBits, blockBits)) << config;
        transport().ClearLog();
    }

    void Store(uint32_t address, const std::vector<uint8_t> &bytes) {
        for (size_t i = 0; i < bytes.size(); ++i) {
            Target().Memory()[address + i] = bytes[i];
        }
    }

    std::vector<uint8_t> Cells(uint32_t address, uint32_t count) {
        const auto memory = Target().Memory();
        return {memory.begin() + address, memory.begin() + address + count};
    }

    uint64_t WriteCycles() { return Target().GetCounters().writeCycles; }

    // sizeBits, blockBits, addressBytes
    static std::vector<unsigned> Geometry() { return {zel::SizeBits(), zel::BlockBits(), zel::AddressBytes()}; }
};

// ---------------------------------------------------------------------------

struct PartRow {
    const char *part;
    int sizeBits, blockBits;
    unsigned addressBytes;
    uint32_t position;
    std::vector<uint8_t> bytes;
};

void PrintTo(const PartRow &row, std::ostream *out) { *out << row.part; }

class RoundTrip : public Header, public testing::WithParamInterface<PartRow> {};

TEST_P(RoundTrip, WrittenHeaderIsFoundAgain) {
    const PartRow &row = GetParam();
    Open(std::string("SIMTWR=1 SIMPART=") + row.part, row.sizeBits, row.blockBits);
    Target().Fill(0x11);

    EXPECT_EQ(zelWriteHeader(), 1);
    EXPECT_EQ(Cells(row.position, 4), row.bytes);
    EXPECT_EQ(Target().Memory()[0], row.position == 0 ? row.bytes[0] : 0x11);
    EXPECT_EQ(Target().Memory()[row.position + 4], 0x11);
    EXPECT_EQ(WriteCycles(), 4u);

    EXPECT_EQ(zelWriteHeader(), 1);
    EXPECT_EQ(WriteCycles(), 4u) << "the second write changed bytes that already matched";

    // the descriptor as an open with sizeBits 0 leaves it
    zel::SetSizeBits(0);
    zel::SetBlockBits(0);
    zel::DeriveAddressBytes();
    ASSERT_EQ(zel::AddressBytes(), 0u);
    EXPECT_EQ(zelReadHeader(), 1L);
    EXPECT_EQ(Geometry(), (std::vector<unsigned>{static_cast<unsigned>(row.sizeBits),
                                                 static_cast<unsigned>(row.blockBits), row.addressBytes}));
    EXPECT_EQ(WriteCycles(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Table, RoundTrip,
                         testing::Values(PartRow{"24C01", 7, 0, 1, 1, {0x38, 0xC7, 0x38, 0xC7}},
                                         PartRow{"24C02", 8, 0, 1, 1, {0x40, 0xBF, 0x40, 0xBF}},
                                         PartRow{"24C04", 9, 1, 1, 1, {0x49, 0xB6, 0x49, 0xB6}},
                                         PartRow{"24C16", 11, 7, 1, 1, {0x5F, 0xA0, 0x5F, 0xA0}},
                                         PartRow{"24C32", 12, 0, 2, 0, {0x60, 0x9F, 0x60, 0x9F}},
                                         PartRow{"24C256", 15, 0, 2, 0, {0x78, 0x87, 0x78, 0x87}},
                                         PartRow{"24C512", 16, 0, 2, 0, {0x80, 0x7F, 0x80, 0x7F}},
                                         PartRow{"24C1024", 17, 1, 2, 0, {0x89, 0x76, 0x89, 0x76}}),
                         [](const testing::TestParamInfo<PartRow> &info) { return std::string(info.param.part); });

class SizeFromHeader : public Header, public testing::WithParamInterface<PartRow> {};

// The host never gave the size: the header supplies it, and a read of the
// whole device then works, block-select bits included.
TEST_P(SizeFromHeader, WholeDeviceReadsAfterAnOpenWithoutSize) {
    const PartRow &row = GetParam();
    Open(std::string("SIMPART=") + row.part, 0, 0);
    const auto memory = Target().Memory();
    for (size_t i = 0; i < memory.size(); ++i) {
        memory[i] = static_cast<uint8_t>(i * 13 + (i >> 8));
    }
    Store(row.position, row.bytes);
    ASSERT_EQ(zelReadHeader(), 1L);
    const uint32_t size = 1u << zel::SizeBits();
    ASSERT_EQ(size, memory.size());
    std::vector<uint16_t> image(size / 2);
    ASSERT_TRUE(zel::ReadBlock(0, image.data(), size, zel::kNoProgress));
    for (uint32_t k = 0; k < size; ++k) {
        ASSERT_EQ(static_cast<uint8_t>(image[k / 2] >> (k % 2 * 8)), memory[k]) << "byte " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SizeFromHeader,
                         testing::Values(PartRow{"24C02", 8, 0, 1, 1, {0x40, 0xBF, 0x40, 0xBF}},
                                         PartRow{"24C04", 9, 1, 1, 1, {0x49, 0xB6, 0x49, 0xB6}},
                                         PartRow{"24C16", 11, 7, 1, 1, {0x5F, 0xA0, 0x5F, 0xA0}},
                                         PartRow{"24C32", 12, 0, 2, 0, {0x60, 0x9F, 0x60, 0x9F}}),
                         [](const testing::TestParamInfo<PartRow> &info) { return std::string(info.param.part); });

// ---------------------------------------------------------------------------

struct ParseRow {
    const char *name;
    const char *part;
    std::vector<uint8_t> stored; // bytes 0-4
    long result;
    std::vector<unsigned> geometry; // sizeBits, blockBits, addressBytes afterwards
    std::vector<uint8_t> after;     // bytes 0-4 afterwards
};

void PrintTo(const ParseRow &row, std::ostream *out) { *out << row.name; }

class Parse : public Header, public testing::WithParamInterface<ParseRow> {};

// Read with no size known: accepted headers are loaded and, when the copies
// differ, rewritten; rejected ones leave no size and no bus recovery.
TEST_P(Parse, LoadsRepairsOrRejects) {
    const ParseRow &row = GetParam();
    Open(std::string("SIMTWR=1 SIMPART=") + row.part, 0, 0);
    Target().Fill(0xFF);
    Store(0, row.stored);
    EXPECT_EQ(zelReadHeader(), row.result);
    EXPECT_EQ(Geometry(), row.geometry);
    EXPECT_EQ(Cells(0, 5), row.after);
    const std::string bus = BusText();
    EXPECT_THAT(bus, StartsWith("S a0+ 00+ 00+ P S a1+ ")); // two zero bytes, then the read
    if (row.result == 0) {
        EXPECT_THAT(bus, Not(EndsWith("P S P")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Parse,
    testing::Values(
        ParseRow{"Whole", "24C256", {0x78, 0x87, 0x78, 0x87, 0xFF}, 1, {15, 0, 2}, {0x78, 0x87, 0x78, 0x87, 0xFF}},
        ParseRow{"CopyOneRepairsCopyTwo",
                 "24C256",
                 {0x78, 0x87, 0x00, 0x00, 0xFF},
                 1,
                 {15, 0, 2},
                 {0x78, 0x87, 0x78, 0x87, 0xFF}},
        ParseRow{"CopyTwoRepairsCopyOne",
                 "24C256",
                 {0x12, 0x34, 0x78, 0x87, 0xFF},
                 1,
                 {15, 0, 2},
                 {0x78, 0x87, 0x78, 0x87, 0xFF}},
        ParseRow{"BothWellFormedCopyOneWins",
                 "24C256",
                 {0x80, 0x7F, 0x78, 0x87, 0xFF},
                 1,
                 {16, 0, 2},
                 {0x80, 0x7F, 0x80, 0x7F, 0xFF}},
        // copy one is well-formed with S = 6: copy two is not looked at, and
        // alignment 1 (0xCF 0x78 0x87 0xFF) has no well-formed copy
        ParseRow{"CopyOneOutOfRangeHidesCopyTwo",
                 "24C256",
                 {0x30, 0xCF, 0x78, 0x87, 0xFF},
                 0,
                 {0, 0, 0},
                 {0x30, 0xCF, 0x78, 0x87, 0xFF}},
        ParseRow{"RejectKeepsTheLastBlockBits",
                 "24C256",
                 {0x31, 0xCE, 0x78, 0x87, 0xFF},
                 0,
                 {0, 1, 0},
                 {0x31, 0xCE, 0x78, 0x87, 0xFF}},
        ParseRow{"SizeEighteen",
                 "24C256",
                 {0x93, 0x6C, 0xFF, 0xFF, 0xFF},
                 0,
                 {0, 3, 0},
                 {0x93, 0x6C, 0xFF, 0xFF, 0xFF}},
        // a whole S = 18 header: alignment 1 starts at its complement, which
        // is never read as a configuration byte (it would give S = 13, B = 7)
        ParseRow{"SizeEighteenWholeIsNotTakenAtItsComplement",
                 "24C256",
                 {0x90, 0x6F, 0x90, 0x6F, 0xFF},
                 0,
                 {0, 0, 0},
                 {0x90, 0x6F, 0x90, 0x6F, 0xFF}},
        ParseRow{"Blank", "24C256", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0, {0, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        ParseRow{
            "AllZero", "24C256", {0x00, 0x00, 0x00, 0x00, 0x00}, 0, {0, 0, 0}, {0x00, 0x00, 0x00, 0x00, 0x00}},
        // one address byte: the second zero is a data byte kept out by the
        // write-protect line, so the read starts at byte 1
        ParseRow{"OneAddressByteRepair",
                 "24C02",
                 {0x11, 0x40, 0xBF, 0x00, 0x00},
                 1,
                 {8, 0, 1},
                 {0x11, 0x40, 0xBF, 0x40, 0xBF}},
        // S = 17, B = 0 is accepted, but its rewrite has no position
        ParseRow{"ThreeAddressBytesCannotBeRepaired",
                 "24C1024",
                 {0x88, 0x77, 0x00, 0x00, 0xFF},
                 0,
                 {0, 0, 0},
                 {0x88, 0x77, 0x00, 0x00, 0xFF}},
        ParseRow{"OneAddressByteBlank",
                 "24C02",
                 {0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                 0,
                 {0, 0, 0},
                 {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}),
    [](const testing::TestParamInfo<ParseRow> &info) { return std::string(info.param.name); });

// A whole header of S = 18 to 24 at bytes 0-3: the complement of each gives
// S = 13 to 7 at alignment 1. Whatever follows the header, such an EEPROM is
// refused and nothing is written.
TEST_F(Header, OutOfRangeHeaderIsNeverReadAtItsComplement) {
    Open("SIMTWR=1 SIMPART=24C256", 0, 0);
    for (unsigned sizeBits = 18; sizeBits <= 24; ++sizeBits) {
        for (unsigned blockBits : {0u, 3u, 7u}) {
            const auto config = static_cast<uint8_t>(sizeBits << 3 | blockBits);
            const auto complement = static_cast<uint8_t>(config ^ 0xFF);
            for (uint8_t next : {uint8_t{0xFF}, config}) {
                SCOPED_TRACE(testing::Message()
                             << "S " << sizeBits << " B " << blockBits << " then 0x" << std::hex << int{next});
                const std::vector<uint8_t> stored = {config, complement, config, complement, next};
                Store(0, stored);
                const uint64_t cyclesBefore = WriteCycles();

                EXPECT_EQ(zelReadHeader(), 0);

                EXPECT_EQ(zel::SizeBits(), 0u);
                EXPECT_EQ(Cells(0, 5), stored);
                EXPECT_EQ(WriteCycles(), cyclesBefore);
            }
        }
    }
}

// ---------------------------------------------------------------------------

struct BusyRow {
    const char *name;
    uint32_t writeCycleMs;
    long result;
    unsigned sizeBits;
};

void PrintTo(const BusyRow &row, std::ostream *out) { *out << row.name; }

class BusyAfterPointerWrite : public Header, public testing::WithParamInterface<BusyRow> {};

// With the write-protect line low, the second zero byte of the address
// setting is written to byte 0 and the device answers no read address during
// its write cycle: the read is retried for 20 ms.
TEST_P(BusyAfterPointerWrite, RetriesTheReadForTwentyMilliseconds) {
    const BusyRow &row = GetParam();
    Open("SIMPART=24C02 SIMTWR=" + std::to_string(row.writeCycleMs), 0, 0);
    Store(1, {0x40, 0xBF, 0x40, 0xBF});
    zel::SetWriteProtect(false);
    transport().ClearLog();
    const uint32_t start = transport().NowMs();
    EXPECT_EQ(zelReadHeader(), row.result);
    const uint32_t elapsed = transport().NowMs() - start;
    EXPECT_EQ(zel::SizeBits(), row.sizeBits);
    const std::string bus = BusText();
    EXPECT_THAT(bus, StartsWith("S a0+ 00+ 00+ P S a1- P S a1- P"));
    if (row.result == 1) {
        EXPECT_GE(elapsed, row.writeCycleMs);
        EXPECT_LT(elapsed, 20u);
        EXPECT_THAT(bus, EndsWith("S a1+ 40+ bf+ 40+ bf+ ff- P"));
    } else {
        EXPECT_GE(elapsed, 19u);
        EXPECT_LE(elapsed, 21u);
        EXPECT_THAT(bus, EndsWith("S a1- P S P")); // the last attempt, then the recovery
    }
}

INSTANTIATE_TEST_SUITE_P(Table, BusyAfterPointerWrite,
                         testing::Values(BusyRow{"ShortWriteCycle", 5, 1, 8},
                                         BusyRow{"LongerThanTheRetry", 25, 0, 0}),
                         [](const testing::TestParamInfo<BusyRow> &info) { return std::string(info.param.name); });

TEST_F(Header, DeviceThatRefusesTheAddressSettingFailsWithRecovery) {
    Open("SIMPART=24C256", 15, 0);
    Target().GetFaults().nakByte = 2; // the first zero byte, in every transaction
    EXPECT_EQ(zelReadHeader(), 0L);
    // batched, no stop follows a refused write: a recovery's start comes first
    EXPECT_EQ(BusText(),
              zel::BatchingInUse() ? "S a0+ 00- 00- S P S a0+ 00- S P S P" : "S a0+ 00- P S a0+ 00- P S P");
    EXPECT_EQ(Geometry(), (std::vector<unsigned>{0, 0, 0}));
}

// ---------------------------------------------------------------------------

TEST_F(Header, WriteWithNoSizeFailsAtTheChunkReadAndWritesNothing) {
    Open("SIMPART=24C02", 0, 0);
    Target().Fill(0xFF);
    EXPECT_EQ(zelWriteHeader(), 0);
    EXPECT_EQ(WriteCycles(), 0u);
    EXPECT_EQ(zel::SizeBits(), 0u);
    EXPECT_THAT(BusText(), EndsWith("P S P"));
}

TEST_F(Header, FailedWriteDropsTheSizeButKeepsBlockBitsAndAddressBytes) {
    Open("SIMPART=24C16", 11, 7);
    Target().GetFaults().nakByte = 2; // the memory-address byte, in every transaction
    EXPECT_EQ(zelWriteHeader(), 0);
    EXPECT_EQ(Geometry(), (std::vector<unsigned>{0, 7, 1}));
    EXPECT_EQ(WriteCycles(), 0u);
}

// S = 17 with B = 0 needs three address bytes: the header read accepts it,
// every transfer refuses it, and so does a header write (its position,
// 2 - 3, names no byte).
TEST_F(Header, ThreeAddressByteGeometryIsAcceptedButNotUsed) {
    Open("SIMPART=24C1024", 0, 0);
    Store(0, {0x88, 0x77, 0x88, 0x77});
    ASSERT_EQ(zelReadHeader(), 1L);
    EXPECT_EQ(Geometry(), (std::vector<unsigned>{17, 0, 3}));
    transport().ClearLog();
    uint16_t word = 0;
    EXPECT_FALSE(zel::ReadBlock(0, &word, 2, zel::kNoProgress));
    EXPECT_EQ(zelCheckSize(), 0);
    EXPECT_EQ(zelWriteHeader(), 0);
    EXPECT_TRUE(transport().Registers().empty());
    EXPECT_EQ(zel::SizeBits(), 0u);
    EXPECT_EQ(zel::AddressBytes(), 3u); // a failed header write keeps addressBytes
}

// A 2 Mbit part (S = 18, two block bits): the header cannot carry its size
// (it would read back as none), so a header write is refused untouched.
TEST_F(Header, SizeAboveWhatTheHeaderCarriesIsRefusedWithoutTraffic) {
    Open("SIMPART=24CM02", 18, 3);
    transport().ClearLog();
    EXPECT_EQ(zelWriteHeader(), 0);
    EXPECT_TRUE(transport().Registers().empty());
    EXPECT_EQ(Geometry(), (std::vector<unsigned>{18, 3, 2}));
    EXPECT_EQ(Cells(0, 4), std::vector<uint8_t>(4, 0xFF));
}

TEST_F(Header, ExportsBeforeAttachReturnZeroWithoutBusTraffic) {
    ASSERT_TRUE(OpenTarget("SIMPART=24C02"));
    transport().ClearLog();
    EXPECT_EQ(zelReadHeader(), 0L);
    EXPECT_EQ(zelWriteHeader(), 0);
    EXPECT_EQ(zelCheckSize(), 0);
    EXPECT_TRUE(transport().Registers().empty());
}

// ---------------------------------------------------------------------------

// Holds a background job inside its first progress report until released.
class PausingHandler : public ZelHandler {
public:
    void OnProgressChange(int) override {
        std::unique_lock lock(mutex_);
        if (paused_) {
            return;
        }
        paused_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
    }
    void WaitUntilPaused() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return paused_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_; // guards the flags below
    std::condition_variable changed_;
    bool paused_ = false;
    bool released_ = false;
};

TEST_F(Header, SingleRoutinesRefuseWhileABackgroundJobRuns) {
    Open("SIMPART=24C02 SIMTWR=1", 8, 0);
    PausingHandler handler;
    SetZelHandler(&handler);
    const std::string path = testing::TempDir() + "header_refusal_dump.txt";
    ASSERT_EQ(zelDump(path.c_str(), 0, 0), 1);
    handler.WaitUntilPaused();
    const size_t accesses = transport().Registers().size();
    EXPECT_EQ(zelCheckSize(), 0);
    EXPECT_EQ(zelReadHeader(), 0L);
    EXPECT_EQ(zelWriteHeader(), 0);
    EXPECT_EQ(transport().Registers().size(), accesses);
    handler.Release();
    zelStop();
    EXPECT_EQ(zelIsBusy(), 0);
    EXPECT_EQ(zelWriteHeader(), 1);
    EXPECT_EQ(zelReadHeader(), 1L);
    EXPECT_EQ(zelCheckSize(), 1);
    SetZelHandler(nullptr);
    std::remove(path.c_str());
}

} // namespace
