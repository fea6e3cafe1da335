// Faults give a job the same result batched as access by access: every fault
// of the virtual target at transactions spread over every job; a clock held
// low at a start, and one that the device lets go of in the middle of a
// write's batch.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "eeprom/bus.h"
#include "faults/fault_jobs.h"
#include "spi/pio.h"
#include "support/test_transport.h"
#include "zelapi.h"

namespace zeltest {
namespace {

using faults::FaultJob;
using faults::JobKind;
using hoplink::sim::Counters;
using hoplink::sim::Faults;
using hoplink::sim::Target;

constexpr char kConfig[] = "SIMPART=24C02 SIMTWR=1";
constexpr uint32_t kMicrosPerAccess = 10;
constexpr size_t kPositions = 6; // transactions per job and fault, spread from first to last

// Each arms one fault at the START of a transaction.
const std::pair<const char *, Target::Arming> kFaults[] = {
    {"address refused",
     [](Faults &f, const Counters &c) { f.nakByte = 1, f.nakTransaction = uint32_t(c.transactions + 1); }},
    {"third byte refused",
     [](Faults &f, const Counters &c) { f.nakByte = 3, f.nakTransaction = uint32_t(c.transactions + 1); }},
    {"data stuck low", [](Faults &f, const Counters &) { f.stuckDataClocks = 12; }},
    {"clock held 15 ms", [](Faults &f, const Counters &) { f.holdClockMs = 15; }},
    {"clock held 3 ms", [](Faults &f, const Counters &) { f.holdClockMs = 3; }},
    {"a write fails", [](Faults &f, const Counters &c) { f.writeFail.nth = c.registerWrites + 40; }},
    {"a read fails", [](Faults &f, const Counters &c) { f.readFail.nth = c.registerReads + 9; }},
    {"link lost", [](Faults &f, const Counters &c) { f.linkLostAfter = c.registerWrites + c.registerReads + 25; }},
};

class FaultedJob : public LinkTest, public testing::WithParamInterface<JobKind> {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        folder_ = (std::filesystem::path(testing::TempDir()) /
                   ("zel_batch_faults_" + std::to_string(std::random_device{}())))
                      .string();
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        std::filesystem::remove_all(folder_);
        LinkTest::TearDown();
    }

    // The job on a fresh target, the fault armed at its transaction n
    // (0-based; none when null); its result and the memory it leaves.
    std::pair<int, std::vector<uint8_t>> RunJob(const FaultJob &job, bool batched, const Target::Arming *arm,
                                                size_t n) {
        transport().Reset();
        transport().Clock().SetStep(kMicrosPerAccess);
        zelSetBatching(batched ? 1 : 0);
        EXPECT_TRUE(Attach(kConfig, faults::kSizeBits, 0));
        std::copy(job.Before().begin(), job.Before().end(), Target().Memory().begin());
        job.PrepareFiles();
        if (arm != nullptr) {
            Target().ArmAtTransaction(Target().GetCounters().transactions + 1 + n, *arm);
        }
        const uint64_t before = Target().GetCounters().transactions;
        const int result = job.Run();
        transactions_ = Target().GetCounters().transactions - before;
        const std::span<uint8_t> cells = Target().Memory();
        return {result, {cells.begin(), cells.end()}};
    }

