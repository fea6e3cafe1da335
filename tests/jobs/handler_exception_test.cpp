// A handler callback that throws: the exception crosses no export and kills
// no thread; the job goes on and keeps the result it reached, OnResult comes
// once per job end, the lock is free again and the next job runs.
#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

#include "jobs/job_fixture.h"

namespace zeltest {
namespace {

struct ThrowCase {
    const char *name;
    HandlerEvent::Kind throwAt;
    int throwAtValue; // for progress and result: the value that throws
    bool blocking;
    bool mismatch; // verify against a file that differs in one word
};

void PrintTo(const ThrowCase &c, std::ostream *os) { PrintCase(c, os); }

const ThrowCase kThrows[] = {
    {"ProgressBlocking", HandlerEvent::Kind::Progress, 0, true, false},
    {"ProgressBackground", HandlerEvent::Kind::Progress, 0, false, false},
    {"StateBlocking", HandlerEvent::Kind::State, 0, true, false},
    {"StateBackground", HandlerEvent::Kind::State, 0, false, false},
    {"MessageBlocking", HandlerEvent::Kind::Message, 0, true, true},
    {"MessageBackground", HandlerEvent::Kind::Message, 0, false, true},
    {"FinalResultBlocking", HandlerEvent::Kind::Result, 1, true, false},
    {"FinalResultBackground", HandlerEvent::Kind::Result, 1, false, false},
    // the OnResult(0) of a background start, on the calling thread
    {"StartResultBackground", HandlerEvent::Kind::Result, 0, false, false},
};

class ThrowingHandler : public JobTest, public testing::WithParamInterface<ThrowCase> {};

TEST_P(ThrowingHandler, JobKeepsItsResultAndTheNextJobRuns) {
    const ThrowCase &c = GetParam();
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));
    const std::string matching = TempPath("matching.txt");
    WriteImageFile(matching, std::vector<uint16_t>(128, 0xFFFF));
    const std::string differing = TempPath("differing.txt");
    WriteImageFile(differing, std::vector<uint16_t>(1, 0x0000));
    bool thrown = false;
    handler_.hook = [&](const HandlerEvent &event) {
        const bool valueMatches = event.kind == HandlerEvent::Kind::State ||
                                  event.kind == HandlerEvent::Kind::Message || event.value == c.throwAtValue;
        if (!thrown && event.kind == c.throwAt && valueMatches) {
            thrown = true;
            throw std::runtime_error("handler failure");
        }
    };
    const std::thread::id caller = std::this_thread::get_id();

    const int jobResult = c.mismatch ? 0 : 1;
    const int returned = zelVerify((c.mismatch ? differing : matching).c_str(), c.blocking);
    EXPECT_EQ(returned, c.blocking ? jobResult : 1);
    if (!c.blocking) {
        EXPECT_EQ(handler_.WaitForWorkerResult(caller), jobResult);
    }
    WaitUntilIdle();

    EXPECT_TRUE(thrown);
    EXPECT_EQ(zelGetResult(), jobResult);
    int results = 0;
    for (const HandlerEvent &event : handler_.Events()) {
        results += event.kind == HandlerEvent::Kind::Result ? 1 : 0;
    }
    EXPECT_EQ(results, c.blocking ? 1 : 2) << "the start's OnResult(0), then one per job end";
    // the lock is free: another thread can read the status
    EXPECT_EQ(std::async(std::launch::async, zelGetResult).get(), jobResult);
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
