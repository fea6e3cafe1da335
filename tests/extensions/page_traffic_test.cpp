// The bus traffic of page writes, through the public header on the test
// transport: the run from the first to the last differing byte of a page in
// one transaction, never across a page boundary, register accesses as the
// table of bus operation costs gives them, the write-protect line low around
// each write; and a stop in the middle of a page-mode program.
#include <gmock/gmock.h>

#include "jobs/job_fixture.h"
#include "support/test_transport.h"

namespace zeltest {
namespace {

// Transport accesses of each bus operation (writes, reads) on a free bus.
struct Cost {
    size_t writes, reads;
    Cost operator+(Cost o) const { return {writes + o.writes, reads + o.reads}; }
    Cost operator*(size_t n) const { return {writes * n, reads * n}; }
    bool operator==(const Cost &) const = default;
};
constexpr Cost kRelease{4, 0};
constexpr Cost kStart{6, 4};
constexpr Cost kStop{5, 6};
constexpr Cost kWriteByte{27, 3};
constexpr Cost kReadByte{17, 8};
constexpr Cost kAck{3, 2};
constexpr Cost kNoAck{3, 4};
constexpr Cost kWriteProtect{2, 0};
constexpr size_t kAddressBytes = 2; // 24C32

void PrintTo(const Cost &c, std::ostream *os) { *os << c.writes << " writes, " << c.reads << " reads"; }

Cost RandomRead(size_t n) {
    return kRelease + kStart + kWriteByte * (1 + kAddressBytes) + kStart + kWriteByte + kReadByte * n +
           kAck * (n - 1) + kNoAck + kStop;
}

// Write-protect low, S W address-bytes n-bytes P, one acknowledged poll S W P, write-protect high.
Cost PageWrite(size_t n) {
    const Cost write = kRelease + kStart + kWriteByte * (1 + kAddressBytes + n) + kStop;
    const Cost poll = kRelease + kStart + kWriteByte + kStop;
    return kWriteProtect + write + poll + kWriteProtect;
}

struct TrafficCase {
    const char *name;
    uint32_t address;
    std::vector<uint8_t> before; // the cells from `address` on
    std::vector<uint8_t> data;
    const char *bus;
    std::vector<size_t> reads;  // bytes of each random read
    std::vector<size_t> writes; // bytes of each page write
};

void PrintTo(const TrafficCase &c, std::ostream *os) { PrintCase(c, os); }

const TrafficCase kTraffic[] = {
    {"OnePageWrite",
     0x120,
     {0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
     {0x11, 0x22, 0x33, 0x44, 0x55},
     "S a0+ 01+ 20+ S a1+ ff+ ff+ ff+ ff+ ff- P S a0+ 01+ 20+ 11+ 22+ 33+ 44+ 55+ P S a0+ P",
     {5},
     {5}},
    {"RunFromFirstToLastDifferingByte",
     0x120,
     {0x11, 0x00, 0x33, 0x00, 0x55},
     {0x11, 0x22, 0x33, 0x44, 0x55},
     "S a0+ 01+ 20+ S a1+ 11+ 00+ 33+ 00+ 55- P S a0+ 01+ 21+ 22+ 33+ 44+ P S a0+ P",
     {5},
     {3}},
    {"CutAtThePageBoundary",
     0x11E,
     {0xFF, 0xFF, 0xFF, 0xFF},
     {0x11, 0x22, 0x33, 0x44},
     "S a0+ 01+ 1e+ S a1+ ff+ ff+ ff+ ff- P S a0+ 01+ 1e+ 11+ 22+ P S a0+ P S a0+ 01+ 20+ 33+ 44+ P S a0+ P",
     {4},
     {2, 2}},
    {"NothingDiffersNothingIsWritten",
     0x120,
     {0x11, 0x22},
     {0x11, 0x22},
     "S a0+ 01+ 20+ S a1+ 11+ 22- P",
     {2},
     {}},
};

class PageTraffic : public JobTest, public testing::WithParamInterface<TrafficCase> {};

TEST_P(PageTraffic, MatchesTheCostTable) {
    const TrafficCase &c = GetParam();
    ASSERT_TRUE(Attach("SIMPART=24C32 SIMTWR=0", 12, 0));
    for (size_t k = 0; k < c.before.size(); ++k) {
        Target().Memory()[c.address + k] = c.before[k];
    }
    ASSERT_EQ(zelSetPageWrite(32), 1);
    transport().ClearLog();

    ASSERT_EQ(zelWriteMemory(c.address, c.data.data(), static_cast<uint32_t>(c.data.size()), 1, 0), 1);

    EXPECT_EQ(BusText(), c.bus);
    Cost expected{0, 0};
    for (size_t n : c.reads) {
        expected = expected + RandomRead(n);
    }
    for (size_t n : c.writes) {
        expected = expected + PageWrite(n);
    }
    EXPECT_EQ((Cost{transport().WriteCount(), transport().ReadCount()}), expected);
}

INSTANTIATE_TEST_SUITE_P(WriteMemory, PageTraffic, testing::ValuesIn(kTraffic),
                         [](const testing::TestParamInfo<TrafficCase> &info) {
                             return std::string(info.param.name);
                         });

class PageWriteJob : public JobTest {};

// The write-protect line (line 8) is low from before each write's start to
// its stop in the page-write and range paths, and high again before the
// acknowledge polling; the original byte writes keep it low through the
// acknowledged poll. It is high around every read.
TEST_F(PageWriteJob, WriteProtectIsLowAroundEachWriteOnly) {
    struct Row {
        const char *name;
        int pageBytes;
        int (*job)();
        size_t writes;
        const char *afterStop; // what the bus shows after the write's stop while the line is low
    };
    static const std::vector<uint8_t> data(40, 0x00); // 0x110..0x138: two page writes
    const Row rows[] = {
        {"page writes of a range", 32, [] { return zelWriteMemory(0x110, data.data(), 40, 1, 1); }, 2, ""},
        {"byte writes of a range", 0, [] { return zelWriteMemory(0x110, data.data(), 2, 1, 1); }, 2, ""},
        {"byte writes of a clear", 0, [] { return zelClear(0x00, 1, 0); }, 3, " S a0+ P"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(Attach("SIMPART=24C32 SIMTWR=0", 12, 0));
        Target().Fill(0x00);
        Target().Memory()[0x110] = 0xFF;
        Target().Memory()[0x111] = 0xFF;
        Target().Memory()[0x130] = 0xFF;
        ASSERT_EQ(zelSetPageWrite(row.pageBytes), 1);
        transport().ClearLog();
        ASSERT_EQ(row.job(), 1);

        // the bus text between each lowering of the line and its raising
        std::vector<std::string> whileLow;
        std::vector<RegisterAccess> span;
        bool low = false;
        for (const RegisterAccess &access : transport().Registers()) {
            if (access.kind == AccessKind::Write && access.address == 0x0062) {
                const bool nowLow = (access.value & (1u << 8)) == 0;
                if (low && !nowLow) {
                    whileLow.push_back(zeltest::BusText(span));
                    span.clear();
                }
                low = nowLow;
            }
            if (low) {
                span.push_back(access);
            }
        }
        EXPECT_EQ(whileLow.size(), row.writes);
        for (const std::string &text : whileLow) {
            EXPECT_THAT(text, testing::StartsWith("S a0+ 01+ "));
            EXPECT_THAT(text, testing::EndsWith(std::string("+ P") + row.afterStop));
            EXPECT_EQ(text.find("S", 1), row.afterStop[0] == 0 ? std::string::npos : text.size() - 7);
            EXPECT_EQ(text.find("a1"), std::string::npos) << "a read while the line was low";
        }
    }
}

// A background page-mode program on a 24C32 with 1 ms write cycles, stopped
// part-way: it ends with result 0 and every byte holds its old or its new
// value; the next program finishes the job.
TEST_F(PageWriteJob, StopDuringPageModeProgramLeavesEveryByteOldOrNew) {
    ASSERT_TRUE(Attach("SIMPART=24C32 SIMTWR=1", 12, 0));
    constexpr size_t kBytes = 4096;
    std::vector<uint8_t> old(kBytes), image(kBytes);
    for (size_t k = 0; k < kBytes; ++k) {
        old[k] = static_cast<uint8_t>(k * 13 + 1);
        image[k] = static_cast<uint8_t>(~old[k]);
    }
    SetMemory(old);
    const std::string path = TempPath("image.txt");
    WriteImageFile(path, WordsOf(image));
    ASSERT_EQ(zelSetPageWrite(32), 1);
    Signal midway;
    bool signalled = false;
    handler_.hook = [&](const HandlerEvent &event) {
        if (event.kind == HandlerEvent::Kind::Progress) {
            transport().ClearLog();
            if (!signalled && event.value >= 40) {
                signalled = true;
                midway.Set();
            }
        }
    };
    const std::thread::id caller = std::this_thread::get_id();
    ASSERT_EQ(zelProgram(path.c_str(), 0, 1), 1);
    midway.Wait();
    EXPECT_EQ(zelStop(), 1);
    WaitUntilIdle();
    handler_.hook = nullptr;

    EXPECT_EQ(zelGetResult(), 0);
    const std::vector<uint8_t> memory = Memory();
    size_t changed = 0;
    for (size_t k = 0; k < kBytes; ++k) {
        ASSERT_TRUE(memory[k] == old[k] || memory[k] == image[k]) << "byte " << k;
        changed += memory[k] == image[k] ? 1 : 0;
    }
    EXPECT_GT(changed, 0u);
    EXPECT_LT(changed, kBytes);
    EXPECT_EQ(changed % 32, 0u) << "a page written in part";
    const std::vector<HandlerEvent> events = handler_.Events();
    EXPECT_NE(std::find_if(events.begin(), events.end(),
                           [&](const HandlerEvent &e) {
                               return e.kind == HandlerEvent::Kind::Result && e.thread != caller && e.value == 0;
                           }),
              events.end());

    EXPECT_EQ(zelProgram(path.c_str(), 1, 1), 1);
    EXPECT_EQ(Memory(), image);
}

} // namespace
} // namespace zeltest
