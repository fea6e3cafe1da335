// What each bus step costs in register accesses, and the register traffic
// rules the steps keep, on the test transport without a target.
#include <functional>

#include <gmock/gmock.h>

#include "eeprom/bus.h"
#include "spi/pio.h"
#include "support/test_transport.h"

namespace {

using zeltest::AccessKind;
using zeltest::RegisterAccess;

constexpr uint16_t kHigh = 0xFFFF;
constexpr uint16_t kDataLow = 0xFFFF & ~(1u << 7);
constexpr uint16_t kClockLow = 0xFFFF & ~(1u << 6);

struct CostRow {
    const char *name;
    std::function<void()> step;
    std::vector<uint16_t> reads; // scripted input values; none: idle bus
    size_t writes;
    size_t readCount;
};

void PrintTo(const CostRow &row, std::ostream *out) { *out << row.name; }

class BusSteps : public zeltest::LinkTest {};

class BusCost : public zeltest::LinkTest, public testing::WithParamInterface<CostRow> {};

TEST_P(BusCost, MatchesTheCostTable) {
    const CostRow &row = GetParam();
    transport().QueueReads(row.reads);
    row.step();
    EXPECT_EQ(transport().WriteCount(), row.writes);
    EXPECT_EQ(transport().ReadCount(), row.readCount);
}

// k: samples of a 10 ms check before the last one (1 on a free bus)
INSTANTIATE_TEST_SUITE_P(
    Table, BusCost,
    testing::Values(CostRow{"Release", [] { zel::BusRelease(); }, {}, 4, 0},
                    CostRow{"StartOnIdleBus", [] { zel::BusStart(); }, {}, 6, 3 + 1},
                    CostRow{"StartWithClockStretchedForThreeSamples",
                            [] { zel::BusStart(); },
                            {kHigh, kHigh, kClockLow, kClockLow, kClockLow, kHigh, kHigh},
                            6,
                            3 + 4},
                    CostRow{"StopOnIdleBusSetsBothLevelBits", [] { zel::BusStop(); }, {}, 3 + 2, 5 + 1},
                    CostRow{"StopWithDataHeldLowSetsOnlyTheClockLevel",
                            [] { zel::BusStop(); },
                            {kHigh, kHigh, kDataLow, kDataLow, kDataLow, kHigh},
                            3 + 1,
                            5 + 1},
                    CostRow{"StopWithBothLinesLowSetsNoLevel",
                            [] { zel::BusStop(); },
                            {kHigh, kHigh, kHigh, kHigh, 0x0000, 0x0000},
                            3,
                            5 + 1},
                    CostRow{"WriteByte", [] { zel::BusWriteByte(0xA5); }, {}, 27, 3},
                    CostRow{"ReadByte", [] { zel::BusReadByte(nullptr); }, {}, 17, 8},
                    CostRow{"Acknowledge", [] { zel::BusSendAck(true); }, {}, 3, 2},
                    CostRow{"NotAcknowledge", [] { zel::BusSendAck(false); }, {}, 3, 4}),
    [](const testing::TestParamInfo<CostRow> &info) { return std::string(info.param.name); });

TEST_F(BusSteps, StartHasSixWritesWhenTheClockNeverRises) {
    transport().Clock().SetStep(1000); // 1 ms per access
    std::vector<uint16_t> reads(100, kClockLow);
    reads[0] = reads[1] = kHigh; // the data line is free
    transport().QueueReads(reads);
    const uint32_t before = transport().NowMs();
    EXPECT_FALSE(zel::BusStart());
    EXPECT_EQ(transport().WriteCount(), 6u);
    // two data samples, clock samples until 10 ms have passed, one more sample
    EXPECT_EQ(transport().ReadCount(), 2u + 10u + 1u);
    EXPECT_GE(transport().NowMs() - before, 10u);
}

// Data and clock level bits are 0 whenever this chip drives a bus line, so
// pulling a bus line low always drives a low level.
void ExpectBusLinesNeverDrivenHigh(const std::vector<RegisterAccess> &log, uint16_t busBits, uint16_t level) {
    uint16_t enable = 0;
    for (size_t i = 0; i < log.size(); ++i) {
        const RegisterAccess &access = log[i];
        if (access.kind != AccessKind::Write) {
            continue;
        }
        (access.address == 0x0061 ? enable : level) = access.value;
        EXPECT_EQ(enable & level & busBits, 0) << "access " << i << " drives a bus line high";
    }
}

TEST_F(BusSteps, LevelBitsGoBackToZeroBeforeALineIsPulledLow) {
    zel::BusStop();
    const std::vector<RegisterAccess> stop = transport().Registers();
    ASSERT_EQ(stop.back().address, 0x0062u);
    EXPECT_EQ(stop.back().value, 0x00C0); // both lines read high: both level bits 1

    transport().ClearLog();
    zel::BusTransfer(0xA0, nullptr, 0, false, nullptr, 0);
    const std::vector<RegisterAccess> log = transport().Registers();
    // release, then start: each writes both level bits back to 0
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(log[0].value, 0x0040);
    EXPECT_EQ(log[1].value, 0x0000);
    EXPECT_EQ(log[4].value, 0x0000);
    EXPECT_EQ(log[5].value, 0x0000);
    ExpectBusLinesNeverDrivenHigh(log, 0x00C0, 0x00C0);
}

TEST_F(BusSteps, TransactionOfEveryShapeDrivesOnlyLowLevels) {
    uint8_t buffer[8] = {0x12, 0x34};
    zel::BusStop();
    zel::BusTransfer(0xA0, buffer, 2, true, buffer, 3);
    zel::BusRecover();
    zel::BusTransfer(0xA0, nullptr, 0, true, buffer, 4);
    ExpectBusLinesNeverDrivenHigh(transport().Registers(), 0x00C0, 0x0000);
}

TEST_F(BusSteps, FailingReadsMakeEveryByteUnacknowledged) {
    transport().FailReads(true);
    uint8_t buffer[4] = {0, 0x10};
    EXPECT_FALSE(zel::BusWriteByte(0x00));
    EXPECT_EQ(zel::BusTransfer(0xA0, nullptr, 0, false, nullptr, 0), 0);
    EXPECT_EQ(zel::BusTransfer(0xA0, buffer, 2, true, buffer, 4), 0);
    EXPECT_EQ(zel::BusTransfer(0xA0, nullptr, 0, false, buffer, 4), 0);
}

} // namespace
