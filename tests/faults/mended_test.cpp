// Faults that the matrix found, each with the behaviour that mends it.
#include <gtest/gtest.h>

#include <algorithm>

#include "eeprom/block.h"
#include "eeprom/bus.h"
#include "eeprom/device.h"
#include "support/test_transport.h"
#include "zelapi.h"

namespace zeltest {
namespace {

using hoplink::sim::Counters;
using hoplink::sim::Faults;

constexpr uint16_t kDataLine = 1u << 7;

// A device that holds the data line past the end of a transaction (the stop
// cannot rise) is clocked free before the transfer returns, so the next
// transaction finds the bus idle.
TEST(StopThatFails, LeavesTheBusFreeForTheNextTransaction) {
    for (uint32_t clocks : {10u, 12u, 17u}) {
        SCOPED_TRACE(clocks);
        TestTransport &transport = TestTransport::Get();
        transport.Reset();
        ASSERT_TRUE(zelInitTrans("SIMPART=24C02", 0, 8, 0));
        hoplink::sim::Target &target = *transport.Target();
        // held from the fall after the START: the address byte and its
        // acknowledge take nine of the clocks, the stop none
        target.ArmAtTransaction(target.GetCounters().transactions + 1,
                                [clocks](Faults &f, const Counters &) { f.stuckDataClocks = clocks; });

        zel::BusTransfer(0xA0, nullptr, 0, false, nullptr, 0);

        EXPECT_NE(target.Lines() & kDataLine, 0) << "the data line is still held";
        EXPECT_EQ(zel::BusTransfer(0xA0, nullptr, 0, false, nullptr, 0), 1);
    }
    TestTransport::Get().Reset();
}

struct HeaderRow {
    const char *name;
    long (*run)();
    std::vector<uint8_t> stored; // bytes 1-4 of the 24C02
};

// Worn cells acknowledge the header bytes but keep their old values: neither
// the header write nor the repair of a header read may report success.
TEST(HeaderThatDoesNotStick, IsNotReportedWritten) {
    const HeaderRow rows[] = {
        {"write", [] { return long{zelWriteHeader()}; }, {0x40, 0xBF, 0x48, 0xB7}},
        {"repair of a read", [] { return zelReadHeader(); }, {0x40, 0xBF, 0x00, 0x00}},
    };
    for (const HeaderRow &row : rows) {
        SCOPED_TRACE(row.name);
        TestTransport &transport = TestTransport::Get();
        transport.Reset();
        ASSERT_TRUE(zelInitTrans("SIMPART=24C02 SIMTWR=1", 0, 8, 0));
        hoplink::sim::Target &target = *transport.Target();
        std::copy(row.stored.begin(), row.stored.end(), target.Memory().begin() + 1);
        target.GetFaults().wornBytes = {3, 4};

        EXPECT_EQ(row.run(), 0);

        EXPECT_EQ(zel::SizeBits(), 0u);
        EXPECT_EQ(target.Memory()[3], row.stored[2]);
    }
    TestTransport::Get().Reset();
}

// One refused register access at every access of a byte write and of a
// two-byte read: a refused write may leave a line where it was and a refused
// read sees every line high, so the transfer must fail rather than put a
// wrong bit into the EEPROM or into the words read.
TEST(RefusedRegisterAccess, NeverSlipsAWrongBitThrough) {
    constexpr uint32_t kAddress = 5;
    constexpr uint8_t kOld = 0xC4, kNew = 0x9E;
    struct Row {
        const char *name;
        bool byteWrite;    // else a read of bytes 4 and 5
        bool refuseWrite;  // else a refused read
        uint64_t accesses; // positions tried: more than the transfer makes of that kind
    };
    const Row rows[] = {
        {"byte write, refused write", true, true, 200},
        {"byte write, refused read", true, false, 60},
        {"read, refused write", false, true, 150},
        {"read, refused read", false, false, 60},
    };
    TestTransport &transport = TestTransport::Get();
    testing::internal::CaptureStdout(); // "WRITE FAIL!" for each refused write
    for (const Row &row : rows) {
        for (uint64_t k = 1; k <= row.accesses; ++k) {
            SCOPED_TRACE(std::string(row.name) + " at access " + std::to_string(k));
            transport.Reset();
            transport.Clock().SetStep(10);
            ASSERT_TRUE(zelInitTrans("SIMPART=24C02 SIMTWR=1", 0, 8, 0));
            hoplink::sim::Target &target = *transport.Target();
            target.Memory()[kAddress - 1] = 0x11;
            target.Memory()[kAddress] = kOld;
            const Counters at = target.GetCounters();
            if (row.refuseWrite) {
                target.GetFaults().writeFail.nth = at.registerWrites + k;
            } else {
                target.GetFaults().readFail.nth = at.registerReads + k;
            }
            uint16_t word = 0;

            const bool ok = row.byteWrite ? zel::WriteDataByte(kAddress, kNew)
                                          : zel::ReadBlock(kAddress - 1, &word, 2, zel::kNoProgress);

            const uint8_t cell = target.Memory()[kAddress];
            EXPECT_TRUE(cell == kOld || cell == kNew) << int{cell};
            if (ok && row.byteWrite) {
                EXPECT_EQ(cell, kNew);
            } else if (ok) {
                EXPECT_EQ(word, 0x11 | kOld << 8);
            }
        }
    }
    testing::internal::GetCapturedStdout();
    transport.Reset();
}

// A device that holds the data line into the stop of a byte write (the hold
// starts at the fall after the START; the three bytes take 27 more) never
// sees that stop; the recovery's START then makes it drop the byte it
// latched. A write reported done is in the EEPROM, and a clear without
// verify never reports a byte it did not write.
TEST(StopThatFails, MakesTheByteWriteFail) {
    constexpr uint32_t kAddress = 9;
    constexpr uint8_t kOld = 0x5A, kNew = 0xC3;
    int failed = 0;
    for (uint32_t clocks = 29; clocks <= 36; ++clocks) {
        SCOPED_TRACE(clocks);
        TestTransport &transport = TestTransport::Get();
        transport.Reset();
        ASSERT_TRUE(zelInitTrans("SIMPART=24C02 SIMTWR=1", 0, 8, 0));
        hoplink::sim::Target &target = *transport.Target();
        target.Memory()[kAddress] = kOld;
        target.ArmAtTransaction(target.GetCounters().transactions + 1,
                                [clocks](Faults &f, const Counters &) { f.stuckDataClocks = clocks; });

        const bool written = zel::WriteDataByte(kAddress, kNew);

        const uint8_t stored = target.Memory()[kAddress];
        EXPECT_TRUE(stored == kOld || stored == kNew);
        EXPECT_EQ(written, stored == kNew) << "stored 0x" << std::hex << int{stored};
        failed += written ? 0 : 1;
    }
    EXPECT_GT(failed, 0) << "no hold reached the stop";
    TestTransport::Get().Reset();
}

TEST(StopThatFails, ClearWithoutVerifyReportsTheLostByte) {
    TestTransport &transport = TestTransport::Get();
    transport.Reset();
    ASSERT_TRUE(zelInitTrans("SIMPART=24C02 SIMTWR=1", 0, 8, 0));
    hoplink::sim::Target &target = *transport.Target();
    std::fill(target.Memory().begin(), target.Memory().end(), 0x00);
    target.Memory()[0] = 0xFF; // the one byte the clear writes
    // the first chunk read is transaction 1, the byte write transaction 2,
    // held into its stop
    target.ArmAtTransaction(target.GetCounters().transactions + 2,
                            [](Faults &f, const Counters &) { f.stuckDataClocks = 30; });

    const int result = zelClear(0x00, 1, 0);

    EXPECT_EQ(result, target.Memory()[0] == 0x00 ? 1 : 0);
    TestTransport::Get().Reset();
}

// A probe of 0xA0 that fails once makes the scan settle on a block-select
// alias of a part that answers at several addresses. Every block still goes
// to its own place, and the header is read from block 0 only: block 1 holds
// another geometry, which must never be loaded.
TEST(AliasScan, EveryBlockGoesToItsOwnPlace) {
    struct Part {
        int sizeBits, blockBits;
        uint8_t alias;
        uint32_t block1;                  // first byte of block 1
        uint32_t headerAt;                // 1 on one-address-byte parts
        std::vector<uint8_t> header;      // the geometry of the part
        std::vector<uint8_t> otherHeader; // another geometry, in block 1
    };
    const Part c16{11, 7, 0xA2, 0x100, 1, {0x5F, 0xA0, 0x5F, 0xA0}, {0x5B, 0xA4, 0x5B, 0xA4}};
    const Part c1025{17, 4, 0xA8, 0x10000, 0, {0x8C, 0x73, 0x8C, 0x73}, {0x84, 0x7B, 0x84, 0x7B}};
    struct Row {
        const char *config;
        const Part &part;
    };
    const Row rows[] = {
        {"SIMPART=24C16 SIMTWR=1 SIMFAULT=nak:1@2", c16},
        {"SIMPART=24C16 SIMTWR=1 SIMFAULT=rfail:12", c16},
        {"SIMPART=24C1025 SIMTWR=1 SIMFAULT=nak:1@2", c1025},
    };
    const std::vector<uint8_t> data = {0x11, 0x22, 0x33, 0x44};
    TestTransport &transport = TestTransport::Get();
    for (const Row &row : rows) {
        const Part &part = row.part;
        for (const bool geometryFromHeader : {false, true}) {
            SCOPED_TRACE(std::string(row.config) + (geometryFromHeader ? ", opened without a size" : ""));
            transport.Reset();
            ASSERT_TRUE(zelInitTrans(row.config, 0, geometryFromHeader ? 0 : part.sizeBits,
                                     geometryFromHeader ? 0 : part.blockBits));
            ASSERT_EQ(zelGetDeviceAddress(), part.alias) << "the fault no longer makes the scan find the alias";
            hoplink::sim::Target &target = *transport.Target();
            target.GetFaults() = Faults{};
            std::copy(part.header.begin(), part.header.end(), target.Memory().begin() + part.headerAt);
            std::copy(part.otherHeader.begin(), part.otherHeader.end(),
                      target.Memory().begin() + part.block1 + part.headerAt);

            const long header = zelReadHeader();

            if (header == 1 || !geometryFromHeader) {
                EXPECT_EQ(header, 1);
                EXPECT_EQ(zel::SizeBits(), static_cast<unsigned>(part.sizeBits));
                EXPECT_EQ(zel::BlockBits(), static_cast<unsigned>(part.blockBits));
            }
            if (header != 1) {
                continue; // a header read that fails loads nothing
            }
            EXPECT_EQ(zelWriteMemory(0x10, data.data(), 4, 1, 1), 1);
            const auto cells = target.Memory();
            EXPECT_TRUE(std::equal(data.begin(), data.end(), cells.begin() + 0x10));
            EXPECT_EQ(cells[part.block1 + 0x10], 0xFF);
        }
    }
    transport.Reset();
}

} // namespace
} // namespace zeltest
