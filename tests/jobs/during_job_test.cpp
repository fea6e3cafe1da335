// Host calls made while a job runs: from another thread during a background
// job, and from the job's own callbacks (background and blocking). A call
// that changes the link or the lines ends the job with result 0 before the
// job sends anything more; a call that is refused leaves the job to finish.
#include <gtest/gtest.h>

#include "jobs/job_fixture.h"

namespace zeltest {
namespace {

constexpr uint32_t kBytes = 256; // 24C02
constexpr uint8_t kFill = 0x5A;

enum class From { OtherThread, BackgroundCallback, BlockingCallback };

struct DuringCase {
    const char *name;
    int (*call)();
    int returned;
    bool endsJob; // the job ends at once with result 0; else it finishes with 1
};

const DuringCase kLinkCalls[] = {
    {"OpenOtherPart", [] { return zelInitTrans("SIMPART=24C32 SIMTWR=0", 0, 12, 0); }, 1, true},
    {"InitTransport", [] { return zelInit(2, -1, 0, 12, 0); }, 1, true},
    {"Close", [] { return zelClose(); }, 1, true},
    {"MoveLines", [] { return zelSetPioLines(2, 4, 5); }, 1, true},
    {"KeepLines", [] { return zelSetPioLines(6, 7, -1); }, 1, false},
    {"SetPageWrite", [] { return zelSetPageWrite(8); }, 0, false},
    {"WriteHeader", [] { return zelWriteHeader(); }, 0, false},
    {"ReadHeader", [] { return static_cast<int>(zelReadHeader()); }, 0, false},
    {"CheckSize", [] { return zelCheckSize(); }, 0, false},
};

struct DuringJobCase {
    DuringCase call;
    From from;
};

void PrintTo(const DuringJobCase &c, std::ostream *os) { *os << c.call.name; }

std::vector<DuringJobCase> AllCases() {
    std::vector<DuringJobCase> cases;
    for (const From from : {From::OtherThread, From::BackgroundCallback, From::BlockingCallback}) {
        for (const DuringCase &call : kLinkCalls) {
            cases.push_back({call, from});
        }
    }
    return cases;
}

std::string CaseName(const testing::TestParamInfo<DuringJobCase> &info) {
    static const char *const kFrom[] = {"FromOtherThread", "FromBackgroundCallback", "FromBlockingCallback"};
    return std::string(info.param.call.name) + kFrom[static_cast<int>(info.param.from)];
}

class DuringJob : public JobTest, public testing::WithParamInterface<DuringJobCase> {
protected:
    void SetUp() override {
        JobTest::SetUp();
        ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));
        data_.assign(kBytes, kFill);
    }

    std::vector<uint8_t> data_;
};

// A write of the whole EEPROM with verify; the call comes at 10 % of its
// writes. Afterwards: what the call returned, the job's result, and whether
// the job sent anything once the call had returned.
TEST_P(DuringJob, EndsTheJobOrLeavesItWhole) {
    const DuringJobCase &c = GetParam();
    const bool blocking = c.from == From::BlockingCallback;
    const std::thread::id caller = std::this_thread::get_id();
    Signal midway, go;
    bool armed = false, called = false;
    int returned = -1;
    size_t accessesAfterCall = 0;
    handler_.hook = [&](const HandlerEvent &event) {
        if (event.kind == HandlerEvent::Kind::State) {
            armed = event.text == "Writing...";
        }
        if (!armed || called || event.kind != HandlerEvent::Kind::Progress || event.value < 10) {
            return;
        }
        called = true;
        if (c.from == From::OtherThread) {
            midway.Set();
            go.Wait();
            return;
        }
        returned = c.call.call();
        accessesAfterCall = transport().Registers().size();
    };

    const int started = zelWriteMemory(0, data_.data(), kBytes, blocking ? 1 : 0, 1);
    if (c.from == From::OtherThread) {
        midway.Wait();
        go.Set();
        returned = c.call.call();
        accessesAfterCall = transport().Registers().size();
        if (c.call.endsJob) {
            EXPECT_EQ(zelIsBusy(), 0) << "the call returned before the job had ended";
        }
    }
    if (!blocking) {
        ASSERT_EQ(started, 1);
        handler_.WaitForWorkerResult(caller);
        WaitUntilIdle();
    }

    EXPECT_EQ(returned, c.call.returned);
    EXPECT_EQ(zelGetResult(), c.call.endsJob ? 0 : 1);
    if (blocking) {
        EXPECT_EQ(started, zelGetResult());
    }
    if (c.call.endsJob) {
        EXPECT_EQ(transport().Registers().size(), accessesAfterCall) << "the job went on";
    } else {
        EXPECT_EQ(Memory(), data_);
        int sizeBits = 0;
        EXPECT_EQ(zelGetGeometry(&sizeBits, nullptr, nullptr), 1);
        EXPECT_EQ(sizeBits, 8);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCall, DuringJob, testing::ValuesIn(AllCases()), CaseName);

} // namespace
} // namespace zeltest