    std::string folder_;
    uint64_t transactions_ = 0;
};

TEST_P(FaultedJob, EndsAsAccessByAccess) {
    const FaultJob job(GetParam(), folder_);
    testing::internal::CaptureStdout(); // "WRITE FAIL!" per refused register write
    RunJob(job, false, nullptr, 0);
    const uint64_t positions = transactions_;
    ASSERT_GT(positions, 0u);
    for (const auto &[name, arm] : kFaults) {
        for (size_t k = 0; k < kPositions; ++k) {
            const size_t n = static_cast<size_t>(k * (positions - 1) / (kPositions - 1));
            const auto single = RunJob(job, false, &arm, n);
            const auto batched = RunJob(job, true, &arm, n);
            EXPECT_EQ(batched.first, single.first) << name << " at transaction " << n + 1 << " of " << positions;
            if (batched.first == 1) {
                EXPECT_EQ(batched.second, single.second) << name << " at transaction " << n + 1;
            }
        }
    }
    testing::internal::GetCapturedStdout();
}

INSTANTIATE_TEST_SUITE_P(Jobs, FaultedJob, testing::ValuesIn(faults::kJobKinds),
                         [](const testing::TestParamInfo<JobKind> &info) {
                             std::string name = faults::JobName(info.param);
                             std::erase_if(name,
                                           [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); });
                             return name;
                         });

struct HoldRow {
    const char *name;
    uint32_t holdMs;
    uint16_t count; // what the random read of four bytes gives
};

void PrintTo(const HoldRow &row, std::ostream *out) { *out << row.name; }

class HeldAtAStart : public BusTest, public testing::WithParamInterface<HoldRow> {};

// The device still holds the clock when the next transaction starts: the
// start waits for it up to 10 ms, in a batch as access by access.
TEST_P(HeldAtAStart, IsWaitedForAsAccessByAccess) {
    const HoldRow &row = GetParam();
    const uint8_t stored[4] = {0x11, 0x22, 0x33, 0x44};
    std::copy(std::begin(stored), std::end(stored), Target().Memory().begin() + 0x10);
    for (const bool batched : {false, true}) {
        zelSetBatching(batched ? 1 : 0);
        Target().GetFaults().holdClockMs = row.holdMs;
        ASSERT_TRUE(zel::BusStart()); // the hold begins at the fall after this start
        const uint8_t address = 0x10;
        uint8_t read[4] = {};
        EXPECT_EQ(zel::BusTransfer(0xA0, &address, 1, true, read, 4), row.count)
            << (batched ? "batched" : "alone");
        if (row.count != 0) {
            EXPECT_TRUE(std::equal(std::begin(read), std::end(read), std::begin(stored)));
        }
        transport().AdvanceClock(50'000);
        zel::BusRecover();
    }
}

INSTANTIATE_TEST_SUITE_P(Table, HeldAtAStart,
                         testing::Values(HoldRow{"FiveMsAreWaitedFor", 5, 7},
                                         HoldRow{"FifteenMsFailTheRead", 15, 0}),
                         [](const testing::TestParamInfo<HoldRow> &info) { return std::string(info.param.name); });

// The library sees the acknowledge of the second data byte of a write
// refused while the device took it (the samples are scripted, the device
// gets every edge). A stop now would start a write cycle on a transaction
// that went wrong: batched, the stop does not go out, a recovery starts.
TEST_F(BusTest, RefusedAcknowledgeMidBatchStartsNoWriteCycle) {
    constexpr uint16_t kHigh = 0xFFFF, kAcknowledged = 0xFF7F; // data line 7 low
    ASSERT_EQ(zelSetBatching(1), 1);
    zel::SetWriteProtect(false);
    // start: two data and two clock samples; each byte: two clock samples, the acknowledge
    std::vector<uint16_t> reads(4, kHigh);
    for (const uint16_t ack : {kAcknowledged, kAcknowledged, kAcknowledged, kHigh}) {
        reads.insert(reads.end(), {kHigh, kHigh, ack});
    }
    transport().QueueReads(reads);
    const uint8_t bytes[3] = {0x10, 0x5A, 0xA5};
    EXPECT_EQ(zel::BusTransfer(0xA0, bytes, 3, true, nullptr, 0), 3);
    transport().AdvanceClock(50'000);
    EXPECT_EQ(Target().GetCounters().writeCycles, 0u);
    EXPECT_EQ(Target().Memory()[0x10], 0xFF);
}

} // namespace
} // namespace zeltest
