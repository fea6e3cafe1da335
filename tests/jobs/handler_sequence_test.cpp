// The callbacks of every job, blocking and in the background: state texts,
// progress runs, results, the thread of each callback and the busy state
// seen inside it.
#include <gtest/gtest.h>

#include "jobs/job_fixture.h"

namespace zeltest {
namespace {

enum class Job { Program, Verify, Dump, Clear };

struct SequenceCase {
    const char *name;
    Job job;
    bool verify;
    const char *sequence; // the body's callbacks, without the OnResult(0) of a background start
};

const SequenceCase kSequences[] = {
    {"Program", Job::Program, false, "state:Writing... progress result:1"},
    {"ProgramVerify", Job::Program, true, "state:Writing... progress state:Verifying... progress result:1"},
    {"Verify", Job::Verify, false, "state:Reading... progress result:1"},
    {"Dump", Job::Dump, false, "state:Reading... progress result:1"},
    {"DumpVerify", Job::Dump, true, "state:Reading... progress state:Verifying... progress result:1"},
    {"Clear", Job::Clear, false, "state:Clearing... progress result:1"},
    {"ClearVerify", Job::Clear, true, "state:Clearing... progress state:Verifying... progress result:1"},
};

struct ModeCase {
    SequenceCase job;
    bool blocking;
};

void PrintTo(const ModeCase &c, std::ostream *os) {
    *os << c.job.name << (c.blocking ? " blocking" : " background");
}

std::vector<ModeCase> AllModes() {
    std::vector<ModeCase> cases;
    for (const SequenceCase &job : kSequences) {
        cases.push_back({job, true});
        cases.push_back({job, false});
    }
    return cases;
}

class HandlerSequence : public JobTest, public testing::WithParamInterface<ModeCase> {
protected:
    int Start(const ModeCase &mode) {
        const auto blocking = static_cast<uint8_t>(mode.blocking);
        const auto verify = static_cast<uint8_t>(mode.job.verify);
        switch (mode.job.job) {
        case Job::Program:
            return zelProgram(image_.c_str(), blocking, verify);
        case Job::Verify:
            return zelVerify(image_.c_str(), blocking);
        case Job::Dump:
            return zelDump(TempPath("dump.txt").c_str(), blocking, verify);
        case Job::Clear:
            return zelClear(0xFF, blocking, verify);
        }
        return -1;
    }

    std::string image_;
};

TEST_P(HandlerSequence, CallbacksComeInOrderOnTheJobsThread) {
    const ModeCase &mode = GetParam();
    ASSERT_TRUE(Attach("SIMPART=24C02 SIMTWR=0", 8, 0));
    // the erased EEPROM already holds this image, so every job succeeds
    image_ = TempPath("erased.txt");
    WriteImageFile(image_, std::vector<uint16_t>(128, 0xFFFF));
    const std::thread::id caller = std::this_thread::get_id();

    const int returned = Start(mode);

    std::vector<HandlerEvent> events;
    if (mode.blocking) {
        EXPECT_EQ(returned, 1);
        events = handler_.Events();
    } else {
        EXPECT_EQ(returned, 1);
        EXPECT_EQ(handler_.WaitForWorkerResult(caller), 1);
        WaitUntilIdle();
        events = handler_.Events();
        ASSERT_FALSE(events.empty());
        // the start's OnResult(0) comes on the calling thread before the export returns
        EXPECT_EQ(events.front().kind, HandlerEvent::Kind::Result);
        EXPECT_EQ(events.front().value, 0);
        EXPECT_EQ(events.front().thread, caller);
        events.erase(events.begin());
    }
    EXPECT_EQ(Summarize(events), mode.job.sequence);
    EXPECT_TRUE(ProgressRunsComplete(events));
    for (const HandlerEvent &event : events) {
        EXPECT_EQ(event.thread == caller, mode.blocking) << Summarize({event});
        EXPECT_EQ(event.busy, mode.blocking ? 0 : 1) << Summarize({event});
    }
    EXPECT_EQ(zelGetResult(), 1);
    EXPECT_EQ(zelGetProgress(), 100);
    EXPECT_EQ(zelIsBusy(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryJob, HandlerSequence, testing::ValuesIn(AllModes()),
                         [](const testing::TestParamInfo<ModeCase> &info) {
                             return std::string(info.param.job.name) +
                                    (info.param.blocking ? "Blocking" : "Background");
                         });

} // namespace
} // namespace zeltest
