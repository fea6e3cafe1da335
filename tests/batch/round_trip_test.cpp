// The round trips of whole-EEPROM jobs, from the virtual target's counters,
// with a link latency in virtual time (the clock moves only by the latency
// and the write cycles): batched, they meet what a slow link needs.
#include <gtest/gtest.h>

#include "support/test_transport.h"
#include "zelapi.h"

namespace zeltest {
namespace {

constexpr uint32_t kBytes = 32768; // 24C256
constexpr uint32_t kChunks = kBytes / 64;

struct RoundTripRow {
    const char *name;
    uint32_t latencyMicros;
    bool program; // in pages of 64 bytes, from erased; else a read
    uint64_t mostCalls;
    uint64_t mostMicros;
};

void PrintTo(const RoundTripRow &row, std::ostream *out) { *out << row.name; }

class RoundTrips : public LinkTest, public testing::WithParamInterface<RoundTripRow> {};

TEST_P(RoundTrips, MeetTheSlowLinkTargets) {
    const RoundTripRow &row = GetParam();
    ASSERT_TRUE(Attach("SIMPART=24C256 SIMLATENCY=" + std::to_string(row.latencyMicros), 15, 0));
    ASSERT_EQ(zelSetBatching(1), 1);
    ASSERT_EQ(zelSetPageWrite(64), 1);
    transport().Clock().SetStep(0);
    std::vector<uint8_t> data(kBytes);
    for (uint32_t i = 0; i < kBytes; ++i) {
        data[i] = static_cast<uint8_t>(i * 13 + i / 256);
    }
    const hoplink::sim::Counters before = Target().GetCounters();
    const uint64_t start = transport().Clock().NowMicros();
    if (row.program) {
        ASSERT_EQ(zelWriteMemory(0, data.data(), kBytes, 1, 0), 1);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), Target().Memory().begin()));
    } else {
        std::copy(data.begin(), data.end(), Target().Memory().begin());
        std::vector<uint8_t> read(kBytes);
        ASSERT_EQ(zelReadMemory(0, read.data(), kBytes, 1), 1);
        EXPECT_EQ(read, data);
    }
    const uint64_t calls = Target().GetCounters().calls - before.calls;
    const uint64_t micros = transport().Clock().NowMicros() - start;
    EXPECT_LE(calls, row.mostCalls);
    EXPECT_LT(micros, row.mostMicros) << calls << " round trips";
}

// A read: one batch per 64-byte chunk and a few more. A program in pages:
// per page a read, the write-protect line, the write, its stop and one poll
// per round trip for the 5 ms write cycle.
INSTANTIATE_TEST_SUITE_P(
    Table, RoundTrips,
    testing::Values(RoundTripRow{"ReadAt125us", 125, false, kChunks + 4, 1'000'000},
                    RoundTripRow{"ReadAt1ms", 1000, false, kChunks + 4, 5'000'000},
                    RoundTripRow{"ProgramInPagesAt125us", 125, true, kChunks *(8 + 5000 / 125), 5'000'000},
                    RoundTripRow{"ProgramInPagesAt1ms", 1000, true, kChunks *(8 + 5000 / 1000), 30'000'000}),
    [](const testing::TestParamInfo<RoundTripRow> &info) { return std::string(info.param.name); });

} // namespace
} // namespace zeltest
