// Bus transactions against the virtual target's 24C02 at 0xA0 (one
// memory-address byte), decoded from the register log.
#include <gmock/gmock.h>

#include "eeprom/bus.h"
#include "spi/batch.h"
#include "spi/pio.h"
#include "support/test_transport.h"

namespace {

struct TransferRow {
    const char *name;
    std::vector<uint8_t> send;
    uint16_t receiveCount;
    bool readFlag;
    uint16_t count;
    const char *bus;
};

void PrintTo(const TransferRow &row, std::ostream *out) { *out << row.name; }

class Transfer : public zeltest::BusTest, public testing::WithParamInterface<TransferRow> {
protected:
    void SetUp() override {
        BusTest::SetUp();
        // cell i holds 0xB0 + i; the device's address counter starts at 0
        for (size_t i = 0; i < Target().Memory().size(); ++i) {
            Target().Memory()[i] = static_cast<uint8_t>(0xB0 + i);
        }
    }
};

TEST_P(Transfer, CountsAndSequenceFollowTheArguments) {
    const TransferRow &row = GetParam();
    std::vector<uint8_t> received(row.receiveCount, 0x00);
    const uint16_t count = zel::BusTransfer(0xA0, row.send.empty() ? nullptr : row.send.data(),
                                            static_cast<uint16_t>(row.send.size()), row.readFlag,
                                            received.empty() ? nullptr : received.data(), row.receiveCount);
    EXPECT_EQ(count, row.count);
    EXPECT_EQ(BusText(), row.bus);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Transfer,
    testing::Values(TransferRow{"AddressProbe", {}, 0, false, 1, "S a0+ P"},
                    TransferRow{"ReadAddressOnly", {}, 0, true, 1, "S a1+ P"},
                    TransferRow{"CurrentAddressRead", {}, 3, false, 4, "S a1+ b0+ b1+ b2- P"},
                    TransferRow{"CurrentAddressReadWithReadFlag", {}, 3, true, 4, "S a1+ b0+ b1+ b2- P"},
                    TransferRow{"AddressSetting", {0x10}, 0, false, 2, "S a0+ 10+ P"},
                    TransferRow{"ByteWriteWithReadFlag", {0x10, 0x5A}, 0, true, 3, "S a0+ 10+ 5a+ P"},
                    TransferRow{"RandomRead", {0x10}, 3, true, 6, "S a0+ 10+ S a1+ c0+ c1+ c2- P"},
                    // no repeated start: the device takes the bytes in as data and
                    // acknowledges the second, where the master wanted the line free
                    TransferRow{"DataInWithoutReadFlag", {0x10}, 2, false, 3, "S a0+ 10+ ff+ ff+ P"}),
    [](const testing::TestParamInfo<TransferRow> &info) { return std::string(info.param.name); });

TEST_F(Transfer, RandomReadOfTwoAddressBytesCountsSixtyEight) {
    ASSERT_TRUE(OpenTarget("SIMPART=24C256"));
    Target().Memory()[0x1234 + 63] = 0x77;
    transport().ClearLog();
    const uint8_t address[2] = {0x12, 0x34};
    uint8_t received[64] = {};
    EXPECT_EQ(zel::BusTransfer(0xA0, address, 2, true, received, 64), 68);
    EXPECT_EQ(received[63], 0x77);
    const std::string bus = BusText();
    EXPECT_THAT(bus, testing::StartsWith("S a0+ 12+ 34+ S a1+ "));
    EXPECT_THAT(bus, testing::EndsWith(" 77- P"));
}

TEST_F(Transfer, EveryByteButTheLastIsAcknowledged) {
    for (uint16_t n : {1, 2, 64, 300}) {
        transport().ClearLog();
        std::vector<uint8_t> received(n);
        ASSERT_EQ(zel::BusTransfer(0xA0, nullptr, 0, false, received.data(), n), n + 1);
        const std::vector<zeltest::BusEvent> events = zeltest::DecodeBus(transport().Registers());
        ASSERT_EQ(events.size(), n + 3u);
        for (uint16_t i = 0; i < n; ++i) {
            EXPECT_EQ(events[2 + i].ack, i + 1 < n) << "byte " << i << " of " << n;
        }
    }
}

TEST_F(Transfer, NoAcknowledgeAtTheThirdOfFiveBytesCountsThree) {
    Target().GetFaults().nakByte = 4; // the address is byte 1
    const uint8_t data[5] = {0x00, 0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(zel::BusTransfer(0xA0, data, 5, false, nullptr, 0), 3);
    // batched, the rest of the bytes went out before the refusal was seen:
    // no stop then, a recovery's start first
    EXPECT_EQ(BusText(), zel::BatchingInUse() ? "S a0+ 00+ 11+ 22- 33- 44- S P" : "S a0+ 00+ 11+ 22- P");
}

TEST_F(Transfer, UnansweredAddressGivesZeroAfterStartAddressStop) {
    uint8_t received[4];
    const uint8_t address = 0x10;
    EXPECT_EQ(zel::BusTransfer(0xA2, nullptr, 0, false, nullptr, 0), 0);
    EXPECT_EQ(zel::BusTransfer(0xA4, &address, 1, true, received, 4), 0);
    // batched, a read goes on to its stop whatever it is answered
    EXPECT_EQ(BusText(), zel::BatchingInUse() ? "S a2- P S a4- 10- S a5- ff+ ff+ ff+ ff- P" : "S a2- P S a4- P");
}

TEST_F(Transfer, SameBufferSendsBeforeItReceives) {
    uint8_t buffer[4] = {0x20};
    EXPECT_EQ(zel::BusTransfer(0xA0, buffer, 1, true, buffer, 4), 7);
    EXPECT_EQ(buffer[0], 0xD0);
    EXPECT_EQ(buffer[3], 0xD3);
}

class Recover : public zeltest::BusTest {};

TEST_F(Recover, IdleBusGetsStartThenStop) {
    EXPECT_TRUE(zel::BusRecover());
    EXPECT_EQ(BusText(), "S P");
}

struct StuckRow {
    uint32_t heldPulses;
    bool recovered;
    const char *bus;
};

class RecoverStuck : public zeltest::BusTest, public testing::WithParamInterface<StuckRow> {};

TEST_P(RecoverStuck, ClocksUpToNinePulses) {
    const StuckRow &row = GetParam();
    Target().GetFaults().stuckDataClocks = row.heldPulses;
    EXPECT_EQ(zel::BusRecover(), row.recovered);
    EXPECT_EQ(BusText(), row.bus);
}

INSTANTIATE_TEST_SUITE_P(Table, RecoverStuck,
                         testing::Values(StuckRow{1, true, "~1 S P"}, StuckRow{4, true, "~4 S P"},
                                         StuckRow{8, true, "~8 S P"}, StuckRow{9, false, "~9 P"},
                                         StuckRow{40, false, "~9 P"}),
                         [](const testing::TestParamInfo<StuckRow> &info) {
                             return "Held" + std::to_string(info.param.heldPulses) + "Pulses";
                         });

TEST_F(Recover, StartFailsOnAHeldDataLineButStillClocks) {
    Target().GetFaults().stuckDataClocks = 3;
    zel::BusRelease();
    EXPECT_FALSE(zel::BusStart());
    EXPECT_EQ(BusText(), "~1");
}

struct StretchRow {
    const char *name;
    uint32_t holdMs;
    bool (*step)();
    bool passes;
};

void PrintTo(const StretchRow &row, std::ostream *out) { *out << row.name; }

class ClockStretch : public zeltest::BusTest, public testing::WithParamInterface<StretchRow> {};

// The device holds the clock low from the fall after a start; the next start
// or stop waits for it up to 10 ms.
TEST_P(ClockStretch, IsHonouredForTenMilliseconds) {
    const StretchRow &row = GetParam();
    Target().GetFaults().holdClockMs = row.holdMs;
    ASSERT_TRUE(zel::BusStart());
    const uint32_t before = transport().NowMs();
    EXPECT_EQ(row.step(), row.passes);
    const uint32_t waited = transport().NowMs() - before;
    if (row.passes) {
        EXPECT_GE(waited, row.holdMs - 1);
        EXPECT_LE(waited, row.holdMs + 1);
    } else {
        EXPECT_GE(waited, 10u);
        EXPECT_LE(waited, 11u);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ClockStretch,
                         testing::Values(StretchRow{"StartWaitsFiveMs", 5, &zel::BusStart, true},
                                         StretchRow{"StartGivesUpOnFifteenMs", 15, &zel::BusStart, false},
                                         StretchRow{"StopWaitsFiveMs", 5, &zel::BusStop, true},
                                         StretchRow{"StopGivesUpOnFifteenMs", 15, &zel::BusStop, false}),
                         [](const testing::TestParamInfo<StretchRow> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(ClockStretch, FailedStartStillCarriesOutAllSteps) {
    Target().GetFaults().holdClockMs = 15;
    ASSERT_TRUE(zel::BusStart());
    transport().ClearLog();
    EXPECT_FALSE(zel::BusStart());
    EXPECT_EQ(transport().WriteCount(), 6u);
}

} // namespace
