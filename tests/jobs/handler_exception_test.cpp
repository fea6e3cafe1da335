// A handler callback that throws: the exception crosses no export and kills
// no thread; the job ends with result 0, the lock is free again and the
// next job runs.
#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

#include "jobs/job_fixture.h"

namespace zeltest {
namespace {

struct ThrowCase {
    const char *name;
    HandlerEvent::Kind throwAt;
    int throwAtValue;    // for progress and result: the value that throws
    bool blocking;
    bool mismatch;       // verify against a file that differs in one word
    int returned;
};

void PrintTo(const ThrowCase &c, std::ostream *os) { PrintCase(c, os); }

const ThrowCase kThrows[] = {
    {"ProgressBlocking", HandlerEvent::Kind::Progress, 0, true, false, 0},
    {"ProgressBackground", HandlerEvent::Kind::Progress, 0, false, false, 1},
    {"StateBlocking", HandlerEvent::Kind::State, 0, true, false, 0},
    {"StateBackground", HandlerEvent::Kind::State, 0, false, false, 1},
    {"MessageBlocking", HandlerEvent::Kind::Message, 0, true, true, 0},
    {"MessageBackground", HandlerEvent::Kind::Message, 0, false, true, 1},
    {"FinalResultBlocking", HandlerEvent::Kind::Result, 1, true, false, 0},
    {"FinalResultBackground", HandlerEvent::Kind::Result, 1, false, false, 1},
    // the OnResult(0) of a background start, on the calling thread: no thread starts
    {"StartResultBackground", HandlerEvent::Kind::Result, 0, false, false, 0},
};

class ThrowingHandler : public JobTest, public testing::WithParamInterface<ThrowCase> {};

TEST_P(ThrowingHandler, JobEndsWithResultZeroAndTheNextJobRuns) {
    const ThrowCase &c = GetParam();
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));
    const std::string matching = TempPath("matching.txt");
    WriteImageFile(matching, std::vector<uint16_t>(128, 0xFFFF));
    const std::string differing = TempPath("differing.txt");
    WriteImageFile(differing, std::vector<uint16_t>(1, 0x0000));
    bool thrown = false;
    handler_.hook = [&](const HandlerEvent &event) {
        const bool valueMatches = event.kind == HandlerEvent::Kind::State ||
                                  event.kind == HandlerEvent::Kind::Message ||
                                  event.value == c.throwAtValue;
        if (!thrown && event.kind == c.throwAt && valueMatches) {
            thrown = true;
            throw std::runtime_error("handler failure");
        }
    };
    const std::thread::id caller = std::this_thread::get_id();

    EXPECT_EQ(zelVerify((c.mismatch ? differing : matching).c_str(), c.blocking), c.returned);
    if (!c.blocking && c.returned == 1) {
        handler_.WaitForWorkerResult(caller);
    }
    WaitUntilIdle();

    EXPECT_TRUE(thrown);
    EXPECT_EQ(zelGetResult(), 0);
    // the lock is free: another thread can read the status
    EXPECT_EQ(std::async(std::launch::async, zelGetResult).get(), 0);
    handler_.hook = nullptr;
    EXPECT_EQ(zelVerify(matching.c_str(), 1), 1);
    EXPECT_EQ(zelGetResult(), 1);
}

INSTANTIATE_TEST_SUITE_P(EveryCallback, ThrowingHandler, testing::ValuesIn(kThrows),
                         [](const testing::TestParamInfo<ThrowCase> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace zeltest
