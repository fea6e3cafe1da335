// The PIO line port against the test transport with no target: exact
// register traffic, shadows, failures and line numbers.
#include <atomic>
#include <climits>
#include <thread>

#include <gmock/gmock.h>

#include "platform/abandon.h"
#include "spi/pio.h"
#include "support/test_transport.h"
#include "zelapi.h"

namespace {

using zeltest::AccessKind;
using zeltest::RegisterAccess;

using Writes = std::vector<std::pair<uint32_t, uint16_t>>;

class PioLines : public zeltest::LinkTest {
protected:
    Writes Logged() const {
        Writes writes;
        for (const RegisterAccess &access : zeltest::TestTransport::Get().Registers()) {
            if (access.kind == AccessKind::Write) {
                writes.emplace_back(access.address, access.value);
            }
        }
        return writes;
    }
};

TEST_F(PioLines, EnableShadowCarriesEveryLineSetSoFar) {
    zel::SetLineEnable(7, true);
    zel::SetLineEnable(6, true);
    zel::SetLineEnable(7, false);
    EXPECT_EQ(Logged(), (Writes{{0x0061, 0x0080}, {0x0061, 0x00C0}, {0x0061, 0x0040}}));
}

TEST_F(PioLines, EveryCallWritesEvenWhenTheBitDoesNotChange) {
    zel::SetLineLevel(3, true);
    zel::SetLineLevel(3, true);
    zel::SetLineLevel(4, false);
    EXPECT_EQ(Logged(), (Writes{{0x0062, 0x0008}, {0x0062, 0x0008}, {0x0062, 0x0008}}));
}

TEST_F(PioLines, FirstAttachReleasesEveryLineOfTheChip) {
    transport().ScriptOpenResult(1); // a link with nothing on the bus
    EXPECT_EQ(zelInitTrans("SPITRANS=USB", 0, 8, 0), 0);
    const Writes writes = Logged();
    ASSERT_GE(writes.size(), 4u);
    EXPECT_EQ(writes[0], (std::pair<uint32_t, uint16_t>{0x0062, 0x0000}));
    EXPECT_EQ(writes[1], (std::pair<uint32_t, uint16_t>{0x0062, 0x0000}));
    EXPECT_EQ(writes[2], (std::pair<uint32_t, uint16_t>{0x0061, 0x0000}));
    EXPECT_EQ(writes[3], (std::pair<uint32_t, uint16_t>{0x0061, 0x0000}));
}

TEST_F(PioLines, WriteProtectSetsTheLevelBeforeDrivingTheLine) {
    zel::SetWriteProtect(true);
    zel::SetWriteProtect(false);
    EXPECT_EQ(Logged(), (Writes{{0x0062, 0x0100}, {0x0061, 0x0100}, {0x0062, 0x0000}, {0x0061, 0x0100}}));
}

TEST_F(PioLines, FailedWritePrintsOnceAndKeepsTheRequestedShadow) {
    transport().FailWrites(true);
    testing::internal::CaptureStdout();
    zel::SetLineEnable(2, true);
    zel::SetLineLevel(5, true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "WRITE FAIL!\nWRITE FAIL!\n");

    transport().FailWrites(false);
    testing::internal::CaptureStdout();
    zel::SetLineEnable(3, true);
    zel::SetLineLevel(9, true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const Writes writes = Logged();
    ASSERT_GE(writes.size(), 4u);
    EXPECT_EQ(writes[2], (std::pair<uint32_t, uint16_t>{0x0061, 0x000C}));
    EXPECT_EQ(writes[3], (std::pair<uint32_t, uint16_t>{0x0062, 0x0220}));
}

TEST_F(PioLines, FailedReadsReadEveryLineHigh) {
    zel::SetLineEnable(7, true); // the line is driven low...
    transport().FailReads(true); // ...but the read fails
    EXPECT_EQ(zel::ReadInputs(), 0xFFFF);
    for (int line = 0; line < 16; ++line) {
        EXPECT_EQ(zel::ReadLine(line), 1) << "line " << line;
    }
}

TEST_F(PioLines, ReadLineReadsTheChipEveryTime) {
    transport().QueueReads({0x0000, 0x0080, 0x0000});
    EXPECT_EQ(zel::ReadLine(7), 0);
    EXPECT_EQ(zel::ReadLine(7), 1);
    EXPECT_EQ(zel::ReadLine(7), 0);
    EXPECT_EQ(transport().ReadCount(), 3u);
}

TEST_F(PioLines, LinesOutsideTheRegisterNameNoBit) {
    const int lines[] = {16, 17, 31, 32, 1000, INT_MAX, -1, INT_MIN};
    zel::SetLineEnable(4, true);
    zel::SetLineLevel(4, true);
    for (int line : lines) {
        transport().ClearLog();
        zel::SetLineEnable(line, true);
        zel::SetLineLevel(line, false);
        EXPECT_EQ(Logged(), (Writes{{0x0061, 0x0010}, {0x0062, 0x0010}})) << "line " << line;
        transport().QueueReads({0x0000});
        EXPECT_EQ(zel::ReadLine(line), 1) << "line " << line;
        EXPECT_EQ(zel::LineBit(0x0000, line), 1) << "line " << line;
    }
}

struct LineChoice {
    int clock, data, writeProtect;
    int expectClock, expectData, expectWriteProtect;
};

class PioLineChoice : public PioLines, public testing::WithParamInterface<LineChoice> {};

TEST_P(PioLineChoice, PositiveArgumentsReplaceLines) {
    const LineChoice &row = GetParam();
    EXPECT_EQ(zelSetPioLines(row.clock, row.data, row.writeProtect), 1);
    EXPECT_EQ(zel::ClockLine(), row.expectClock);
    EXPECT_EQ(zel::DataLine(), row.expectData);
    EXPECT_EQ(zel::WriteProtectLine(), row.expectWriteProtect);
    EXPECT_TRUE(transport().Registers().empty()); // takes effect at the next operation
}

INSTANTIATE_TEST_SUITE_P(Table, PioLineChoice,
                         testing::Values(LineChoice{0, 0, 0, 6, 7, 8}, LineChoice{-1, -5, -9, 6, 7, 8},
                                         LineChoice{3, 0, 0, 3, 7, 8}, LineChoice{2, 4, 5, 2, 4, 5},
                                         LineChoice{0, 1, -1, 6, 1, 8}, LineChoice{40, 16, 9, 40, 16, 9}),
                         [](const testing::TestParamInfo<LineChoice> &info) {
                             return "Row" + std::to_string(info.index);
                         });

TEST_F(PioLines, WriteProtectFollowsTheChosenLine) {
    zelSetPioLines(0, 0, 12);
    zel::SetWriteProtect(true);
    EXPECT_EQ(Logged(), (Writes{{0x0062, 0x1000}, {0x0061, 0x1000}}));
}

} // namespace

namespace {

TEST_F(PioLines, AbandonedThreadNeverReachesTheTransport) {
    const std::atomic<bool> abandoned{true};
    uint16_t inputs = 0;
    bool marked = false;
    testing::internal::CaptureStdout();
    std::thread worker([&] {
        zel::platform::BindAbandonFlag(&abandoned);
        marked = zel::platform::CurrentThreadAbandoned();
        zel::SetLineEnable(7, true);
        zel::SetWriteProtect(true);
        inputs = zel::ReadInputs();
    });
    worker.join();
    const std::string printed = testing::internal::GetCapturedStdout();
    if (!marked) {
        GTEST_SKIP() << "this platform ends a given-up thread instead of abandoning it";
    }
    EXPECT_EQ(printed, "");
    EXPECT_EQ(inputs, 0xFFFF);
    EXPECT_TRUE(transport().Registers().empty());
}

} // namespace
