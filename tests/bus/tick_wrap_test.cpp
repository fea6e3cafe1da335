// The three waits of the bus stack while the 32-bit millisecond tick wraps:
// the clock stretch at start and stop, the acknowledge polling of a write
// cycle and the retried header read. Each starts 2 ms before the wrap and
// must last as long as it does anywhere else.
#include <gmock/gmock.h>

#include "eeprom/block.h"
#include "eeprom/bus.h"
#include "spi/pio.h"
#include "support/test_transport.h"
#include "zelapi.h"

namespace {

enum class Wait { ClockStretch, AcknowledgePolling, HeaderRetry };

struct WrapRow {
    const char *name;
    Wait wait;
    uint32_t deviceMs; // how long the device holds the clock or stays in its write cycle
    bool passes;       // the device is done before the wait gives up
    uint32_t minMs, maxMs;
};

void PrintTo(const WrapRow &row, std::ostream *out) { *out << row.name; }

class TickWrap : public zeltest::LinkTest, public testing::WithParamInterface<WrapRow> {
protected:
    // The test clock to 2 ms before the tick wraps (the virtual target counts
    // in 64-bit microseconds, so its own timing does not wrap).
    void MoveClockBeforeTheWrap() {
        constexpr uint64_t kWrapUs = (uint64_t{1} << 32) * 1000;
        const uint64_t now = transport().Clock().NowMicros();
        ASSERT_LT(now, kWrapUs - 2000);
        transport().AdvanceClock(kWrapUs - 2000 - now);
    }
};

TEST_P(TickWrap, WaitsTheirFullTime) {
    const WrapRow &row = GetParam();
    const std::string twr = " SIMTWR=" + std::to_string(row.deviceMs);
    bool result = false;
    uint32_t before = 0;
    switch (row.wait) {
    case Wait::ClockStretch:
        ASSERT_TRUE(OpenTarget("SIMPART=24C02"));
        MoveClockBeforeTheWrap();
        Target().GetFaults().holdClockMs = row.deviceMs;
        ASSERT_TRUE(zel::BusStart()); // the device holds the clock from its fall on
        before = transport().NowMs();
        result = zel::BusStart();
        break;
    case Wait::AcknowledgePolling:
        ASSERT_TRUE(Attach("SIMPART=24C02" + twr, 8, 0));
        MoveClockBeforeTheWrap();
        before = transport().NowMs();
        ASSERT_TRUE(zel::WriteDataByte(0x10, 0x5A));
        // a write cycle still running makes the next transaction's address go unanswered
        result = zel::BusTransfer(0xA0, nullptr, 0, false, nullptr, 0) == 1;
        EXPECT_EQ(Target().Memory()[0x10], 0x5A);
        break;
    case Wait::HeaderRetry:
        // the address setting writes byte 0 while write-protect is low: the
        // device is busy when the header read starts
        ASSERT_TRUE(Attach("SIMPART=24C02" + twr, 0, 0));
        for (size_t i = 0; i < 4; ++i) {
            Target().Memory()[1 + i] = i % 2 == 0 ? 0x40 : 0xBF;
        }
        zel::SetWriteProtect(false);
        MoveClockBeforeTheWrap();
        before = transport().NowMs();
        result = zelReadHeader() == 1;
        break;
    }
    const uint32_t after = transport().NowMs();
    EXPECT_GT(before, after) << "the tick wrapped during the wait";
    EXPECT_EQ(result, row.passes);
    const uint32_t waited = after - before;
    EXPECT_GE(waited, row.minMs);
    EXPECT_LE(waited, row.maxMs);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TickWrap,
    testing::Values(WrapRow{"StretchOfFiveMs", Wait::ClockStretch, 5, true, 4, 6},
                    WrapRow{"StretchOfFifteenMsGivesUpAtTen", Wait::ClockStretch, 15, false, 10, 11},
                    WrapRow{"WriteCycleOfFiveMs", Wait::AcknowledgePolling, 5, true, 5, 6},
                    WrapRow{"WriteCycleOfTwentyFiveMsGivesUpAtTwenty", Wait::AcknowledgePolling, 25, false, 20,
                            21},
                    WrapRow{"HeaderBusyForFiveMs", Wait::HeaderRetry, 5, true, 5, 6},
                    WrapRow{"HeaderBusyForTwentyFiveMsGivesUpAtTwenty", Wait::HeaderRetry, 25, false, 19, 21}),
    [](const testing::TestParamInfo<WrapRow> &info) { return std::string(info.param.name); });

} // namespace
